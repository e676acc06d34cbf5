#include "publish/mqtt_messages.h"

#include "base/numbers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>
#include <map>

namespace qm {

namespace {

// Home Assistant's device class for the common units.
QString deviceClass(const QString& unit)
{
    static const std::map<QString, QString> classes = {
        {"°C", "temperature"}, {"°F", "temperature"}, {"K", "temperature"}, {"V", "voltage"},
        {"mV", "voltage"},     {"A", "current"},      {"mA", "current"},    {"W", "power"},
        {"kW", "power"},       {"Hz", "frequency"},   {"Pa", "pressure"},   {"hPa", "pressure"},
        {"kPa", "pressure"},   {"bar", "pressure"},   {"mbar", "pressure"}, {"psi", "pressure"}};
    const auto it = classes.find(unit);
    return it == classes.end() ? QString() : it->second;
}

} // namespace

QByteArray valuePayload(float value)
{
    return QByteArray::fromStdString(invariantForm(value));
}

QByteArray readingJson(const Reading& r)
{
    QJsonArray values, alarms, labels;
    for (int i = 1; i <= kChannels; ++i) {
        const float v = r.values[i];
        const std::string text = invariantForm(v); // the shortest form that reads back
        // Every form reads back but "NAN", which stays not a number.
        const double d = readNumber(text, -HUGE_VAL, HUGE_VAL)
                             .value_or(std::numeric_limits<double>::quiet_NaN());
        values.append(std::isinf(v) ? QJsonValue(QString::fromStdString(text)) : QJsonValue(d));
        alarms.append(r.alarms[i]);
        labels.append(QString::fromLatin1(r.labels[i]));
    }
    const QJsonObject o{
        {"time", r.time.toOffsetFromUtc(r.time.offsetFromUtc()).toString(Qt::ISODateWithMs)},
        {"values", values},
        {"alarms", alarms},
        {"labels", labels}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

Discovery discovery(const MqttConfig& c, const DiscoveryDevice& device, int channel,
                    const std::optional<QString>& name, bool alarm)
{
    const QString ch = QStringLiteral("V0%1").arg(channel);
    const QString object = ch + (alarm ? QStringLiteral("_alarm") : QString());
    Discovery out;
    out.topic = (c.discoveryPrefix + (alarm ? "/binary_sensor/" : "/sensor/") + c.nodeId + '/' +
                 object + QStringLiteral("/config"))
                    .toUtf8();
    if (!name)
        return out; // removed
    // Available while the program runs and the device answers.
    const QJsonArray availability{
        QJsonObject{{"topic", c.prefix + QStringLiteral("/status")}},
        QJsonObject{{"topic", c.prefix + QStringLiteral("/device")},
                    {"value_template", "{{ 'online' if value == 'connected' else 'offline' }}"}}};
    // The state topics are retained: a restarted Home Assistant has the
    // values at once.
    QJsonObject o{{"name", alarm ? *name + QStringLiteral(" alarm") : *name},
                  {"unique_id", c.nodeId + QLatin1Char('_') + object},
                  {"state_topic", c.prefix + QLatin1Char('/') + ch + (alarm ? "/alarm" : "")},
                  {"availability", availability},
                  {"availability_mode", "all"},
                  {"device", QJsonObject{{"identifiers", QJsonArray{c.nodeId}},
                                         {"name", device.name},
                                         {"manufacturer", "Quellmark"},
                                         {"model", "Measuring device monitor"},
                                         {"sw_version", device.version}}},
                  {"origin", QJsonObject{{"name", "Quellmark"}, {"sw_version", device.version}}}};
    if (alarm) {
        o.insert("payload_on", "1");
        o.insert("payload_off", "0");
        o.insert("device_class", "problem");
        return {out.topic, QJsonDocument(o).toJson(QJsonDocument::Compact)};
    }
    // A value beyond the scaling ("INF") is unknown, not a broken number.
    o.insert("value_template", "{{ None if value in ('INF', '-INF') else value }}");
    o.insert("state_class", "measurement");
    if (const QString& unit = c.units[std::size_t(channel)]; !unit.isEmpty()) {
        o.insert("unit_of_measurement", unit);
        if (const QString dc = deviceClass(unit); !dc.isEmpty())
            o.insert("device_class", dc);
    }
    if (c.expireAfter > 0)
        o.insert("expire_after", c.expireAfter);
    return {out.topic, QJsonDocument(o).toJson(QJsonDocument::Compact)};
}

QString refusal(int reasonCode, const QByteArray& topic)
{
    // The reasons a PUBACK or PUBREC may give.
    static const std::map<int, const char*> reasons = {
        {0x80, "unspecified error"},        {0x83, "implementation specific error"},
        {0x87, "not authorised"},           {0x90, "topic name invalid"},
        {0x91, "packet identifier in use"}, {0x97, "quota exceeded"},
        {0x99, "payload format invalid"}};
    const auto it = reasons.find(reasonCode);
    return (it != reasons.end() ? QString::fromLatin1(it->second)
                                : QStringLiteral("reason code %1").arg(reasonCode)) +
           QStringLiteral(": ") + QString::fromUtf8(topic);
}

} // namespace qm
