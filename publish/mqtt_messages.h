#pragma once

#include "publish/mqtt_config.h"
#include "sampling/reading_observer.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace qm {

// The payloads. A value in the log's number form ("." as the point, INF);
// one reading as JSON: {"alarms": [...], "labels": [...], "time": local time
// to the millisecond with its offset, "values": [...] (INF as a string, JSON
// has no infinity)}.
QByteArray valuePayload(float value);
QByteArray readingJson(const Reading& r);

// Home Assistant discovery: the retained config topic of channel i's sensor
// or alarm sensor, and its payload; the sensor is called `name` (the alarm
// sensor "<name> alarm") and reads the retained V0n or V0n/alarm. Without a
// name an empty payload, which removes the sensor.
struct Discovery {
    QByteArray topic, payload;
};
struct DiscoveryDevice {
    QString name, version;
};
Discovery discovery(const MqttConfig& c, const DiscoveryDevice& device, int channel,
                    const std::optional<QString>& name, bool alarm);

// A publish the broker refused (an MQTT 5 reason code of 0x80 or more), in
// words: "not authorised: farm/shed/pump2/reading".
QString refusal(int reasonCode, const QByteArray& topic);

} // namespace qm
