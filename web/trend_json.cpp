#include "web/trend_json.h"

#include "trend/gaps.h"
#include "trend/plot_data.h"
#include "web/http_types.h"
#include "web/json.h"

#include <QTimeZone>

#include <charconv>

namespace qm {

namespace {

bool wholeNumber(const QByteArray& text, qint64& out)
{
    const auto [end, ec] = std::from_chars(text.constData(), text.constData() + text.size(), out);
    return ec == std::errc() && end == text.constData() + text.size() && !text.isEmpty();
}

QByteArray pairs(const std::vector<std::pair<qint64, qint64>>& list)
{
    QByteArray out = "[";
    for (std::size_t k = 0; k < list.size(); ++k)
        out += (k ? ",[" : "[") + json::number(list[k].first) + ',' + json::number(list[k].second) +
               ']';
    return out + ']';
}

QByteArray channelTrend(const Series& series, const std::vector<bool>& breaks,
                        const WebState::Channel& c, Rgb colour)
{
    const std::vector<Point> line = lineOf(series, c.index, breaks);
    QByteArray t = "[", v = "[";
    std::vector<double> values;
    values.reserve(line.size());
    for (std::size_t k = 0; k < line.size(); ++k) {
        if (k) {
            t += ',';
            v += ',';
        }
        t += json::number(line[k].ms);
        v += json::number(json::widened(float(line[k].value)));
        if (std::isfinite(line[k].value))
            values.push_back(line[k].value);
    }
    std::vector<std::pair<qint64, qint64>> inf;
    const std::size_t bit = std::size_t(c.index - 1);
    for (const Bucket& b : series.buckets)
        if ((b.posInf | b.negInf) >> bit & 1)
            inf.emplace_back(b.lastMs, (b.posInf >> bit & 1) ? 1 : -1);
    const auto [lo, hi] = valueScale(std::move(values), float(c.setLo), float(c.setHi));
    return "{\"index\":" + json::number(qint64(c.index)) + ",\"label\":" + json::string(c.label) +
           ",\"colour\":" + json::colour(colour) + ",\"scale\":[" + json::number(lo) + ',' +
           json::number(hi) + "],\"set_hi\":" + json::number(c.setHi) +
           ",\"set_lo\":" + json::number(c.setLo) + ",\"t\":" + t + "],\"v\":" + v +
           "],\"alarms\":" + pairs(alarmStretches(series, c.index, breaks)) +
           ",\"inf\":" + pairs(inf) + '}';
}

} // namespace

bool parseTrendQuery(const QByteArray& query, TrendQuery& q, QString& error)
{
    bool found = false;
    const QByteArray span = formValue(query, "span", &found);
    if (found && (!wholeNumber(span, q.spanS) || q.spanS < 600 || q.spanS > 2592000)) {
        error = QStringLiteral("span must be a whole number of seconds from 600 to 2592000");
        return false;
    }
    const QByteArray end = formValue(query, "end_ms", &q.hasEnd);
    if (q.hasEnd && !wholeNumber(end, q.endMs)) {
        error = QStringLiteral("end_ms must be a whole number of milliseconds");
        return false;
    }
    return true;
}

std::vector<std::pair<qint64, int>> zoneOffsets(qint64 from, qint64 to)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(from, QTimeZone::utc());
    std::vector<std::pair<qint64, int>> out{{from, zone.offsetFromUtc(start)}};
    for (const QTimeZone::OffsetData& t :
         zone.transitions(start, QDateTime::fromMSecsSinceEpoch(to, QTimeZone::utc()))) {
        const qint64 ms = t.atUtc.toMSecsSinceEpoch();
        if (ms > from && ms < to && t.offsetFromUtc != out.back().second)
            out.emplace_back(ms, t.offsetFromUtc);
    }
    return out;
}

QByteArray trendJson(HistoryReader& reader, const QByteArray& logDir, const TrendQuery& q,
                     const Snapshot& snap, const LivePart& live)
{
    const qint64 to = q.endMs, from = q.endMs - q.spanS * 1000;
    HistoryRequest rq;
    rq.logDir = logDir;
    rq.from = from;
    rq.to = to;
    rq.widthMs = bucketWidthFor(to - from);
    rq.until = live.from;
    rq.channels = std::max(1, int(snap.state.channels.size()));
    quint8 used = 0;
    for (const WebState::Channel& c : snap.state.channels) {
        rq.setHi[c.index] = Single(c.setHi);
        rq.setLo[c.index] = Single(c.setLo);
        used |= quint8(1u << (c.index - 1));
    }
    Series series(from, to, rq.widthMs);
    if (live.from > from)
        series.add(reader.read(rq).series);
    series.add(live.series);
    const std::vector<bool> breaks = breaksBefore(series);
    const std::array<Rgb, 9> colours = trendColours(snap.colourLetters, used);
    QByteArray offsets = "[";
    for (const auto& [ms, offset] : zoneOffsets(from, to))
        offsets += (offsets.size() > 1 ? ",[" : "[") + json::number(ms) + ',' +
                   json::number(qint64(offset)) + ']';
    QByteArray out = "{\"from_ms\":" + json::number(from) + ",\"to_ms\":" + json::number(to) +
                     ",\"zone\":" + json::string(QString::fromUtf8(QTimeZone::systemTimeZoneId())) +
                     ",\"offsets\":" + offsets + "],\"channels\":[";
    for (std::size_t k = 0; k < snap.state.channels.size(); ++k) {
        const WebState::Channel& c = snap.state.channels[k];
        out += (k ? "," : "") + channelTrend(series, breaks, c, colours[std::size_t(c.index)]);
    }
    return out + "]}";
}

} // namespace qm
