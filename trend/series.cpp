#include "trend/series.h"

#include "app/numbers.h"
#include "sampling/log_file.h"
#include "settings/settings_file.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

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

void Bucket::add(qint64 ms, const float* values, quint8 alarms, int channels)
{
    if (count == 0 || ms < firstMs)
        firstMs = ms;
    if (count == 0 || ms >= lastMs)
        lastMs = ms;
    ++count;
    for (int i = 0; i < channels; ++i) {
        const float v = values[i];
        if (std::isnan(v))
            continue;
        const quint8 bit = quint8(1u << i);
        if (!(has & bit))
            min[i] = max[i] = NAN;
        has |= bit;
        if (ms >= lastMs)
            last[i] = v;
        alarm |= alarms & bit;
        if (std::isinf(v)) {
            (v > 0 ? posInf : negInf) |= bit;
        } else {
            min[i] = std::isnan(min[i]) ? v : std::min(min[i], v);
            max[i] = std::isnan(max[i]) ? v : std::max(max[i], v);
        }
    }
}

void Bucket::add(const Bucket& b)
{
    if (b.count == 0)
        return;
    const bool later = count == 0 || b.lastMs >= lastMs;
    firstMs = count == 0 ? b.firstMs : std::min(firstMs, b.firstMs);
    lastMs = count == 0 ? b.lastMs : std::max(lastMs, b.lastMs);
    count += b.count;
    for (int i = 0; i < 8; ++i) {
        const quint8 bit = quint8(1u << i);
        if (!(b.has & bit))
            continue;
        if (!(has & bit)) {
            min[i] = b.min[i];
            max[i] = b.max[i];
            last[i] = b.last[i];
        } else {
            if (later)
                last[i] = b.last[i];
            if (!std::isnan(b.min[i])) {
                min[i] = std::isnan(min[i]) ? b.min[i] : std::min(min[i], b.min[i]);
                max[i] = std::isnan(max[i]) ? b.max[i] : std::max(max[i], b.max[i]);
            }
        }
    }
    has |= b.has;
    alarm |= b.alarm;
    posInf |= b.posInf;
    negInf |= b.negInf;
}

void Rhythm::add(qint64 intervalMs)
{
    if (bins_.empty())
        bins_.resize(6001);
    ++bins_[std::size_t(std::clamp<qint64>(intervalMs / 100, 0, 6000))];
    ++total_;
}

void Rhythm::add(const Rhythm& r)
{
    if (r.bins_.empty())
        return;
    if (bins_.empty())
        bins_.resize(6001);
    for (std::size_t i = 0; i < bins_.size(); ++i)
        bins_[i] += r.bins_[i];
    total_ += r.total_;
}

qint64 Rhythm::medianMs() const
{
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < bins_.size(); ++i)
        if ((seen += bins_[i]) * 2 >= total_ && total_ > 0)
            return qint64(i) * 100 + 50;
    return 0;
}

qint64 gapThresholdMs(qint64 medianMs)
{
    return medianMs <= 0 ? 600'000 : std::max<qint64>(3 * medianMs, 2000);
}

void RestartZeros::apply(std::array<float, 9>& values, int channels)
{
    for (int i = 1; i <= std::min(channels, 8); ++i) {
        const quint8 bit = quint8(1u << (i - 1));
        if (!(waiting_ & bit))
            continue;
        if (values[std::size_t(i)] == 0)
            values[std::size_t(i)] = NAN;
        else
            waiting_ &= quint8(~bit);
    }
}

Series::Series(qint64 fromMs, qint64 toMs, qint64 width)
    : widthMs(std::max<qint64>(width, 1))
{
    const auto floorTo = [this](qint64 ms) {
        return ms >= 0 ? ms / widthMs * widthMs : -((-ms + widthMs - 1) / widthMs) * widthMs;
    };
    from = floorTo(fromMs);
    const qint64 end = floorTo(toMs - 1) + widthMs;
    buckets.resize(std::size_t(std::max<qint64>(end - from, 0) / widthMs));
}

void Series::add(qint64 ms, const float* values, quint8 alarms, int n)
{
    if (ms < from || ms >= to())
        return;
    buckets[std::size_t((ms - from) / widthMs)].add(ms, values, alarms, n);
    for (int i = 0; i < n; ++i)
        channels |= std::isnan(values[i]) ? 0 : quint8(1u << i);
}

void Series::add(const Series& other, qint64 untilMs, bool withRhythm)
{
    if (withRhythm)
        rhythm.add(other.rhythm);
    if (other.widthMs != widthMs)
        return;
    for (std::size_t k = 0; k < other.buckets.size(); ++k) {
        const qint64 at = other.from + qint64(k) * widthMs;
        if (at >= from && at < to() && at < untilMs) {
            buckets[std::size_t((at - from) / widthMs)].add(other.buckets[k]);
            channels |= other.buckets[k].has;
        }
    }
}

std::uint64_t Series::readings() const
{
    std::uint64_t n = 0;
    for (const Bucket& b : buckets)
        n += b.count;
    return n;
}

qint64 bucketWidthFor(qint64 spanMs)
{
    static constexpr qint64 widths[] = {100,     200,     500,       1000,      2000,     5000,
                                        10'000,  15'000,  30'000,    60'000,    120'000,  300'000,
                                        600'000, 900'000, 1'800'000, 3'600'000, 7'200'000};
    for (const qint64 w : widths)
        if (spanMs / w <= 3000)
            return w;
    return std::end(widths)[-1];
}

std::vector<Point> lineOf(const Series& s, int channel)
{
    std::vector<Point> out;
    const qint64 gap = s.gapMs();
    qint64 previous = INT64_MIN;
    const std::size_t c = std::size_t(channel - 1);
    for (const Bucket& b : s.buckets) {
        if (!b.hasChannel(channel) || std::isnan(b.min[c]))
            continue;
        if (previous != INT64_MIN && b.firstMs - previous > gap)
            out.push_back({(previous + b.firstMs) / 2, NAN});
        out.push_back({b.lastMs, b.min[c]});
        if (b.max[c] != b.min[c])
            out.push_back({b.lastMs, b.max[c]});
        previous = b.lastMs;
    }
    return out;
}

std::vector<std::pair<qint64, qint64>> alarmStretches(const Series& s, int channel)
{
    std::vector<std::pair<qint64, qint64>> out;
    const qint64 gap = s.gapMs();
    const quint8 bit = quint8(1u << (channel - 1));
    bool open = false;
    for (const Bucket& b : s.buckets) {
        if (!(b.has & bit))
            continue;
        if (open && b.firstMs - out.back().second > gap)
            open = false;
        if (b.alarm & bit) {
            if (!open)
                out.push_back({b.firstMs, b.lastMs});
            out.back().second = b.lastMs;
            open = true;
        } else {
            open = false;
        }
    }
    return out;
}

int alarmEpisodes(const std::vector<std::pair<qint64, qint64>>& stretches, qint64 pauseMs)
{
    int n = 0;
    for (std::size_t k = 0; k < stretches.size(); ++k)
        n += k == 0 || stretches[k].first - stretches[k - 1].second >= pauseMs;
    return n;
}

std::string csvOf(const Series& s, const ChannelArray<String>& labels)
{
    std::string out = "\"time\"";
    for (int i = 1; i <= 8; ++i) {
        std::string name = "V0" + std::to_string(i);
        if (!labels[std::size_t(i)].empty())
            name += ' ' + labels[std::size_t(i)];
        std::erase(name, '"');
        out += ",\"" + name + '"';
    }
    out += "\r\n";
    for (const Bucket& b : s.buckets) {
        if (!b.has)
            continue;
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(b.lastMs);
        out += '"' + t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate).toStdString() + '"';
        for (int i = 0; i < 8; ++i) {
            out += ',';
            if (b.has >> i & 1)
                out += invariantForm(b.last[std::size_t(i)]);
        }
        out += "\r\n";
    }
    return out;
}

std::array<Rgb, 9> trendColours(const ChannelArray<String>& letters, quint8 used)
{
    // Okabe and Ito's palette, lightened where it is too dark on black; each
    // with the letter whose colour it stands in for.
    static constexpr std::pair<const char*, Rgb> palette[] = {
        {"B", {86, 180, 233}}, {"", {230, 159, 0}},    {"G", {0, 158, 115}},  {"", {204, 121, 167}},
        {"Y", {240, 228, 66}}, {"W", {200, 200, 200}}, {"", {100, 150, 255}}, {"", {213, 94, 0}},
    };
    std::array<Rgb, 9> out{};
    std::array<bool, 9> own{};
    const auto isUsed = [&](int i) { return (used >> (i - 1) & 1) != 0; };
    std::string kept;
    for (int i = 1; i <= 8; ++i) {
        const String& l = letters[std::size_t(i)];
        int same = 0;
        for (int j = 1; j <= 8; ++j)
            same += isUsed(j) && colorForLetter(letters[std::size_t(j)]) == colorForLetter(l);
        own[std::size_t(i)] = isUsed(i) && same == 1 && !(colorForLetter(l) == colors::kRed);
        if (own[std::size_t(i)]) {
            out[std::size_t(i)] = colorForLetter(l);
            kept += colorForLetter(l) == colors::kWhite ? "W" : l;
        }
    }
    std::size_t next = 0;
    for (int i = 1; i <= 8; ++i) {
        if (own[std::size_t(i)])
            continue;
        while (next < std::size(palette) - 1 && *palette[next].first &&
               kept.find(palette[next].first) != std::string::npos)
            ++next;
        out[std::size_t(i)] = palette[std::min(next, std::size(palette) - 1)].second;
        next = std::min(next + 1, std::size(palette) - 1);
    }
    return out;
}

DayFileResult readDayFile(const QByteArray& path, const std::function<void(const LogRecord&)>& line,
                          std::size_t chunkBytes, const std::function<void(qint64)>& progress,
                          const std::atomic<bool>* cancel)
{
    DayFileResult result;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return result;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return result;
    }
    result.opened = true;
    std::string buffer(std::max<std::size_t>(chunkBytes, 64), '\0');
    std::string carry; // a line cut by the end of a chunk
    const auto take = [&](std::string_view l) {
        if (const std::optional<LogRecord> r = parseLogRecord(l))
            line(*r);
        else
            ++result.skipped;
    };
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            break;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (progress)
            progress(n);
        std::string_view rest(buffer.data(), std::size_t(n));
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;) {
            if (carry.empty()) {
                take(rest.substr(0, end + 1));
            } else {
                carry.append(rest.substr(0, end + 1));
                take(carry);
                carry.clear();
            }
            rest.remove_prefix(end + 1);
        }
        // A line longer than any log line is broken anyway: keep no more of it.
        if (carry.size() < 4096)
            carry.append(rest.substr(0, 4096 - carry.size()));
    }
    if (!carry.empty())
        take(carry);
    ::close(fd);
    return result;
}

namespace {

// A day's readings from its log file into `out` (which covers the day), with
// the alarms from the limits. Times are local: a day with a clock change is
// 23 or 25 hours long.
int readDay(const QByteArray& path, QDate day, const HistoryRequest& rq, Series& out,
            std::atomic<qint64>& bytes, const std::atomic<bool>* cancel, bool& opened)
{
    const QDateTime start(day, QTime(0, 0));
    const qint64 midnight = start.toMSecsSinceEpoch();
    const bool even = start.offsetFromUtc() == QDateTime(day, QTime(23, 59, 59)).offsetFromUtc();
    qint64 previous = INT64_MIN;
    int previousSecond = -1;
    QDate date = day;
    qint64 dayStart = midnight;
    Rhythm& rhythm = out.rhythm;
    qint64 gap = gapThresholdMs(rhythm.medianMs());
    RestartZeros zeros;
    const int channels = std::clamp(rq.channels, 0, 8);
    const DayFileResult r = readDayFile(
        path,
        [&](const LogRecord& rec) {
            // A line written at the turn of midnight can carry the new day's
            // time in the old day's file.
            if (previousSecond > 86'340 && rec.secondOfDay < 60 && date == day) {
                date = day.addDays(1);
                dayStart = QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
            }
            previousSecond = rec.secondOfDay;
            const qint64 ms =
                even && date == day
                    ? dayStart + rec.secondOfDay * 1000ll
                    : QDateTime(date, QTime(0, 0).addSecs(rec.secondOfDay)).toMSecsSinceEpoch();
            if (ms >= rq.until)
                return;
            std::array<float, 9> v = rec.values;
            if (previous != INT64_MIN) {
                if (ms < previous || ms - previous > gap)
                    zeros.restart();
                if (ms >= previous) {
                    rhythm.add(ms - previous);
                    if (rhythm.intervals() < 64 || rhythm.intervals() % 1024 == 0)
                        gap = gapThresholdMs(rhythm.medianMs()); // it settles soon
                }
            }
            previous = ms;
            zeros.apply(v, channels);
            quint8 alarms = 0;
            for (int i = 1; i <= channels; ++i)
                alarms |= v[std::size_t(i)] > rq.setHi[std::size_t(i)] ||
                                  v[std::size_t(i)] < rq.setLo[std::size_t(i)]
                              ? 1u << (i - 1)
                              : 0u;
            out.add(ms, v.data() + 1, alarms, channels);
        },
        1 << 20, [&](qint64 n) { bytes += n; }, cancel);
    opened = r.opened;
    return r.skipped;
}

qint64 fileSize(const QByteArray& path, qint64* mtime = nullptr)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    if (mtime)
        *mtime = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return qint64(st.st_size);
}

} // namespace

History HistoryReader::read(const HistoryRequest& rq, std::atomic<int>* permille,
                            const std::atomic<bool>* cancel)
{
    std::lock_guard lock(mutex_);
    History h;
    h.series = Series(rq.from, rq.to, rq.widthMs);
    const qint64 end = std::min(rq.to, rq.until);
    if (end <= rq.from)
        return h;
    // The day before too: its file can hold the first seconds after midnight.
    const QDate first = QDateTime::fromMSecsSinceEpoch(rq.from).date().addDays(-1);
    const QDate last = QDateTime::fromMSecsSinceEpoch(end - 1).date();
    qint64 total = 0;
    for (QDate d = first; d <= last; d = d.addDays(1))
        total += std::max<qint64>(fileSize(rq.logDir + '/' + logFileName(d)), 0);
    std::atomic<qint64> bytes = 0;
    for (QDate d = first; d <= last; d = d.addDays(1)) {
        if (cancel && cancel->load()) {
            h.cancelled = true;
            break;
        }
        const QByteArray name = logFileName(d);
        const QByteArray path = rq.logDir + '/' + name;
        qint64 mtime = 0;
        const qint64 size = fileSize(path, &mtime);
        if (size < 0 && ::access(path.constData(), F_OK) != 0)
            continue; // no log that day
        // A day's file holds that day and perhaps the first seconds of the next.
        const qint64 midnight = QDateTime(d, QTime(0, 0)).toMSecsSinceEpoch();
        const qint64 dayEnd = QDateTime(d.addDays(1), QTime(0, 1)).toMSecsSinceEpoch();
        if (dayEnd <= rq.from)
            continue;
        const bool whole = rq.from <= midnight && dayEnd <= end;
        Day& day = days_[d];
        if (!(whole && day.size == size && day.mtime == mtime && day.widthMs == rq.widthMs &&
              day.setHi == rq.setHi && day.setLo == rq.setLo && day.channels == rq.channels)) {
            day = Day{};
            day.series = Series(std::max(midnight, rq.from), std::min(dayEnd, end), rq.widthMs);
            bool opened = false;
            day.skipped = readDay(path, d, rq, day.series, bytes, cancel, opened);
            if (!opened)
                h.problems.push_back(name.toStdString() + ": cannot be read");
            if (whole && opened && !(cancel && cancel->load())) {
                day.size = size;
                day.mtime = mtime;
                day.widthMs = rq.widthMs;
                day.setHi = rq.setHi;
                day.setLo = rq.setLo;
                day.channels = rq.channels;
            }
        } else {
            bytes += size;
        }
        if (permille && total > 0)
            *permille = int(std::min<qint64>(1000, bytes * 1000 / total));
        // Only the part within the range counts.
        h.series.add(day.series);
        h.skipped += day.skipped;
        if (day.skipped > 0)
            h.problems.push_back(name.toStdString() + ": " + std::to_string(day.skipped) +
                                 (day.skipped == 1 ? " line" : " lines") + " could not be read");
        if (day.size < 0)
            days_.erase(d);
    }
    // Bounded: what was read of far-away days goes first.
    while (days_.size() > 62)
        days_.erase(days_.begin());
    return h;
}

std::string historyCsv(const QByteArray& logDir, qint64 from, qint64 to,
                       const ChannelArray<String>& labels, const ChannelArray<Single>& setHi,
                       const ChannelArray<Single>& setLo, int channels)
{
    HistoryRequest rq;
    rq.logDir = logDir;
    rq.from = from;
    rq.to = to;
    rq.setHi = setHi;
    rq.setLo = setLo;
    rq.channels = channels;
    HistoryReader reader;
    return csvOf(reader.read(rq).series, labels);
}

} // namespace qm
