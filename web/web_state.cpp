#include "web/web_state.h"

#include "web/json.h"

namespace qm {

bool WebState::alarm() const
{
    for (const Channel& c : channels)
        if (c.alarm)
            return true;
    return false;
}

namespace {

QByteArray channelJson(const WebState::Channel& c)
{
    return "{\"index\":" + json::number(qint64(c.index)) + ",\"label\":" + json::string(c.label) +
           ",\"value\":" + json::number(c.value) + ",\"text\":" + json::string(c.text) +
           ",\"colour\":" + json::colour(c.colour) + ",\"alarm\":" + json::boolean(c.alarm) +
           ",\"set_hi\":" + json::number(c.setHi) + ",\"set_lo\":" + json::number(c.setLo) + '}';
}

// A label value of the text format: backslash, double quote and line feed
// escaped.
QByteArray labelValue(const QString& text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

// A sample value: NaN, +Inf and -Inf as the format spells them.
QByteArray sampleValue(double v)
{
    if (std::isnan(v))
        return QByteArrayLiteral("NaN");
    if (std::isinf(v))
        return v > 0 ? QByteArrayLiteral("+Inf") : QByteArrayLiteral("-Inf");
    return json::number(v);
}

class Metrics {
public:
    explicit Metrics(const QString& instance)
        : instance_("name=\"" + labelValue(instance) + '"')
    {
    }
    void family(const char* name, const char* type, const char* help)
    {
        out_ += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char* name, double value, const QByteArray& labels = {})
    {
        out_ += QByteArray(name) + '{' + instance_ + labels + "} " + sampleValue(value) + '\n';
    }
    QByteArray text() const { return out_; }

private:
    QByteArray instance_, out_;
};

QByteArray channelLabels(const WebState::Channel& c)
{
    return ",channel=\"" + QByteArray::number(c.index) + "\",label=\"" + labelValue(c.label) + '"';
}

} // namespace

QByteArray stateJson(const WebState& s)
{
    QByteArray out =
        "{\"instance\":" + json::string(s.instance) + ",\"version\":" + json::string(s.version) +
        ",\"time_ms\":" + (s.hasTime ? json::number(s.timeMs) : QByteArrayLiteral("null")) +
        ",\"time_text\":" + json::string(s.timeText) +
        ",\"utc_offset_s\":" + json::number(qint64(s.utcOffsetS)) +
        ",\"link\":{\"state\":" + json::string(s.link) + ",\"text\":" + json::string(s.linkText) +
        "},\"status\":{\"text\":" + json::string(s.statusText) +
        ",\"colour\":" + json::colour(s.statusColour) + "},\"alarm\":" + json::boolean(s.alarm()) +
        ",\"sample_time_s\":" + json::number(qint64(s.sampleTimeS)) + ",\"channels\":[";
    for (std::size_t i = 0; i < s.channels.size(); ++i) {
        if (i > 0)
            out += ',';
        out += channelJson(s.channels[i]);
    }
    return out + "]}";
}

QByteArray metricsText(const WebState& s)
{
    Metrics m(s.instance);
    m.family("quellmark_value", "gauge", "The channel's value as shown (NaN: none yet).");
    for (const WebState::Channel& c : s.channels)
        m.sample("quellmark_value", c.value, channelLabels(c));
    m.family("quellmark_alarm", "gauge", "1 while the channel's alarm lamp is red.");
    for (const WebState::Channel& c : s.channels)
        m.sample("quellmark_alarm", c.alarm ? 1 : 0, channelLabels(c));
    m.family("quellmark_link_up", "gauge", "1 while the device answers.");
    m.sample("quellmark_link_up", s.link == QLatin1String("connected") ? 1 : 0);
    m.family("quellmark_last_reading_seconds", "gauge",
             "When the last reading was taken (seconds since the epoch).");
    m.sample("quellmark_last_reading_seconds", s.hasTime ? double(s.timeMs) / 1000 : NAN);
    m.family("quellmark_readings_total", "counter", "Readings evaluated since the start.");
    m.sample("quellmark_readings_total", double(s.readings));
    m.family("quellmark_readings_logged_total", "counter",
             "Readings written to the log since the start.");
    m.sample("quellmark_readings_logged_total", double(s.readingsLogged));
    if (s.publishing) {
        m.family("quellmark_publishing_connected", "gauge",
                 "1 while the MQTT broker is connected.");
        m.sample("quellmark_publishing_connected", s.publishingConnected ? 1 : 0);
        m.family("quellmark_publishing_dropped_total", "counter",
                 "Readings given up before the broker took them.");
        m.sample("quellmark_publishing_dropped_total", double(s.publishingDropped));
    }
    return m.text();
}

} // namespace qm
