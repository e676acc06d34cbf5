#include "publish/mqtt_config.h"

#include "app/files.h"
#include "app/numbers.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <charconv>
#include <cmath>
#include <sys/stat.h>

namespace qm {

namespace {

bool readBool(const QSettings& s, const QString& key, bool fallback, QString& error)
{
    const QString v = s.value(key).toString().trimmed().toLower();
    if (v.isEmpty() || !s.contains(key))
        return fallback;
    if (v != QLatin1String("true") && v != QLatin1String("false"))
        error = QStringLiteral("mqtt.conf: %1 must be true or false, not \"%2\"").arg(key, v);
    return v == QLatin1String("true");
}

int readInt(const QSettings& s, const QString& key, int fallback, int lo, int hi, QString& error)
{
    if (!s.contains(key))
        return fallback;
    bool ok = false;
    const int v = s.value(key).toString().trimmed().toInt(&ok);
    if (!ok || v < lo || v > hi)
        error = QStringLiteral("mqtt.conf: %1 must be a whole number from %2 to %3, not \"%4\"")
                    .arg(key)
                    .arg(lo)
                    .arg(hi)
                    .arg(s.value(key).toString());
    return v;
}

} // namespace

MqttSetup readMqttConfig(const QString& path, const QString& hostName, const QString& programName)
{
    MqttSetup out;
    if (!QFileInfo(path).isFile())
        return out;
    QSettings s(path, QSettings::IniFormat);
    if (s.status() != QSettings::NoError) {
        out.error = QStringLiteral("mqtt.conf cannot be read");
        return out;
    }
    const QStringList known = {"broker/host",     "broker/port",          "broker/tls",
                               "broker/ca_file",  "broker/cert_file",     "broker/key_file",
                               "broker/username", "broker/password_file", "broker/client_id",
                               "topics/prefix",   "topics/qos",           "topics/homeassistant"};
    MqttConfig c;
    for (const QString& key : s.allKeys())
        if (!known.contains(key))
            c.unknownKeys << key;
    QString& error = out.error;
    const auto text = [&](const char* key) {
        return s.value(QLatin1String(key)).toString().trimmed();
    };
    c.host = text("broker/host");
    if (c.host.isEmpty())
        error = QStringLiteral("mqtt.conf: broker/host is missing");
    c.tls = readBool(s, QStringLiteral("broker/tls"), false, error);
    c.port = readInt(s, QStringLiteral("broker/port"), c.tls ? 8883 : 1883, 1, 65535, error);
    c.qos = readInt(s, QStringLiteral("topics/qos"), 1, 0, 2, error);
    c.homeAssistant = readBool(s, QStringLiteral("topics/homeassistant"), false, error);
    c.caFile = text("broker/ca_file");
    c.certFile = text("broker/cert_file");
    c.keyFile = text("broker/key_file");
    c.username = text("broker/username");
    c.clientId = text("broker/client_id");
    if (c.clientId.isEmpty())
        c.clientId = QStringLiteral("quellmark-") + hostName + QLatin1Char('-') + programName;
    c.prefix = text("topics/prefix");
    if (c.prefix.isEmpty())
        c.prefix = QStringLiteral("quellmark/") + hostName + QLatin1Char('/') + programName;
    for (const char* key : {"broker/ca_file", "broker/cert_file", "broker/key_file"})
        if (!text(key).isEmpty() && !QFileInfo(text(key)).isReadable())
            error = QStringLiteral("mqtt.conf: %1 %2 cannot be read")
                        .arg(QLatin1String(key), text(key));
    if (const QString file = text("broker/password_file"); !file.isEmpty()) {
        // The password only the user may read.
        struct stat st {};
        const std::optional<std::string> bytes = readRegularFile(QFile::encodeName(file), 4096);
        if (!bytes || ::stat(QFile::encodeName(file).constData(), &st) != 0)
            error = QStringLiteral("mqtt.conf: broker/password_file %1 cannot be read").arg(file);
        else if (st.st_mode & 077)
            error = QStringLiteral(
                        "mqtt.conf: broker/password_file %1 may be read by others (chmod 600 it)")
                        .arg(file);
        else
            c.password =
                QString::fromUtf8(QByteArray::fromStdString(*bytes).split('\n').value(0)).trimmed();
    }
    if (error.isEmpty())
        out.config = c;
    return out;
}

QByteArray valuePayload(float value)
{
    return QByteArray::fromStdString(invariantForm(value));
}

QByteArray readingJson(const Reading& r)
{
    QJsonArray values, alarms, labels;
    for (int i = 1; i <= 8; ++i) {
        const float v = r.values[i];
        const std::string text = invariantForm(v); // the shortest form that reads back
        double d = 0;
        std::from_chars(text.data(), text.data() + text.size(), d);
        values.append(std::isinf(v) ? QJsonValue(QString::fromStdString(text)) : QJsonValue(d));
        alarms.append(r.alarms[i]);
        labels.append(QString::fromLatin1(r.labels[i]));
    }
    const QJsonObject o{
        {"time", r.time.toOffsetFromUtc(r.time.offsetFromUtc()).toString(Qt::ISODate)},
        {"values", values},
        {"alarms", alarms},
        {"labels", labels}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::pair<QByteArray, QByteArray> discovery(const MqttConfig& c, const QString& uniqueBase,
                                            int channel, const QString& label, bool alarm)
{
    const QString ch = QStringLiteral("V0%1").arg(channel);
    QString id =
        uniqueBase + QLatin1Char('_') + ch + (alarm ? QStringLiteral("_alarm") : QString());
    for (QChar& q : id)
        if (!q.isLetterOrNumber() || q.unicode() > 127)
            q = QLatin1Char('_');
    QJsonObject o{
        {"name", label.isEmpty() ? ch : label + (alarm ? QStringLiteral(" alarm") : QString())},
        {"unique_id", id},
        {"state_topic",
         c.prefix + QLatin1Char('/') + ch + (alarm ? QStringLiteral("/alarm") : QString())},
        {"availability_topic", c.prefix + QStringLiteral("/status")},
        {"device", QJsonObject{{"identifiers", QJsonArray{uniqueBase}}, {"name", uniqueBase}}}};
    if (alarm) {
        o.insert("payload_on", "1");
        o.insert("payload_off", "0");
        o.insert("device_class", "problem");
    }
    const QString kind = alarm ? QStringLiteral("binary_sensor") : QStringLiteral("sensor");
    return {(QStringLiteral("homeassistant/") + kind + QLatin1Char('/') + id +
             QStringLiteral("/config"))
                .toUtf8(),
            QJsonDocument(o).toJson(QJsonDocument::Compact)};
}

} // namespace qm
