#pragma once

#include "app/types.h"

#include <QByteArray>
#include <QString>

#include <cmath>
#include <vector>

namespace qm {

// What the web page shows of an instance at one moment: the last
// evaluation, the link and the status line as the window has them, and what
// /metrics counts. Built on the event-loop thread, read by the server's.
struct WebState {
    struct Channel {
        int index = 0;
        QString label, text;
        double value = NAN; // NaN: no value
        Rgb colour;
        bool alarm = false;
        double setHi = 0, setLo = 0;
    };
    QString instance, version;
    bool hasTime = false;
    qint64 timeMs = 0;
    QString timeText; // local, "yyyy-MM-dd HH:mm:ss"
    int utcOffsetS = 0;
    QString link = QStringLiteral("not connected"); // "connected", "no response", ...
    QString linkText;
    QString statusText;
    Rgb statusColour;
    int sampleTimeS = 0;
    std::vector<Channel> channels; // those in use, in order
    quint64 readings = 0, readingsLogged = 0;
    // Publishing, when mqtt.conf asks for it.
    bool publishing = false;
    bool publishingConnected = false;
    QString publishingText;
    quint64 publishingDropped = 0;

    bool alarm() const;
};

// /api/state's JSON object, on one line.
QByteArray stateJson(const WebState& s);

// /metrics in the Prometheus text format 0.0.4, every series labelled with
// the instance.
QByteArray metricsText(const WebState& s);

} // namespace qm
