#pragma once

#include "sampling/reading_observer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <utility>

namespace qm {

// The publishing of a program directory, from its mqtt.conf.
struct MqttConfig {
    QString host;
    int port = 1883;
    bool tls = false;
    QByteArray caFile, certFile, keyFile; // paths, as bytes
    QString username, password, clientId, prefix;
    QString nodeId; // names this instance to Home Assistant
    QString discoveryPrefix = QStringLiteral("homeassistant");
    int qos = 1;
    bool homeAssistant = false;
    int expireAfter = 0;          // s; 0: the sensors never expire
    int maxQueued = 100'000;      // readings waiting for the broker, at most
    std::array<QString, 9> units; // [channel1]..[channel8] unit, elements 1..8
    QStringList unknownKeys;      // reported, not used
};

// What an instance is, for the defaults: the default client id is unique per
// instance (the machine, the program's folder and name, hashed), so that two
// same-named instances in different folders neither share sensors and topics
// nor take each other's place on the broker. The node id and the prefix
// follow from it.
struct MqttInstance {
    QByteArray machineId; // stable across a rename of the host
    QString hostName;
    QByteArray programDir, programName;
};
QString defaultClientId(const MqttInstance& instance);

// Nothing (and no error) when there is no file; an error naming the key (or
// the line, or the limit of 1 MiB) when the file cannot be used: nothing is
// published then. Values are taken as written, commas included; a ';' or '#'
// after a blank starts a comment, after a section header too. A key given
// twice is an error.
struct MqttSetup {
    std::optional<MqttConfig> config;
    QString error;
};
MqttSetup readMqttConfig(const QByteArray& path, const MqttInstance& instance);

} // namespace qm
