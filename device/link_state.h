#pragma once

#include <QString>

namespace qm {

// What the device link is doing, as the journal and the observers hear it.
struct LinkState {
    enum class Kind {
        Unknown,    // nothing tried yet
        Connected,  // a line came from the device
        NoResponse, // asked on an open port, no answer within the watchdog's time
        PortError,  // the port failed; `error` says how
    };
    Kind kind = Kind::Unknown;
    int error = 0; // the port's error number, for PortError

    static LinkState connected() { return {Kind::Connected, 0}; }
    static LinkState noResponse() { return {Kind::NoResponse, 0}; }
    static LinkState portError(int error) { return {Kind::PortError, error}; }

    // "connected", "no response", "port error <n>"; empty for Unknown.
    QString text() const
    {
        switch (kind) {
        case Kind::Connected:
            return QStringLiteral("connected");
        case Kind::NoResponse:
            return QStringLiteral("no response");
        case Kind::PortError:
            return QStringLiteral("port error ") + QString::number(error);
        case Kind::Unknown:
            break;
        }
        return {};
    }

    friend bool operator==(const LinkState&, const LinkState&) = default;
};

} // namespace qm
