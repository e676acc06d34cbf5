#pragma once

#include <QString>

namespace qm {

// What publishing is doing, as the "MQTT" field and the journal tell it:
// "connecting", "connected", "connected, but <problems>" (a refused topic,
// another instance on the prefix), "not connected: <reason>" or
// "not publishing: <reason>" (mqtt.conf cannot be used).
struct PublishingState {
    enum class Kind { Connecting, Connected, NotConnected, NotPublishing };
    Kind kind = Kind::Connecting;
    QString reason;   // why not connected or not publishing
    QString problems; // what is wrong while connected

    static PublishingState connected() { return {Kind::Connected, {}, {}}; }
    static PublishingState notConnected(const QString& reason)
    {
        return {Kind::NotConnected, reason, {}};
    }
    static PublishingState notPublishing(const QString& reason)
    {
        return {Kind::NotPublishing, reason, {}};
    }

    // Something is wrong: told as a warning, shown orange or red.
    bool troubled() const { return kind >= Kind::NotConnected || !problems.isEmpty(); }

    QString text() const
    {
        switch (kind) {
        case Kind::Connecting:
            return QStringLiteral("connecting");
        case Kind::Connected:
            return problems.isEmpty() ? QStringLiteral("connected")
                                      : QStringLiteral("connected, but ") + problems;
        case Kind::NotConnected:
            return QStringLiteral("not connected: ") + reason;
        case Kind::NotPublishing:
            return QStringLiteral("not publishing: ") + reason;
        }
        return {};
    }

    friend bool operator==(const PublishingState&, const PublishingState&) = default;
};

} // namespace qm
