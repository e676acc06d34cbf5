#pragma once

#include "app/reading_observer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace qm {

// The publishing of a program directory, from its mqtt.conf.
struct MqttConfig {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile, certFile, keyFile, username, password, clientId, prefix;
    int qos = 1;
    bool homeAssistant = false;
    QStringList unknownKeys; // reported, not used
};

// Nothing (and no error) when there is no file; an error naming the key when
// the file cannot be used: nothing is published then.
struct MqttSetup {
    std::optional<MqttConfig> config;
    QString error;
};
MqttSetup readMqttConfig(const QString& path, const QString& hostName, const QString& programName);

// The payloads. A value in the log's number form ("." as the point, INF);
// one reading as JSON: {"time": local time with its offset, "values": [...]
// (INF as a string, JSON has no infinity), "alarms": [...], "labels": [...]}.
QByteArray valuePayload(float value);
QByteArray readingJson(const Reading& r);
// Home Assistant discovery: the topic and config of channel i's sensor or
// alarm sensor.
std::pair<QByteArray, QByteArray> discovery(const MqttConfig& c, const QString& uniqueBase,
                                            int channel, const QString& label, bool alarm);

} // namespace qm
