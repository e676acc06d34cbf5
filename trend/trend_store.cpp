#include "trend/trend_store.h"

#include "app/files.h"
#include "app/numbers.h"
#include "sampling/log_file.h"

#include <QTime>

#include <charconv>

namespace qm {

void Span::add(float v)
{
    ++count;
    last = v;
    if (std::isinf(v)) {
        (v > 0 ? posInf : negInf) = true;
    } else if (!std::isnan(v)) {
        min = std::isnan(min) ? v : std::min(min, v);
        max = std::isnan(max) ? v : std::max(max, v);
    }
}

void Span::add(const Span& s)
{
    if (s.empty())
        return;
    count += s.count;
    last = s.last;
    posInf |= s.posInf;
    negInf |= s.negInf;
    if (!std::isnan(s.min)) {
        min = std::isnan(min) ? s.min : std::min(min, s.min);
        max = std::isnan(max) ? s.max : std::max(max, s.max);
    }
}

std::optional<LogRecord> parseLogRecord(std::string_view line)
{
    // "hh:mm:ss",v1,...,v8 then CR LF (or LF: the file was edited elsewhere)
    if (line.ends_with('\n'))
        line.remove_suffix(line.ends_with("\r\n") ? 2 : 1);
    if (line.size() < 10 || line[0] != '"' || line[3] != ':' || line[6] != ':' || line[9] != '"')
        return std::nullopt;
    int h = 0, m = 0, s = 0;
    const auto two = [&](std::size_t at, int& out, int limit) {
        return std::from_chars(line.data() + at, line.data() + at + 2, out).ptr ==
                   line.data() + at + 2 &&
               line[at] >= '0' && out < limit;
    };
    if (!two(1, h, 24) || !two(4, m, 60) || !two(7, s, 60))
        return std::nullopt;
    LogRecord r;
    r.secondOfDay = h * 3600 + m * 60 + s;
    std::string_view rest = line.substr(10);
    for (int i = 1; i <= 8; ++i) {
        if (rest.empty() || rest[0] != ',')
            return std::nullopt;
        rest.remove_prefix(1);
        const std::string_view field = rest.substr(0, rest.find(','));
        rest.remove_prefix(field.size());
        float v = 0;
        if (field == "INF" || field == "-INF")
            v = field[0] == '-' ? -INFINITY : INFINITY;
        else if (field.empty() || field[0] == '+' ||
                 std::from_chars(field.data(), field.data() + field.size(), v).ptr !=
                     field.data() + field.size() ||
                 !std::isfinite(v))
            return std::nullopt;
        r.values[i] = v;
    }
    if (!rest.empty())
        return std::nullopt;
    return r;
}

int columnOf(qint64 ms, qint64 from, qint64 to, int columns)
{
    if (ms < from || ms >= to || columns <= 0)
        return -1;
    return static_cast<int>((ms - from) * columns / (to - from));
}

TrendStore::TrendStore() = default;

void TrendStore::readingTaken(const Reading& r)
{
    std::array<float, 9> values;
    Alarms alarms = 0;
    for (int i = 1; i <= 8; ++i) {
        values[i] = r.values[i];
        alarms |= r.alarms[i] && i <= r.channels ? 1 << (i - 1) : 0;
        labels[i] = r.labels[i];
        colours[i] = r.colours[i];
    }
    setHi = r.setHi;
    setLo = r.setLo;
    add(r.time.toMSecsSinceEpoch(), values, alarms, r.channels);
}

void TrendStore::add(qint64 ms, const std::array<float, 9>& values, Alarms alarms, int channels)
{
    const int n = std::clamp(channels, 0, 8);
    const qint64 epoch = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (seconds_.empty()) // not at start: a program start stays quick
        seconds_.resize(kDayMs / 1000);
    Second& slot = seconds_[static_cast<std::size_t>(epoch % static_cast<qint64>(seconds_.size()))];
    if (slot.epoch < epoch)
        slot = Second{epoch, {}, {}, {}, 0, 0, 0, 0, 0};
    if (slot.epoch == epoch) { // an older second than the slot holds is past the ring
        for (int i = 0; i < n; ++i) {
            const float v = values[static_cast<std::size_t>(i + 1)];
            const quint8 bit = static_cast<quint8>(1u << i);
            if (!(slot.has & bit))
                slot.min[i] = slot.max[i] = NAN;
            slot.has |= bit;
            slot.last[i] = v;
            if (std::isinf(v)) {
                (v > 0 ? slot.posInf : slot.negInf) |= bit;
            } else if (!std::isnan(v)) {
                slot.min[i] = std::isnan(slot.min[i]) ? v : std::min(slot.min[i], v);
                slot.max[i] = std::isnan(slot.max[i]) ? v : std::max(slot.max[i], v);
            }
        }
        slot.count = static_cast<quint16>(std::min(slot.count + 1, 65535));
        slot.alarms |= alarms;
    }
    newest_ = std::max(newest_, ms);
    Raw raw{ms, {}, alarms, static_cast<quint8>(n)};
    std::copy(values.begin() + 1, values.end(), raw.values.begin());
    raw_.push_back(raw);
    while (!raw_.empty() && (raw_.size() > kMaxRaw || raw_.front().ms < newest_ - kRawMs)) {
        rawFrom_ = std::max(rawFrom_, raw_.front().ms + 1);
        raw_.pop_front();
    }
    withData_ |= static_cast<quint8>((1u << n) - 1);
    ++version_;
}

int TrendStore::loadLog(const QByteArray& path, QDate date, qint64 fromMs,
                        const ChannelArray<Single>& hi, const ChannelArray<Single>& lo,
                        int channels)
{
    const std::optional<std::string> bytes = readRegularFile(path, 64 << 20);
    if (!bytes)
        return 0;
    const qint64 midnight = QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
    int skipped = 0;
    std::string_view rest = *bytes;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line =
            rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1);
        rest.remove_prefix(line.size());
        const std::optional<LogRecord> r = parseLogRecord(line);
        if (!r) {
            ++skipped, ++skipped_;
            continue;
        }
        // Local time: a day with a clock change is 23 or 25 hours long.
        const qint64 ms = QDateTime(date, QTime(0, 0).addSecs(r->secondOfDay)).toMSecsSinceEpoch();
        if (ms < fromMs || ms < midnight)
            continue;
        Alarms alarms = 0;
        for (int i = 1; i <= std::min(channels, 8); ++i)
            alarms |= r->values[i] > hi[i] || r->values[i] < lo[i] ? 1 << (i - 1) : 0;
        add(ms, r->values, alarms, channels);
    }
    return skipped;
}

int TrendStore::loadHistory(const QByteArray& logDir, const QDateTime& now,
                            const ChannelArray<Single>& hi, const ChannelArray<Single>& lo,
                            int channels)
{
    int skipped = 0;
    for (const QDate day : {now.date().addDays(-1), now.date()})
        skipped += loadLog(logDir + '/' + logFileName(day), day, now.toMSecsSinceEpoch() - kDayMs,
                           hi, lo, channels);
    return skipped;
}

std::string TrendStore::csv(qint64 from, qint64 to) const
{
    from = from / 1000 * 1000;
    const auto cols = columns(from, to, static_cast<int>((to - from + 999) / 1000));
    std::string out;
    for (std::size_t c = 0; c < cols.size(); ++c) {
        std::string line = '"' +
                           QDateTime::fromMSecsSinceEpoch(from + static_cast<qint64>(c) * 1000)
                               .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                               .toStdString() +
                           '"';
        bool any = false;
        for (int i = 1; i <= 8; ++i) {
            any |= !cols[c][i].empty();
            line += ',' + invariantForm(cols[c][i].empty() ? 0.0f : cols[c][i].last);
        }
        if (any)
            out += line + "\r\n";
    }
    return out;
}

template <class F>
void TrendStore::forEach(qint64 from, qint64 to, F&& f) const
{
    if (from >= rawFrom_) {
        for (const Raw& r : raw_) {
            if (r.ms < from || r.ms >= to)
                continue;
            std::array<Span, 9> spans;
            for (int i = 1; i <= r.channels; ++i)
                spans[i].add(r.values[static_cast<std::size_t>(i - 1)]);
            f(r.ms, spans, r.alarms);
        }
        return;
    }
    const qint64 size = static_cast<qint64>(seconds_.size());
    if (size == 0)
        return;
    const qint64 first = std::max(from / 1000, newest_ / 1000 - size + 1);
    for (qint64 s = first; s * 1000 < to; ++s) {
        const Second& slot = seconds_[static_cast<std::size_t>(s % size)];
        if (slot.epoch != s)
            continue;
        std::array<Span, 9> spans;
        for (std::size_t i = 0; i < 8; ++i) {
            if (!(slot.has >> i & 1))
                continue;
            Span& sp = spans[i + 1];
            std::tie(sp.min, sp.max, sp.last, sp.count) =
                std::tuple(slot.min[i], slot.max[i], slot.last[i], slot.count);
            sp.posInf = slot.posInf >> i & 1;
            sp.negInf = slot.negInf >> i & 1;
        }
        f(s * 1000, spans, slot.alarms);
    }
}

std::vector<std::array<Span, 9>> TrendStore::columns(qint64 from, qint64 to, int n) const
{
    std::vector<std::array<Span, 9>> out(static_cast<std::size_t>(std::max(n, 0)));
    forEach(from, to, [&](qint64 ms, const std::array<Span, 9>& spans, Alarms) {
        const int c = columnOf(std::max(ms, from), from, to, n);
        if (c >= 0)
            for (int i = 1; i <= 8; ++i)
                out[static_cast<std::size_t>(c)][i].add(spans[i]);
    });
    return out;
}

std::vector<std::pair<qint64, qint64>> TrendStore::alarmStretches(Alarms mask, qint64 from,
                                                                  qint64 to) const
{
    // A stretch runs from the first reading in alarm to the next reading
    // without one (readings may be 30 s apart).
    std::vector<std::pair<qint64, qint64>> out;
    qint64 start = -1, lastAlarm = 0;
    forEach(from, to, [&](qint64 ms, const std::array<Span, 9>&, Alarms alarms) {
        if (alarms & mask) {
            if (start < 0)
                start = ms;
            lastAlarm = ms;
        } else if (start >= 0) {
            out.push_back({start, ms});
            start = -1;
        }
    });
    if (start >= 0)
        out.push_back({start, std::min(to, lastAlarm + 1000)});
    return out;
}

std::array<int, 9> TrendStore::alarmStretchCounts(qint64 from, qint64 to) const
{
    std::array<int, 9> counts{};
    Alarms previous = 0;
    forEach(from, to, [&](qint64, const std::array<Span, 9>&, Alarms alarms) {
        for (int i = 1; i <= 8; ++i)
            counts[std::size_t(i)] += (alarms & ~previous) >> (i - 1) & 1; // a stretch begins
        previous = alarms;
    });
    return counts;
}

} // namespace qm
