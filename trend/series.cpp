#include "trend/series.h"

#include "app/numbers.h"
#include "channels/channel_name.h"
#include "sampling/log_file.h"
#include "settings/settings_file.h"
#include "trend/day_clock.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <charconv>
#include <cstring>
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

namespace {

qint64 medianOf(qint64* first, qint64* last)
{
    if (first == last)
        return 0;
    qint64* middle = first + (last - first) / 2;
    std::nth_element(first, middle, last);
    return *middle;
}

// A gap far beyond the intervals on either side of it.
bool farBeyond(qint64 gap, qint64 before, qint64 after)
{
    return gap > std::max<qint64>(2000, 3 * std::max(before, after));
}

} // namespace

StartZeros::StartZeros(qint64 previousMs, int channels, Sink sink)
    : previous_(previousMs)
    , channels_(std::clamp(channels, 0, 8))
    , sink_(std::move(sink))
{
}

void StartZeros::add(qint64 ms, const LogRecord& line)
{
    if (holding_)
        pass(ms - pendingMs_);
    gap_ = ms - previous_;
    previous_ = ms;
    pending_ = line;
    pendingMs_ = ms;
    holding_ = true;
}

void StartZeros::finish()
{
    if (holding_)
        pass(0);
}

void StartZeros::pass(qint64 nextInterval)
{
    holding_ = false;
    std::array<qint64, 8> before = intervals_;
    const std::size_t n = std::min(seen_, before.size());
    const bool afterStart =
        farBeyond(gap_, medianOf(before.data(), before.data() + n), nextInterval);
    intervals_[seen_++ % intervals_.size()] = gap_;
    bool zeros = channels_ > 0;
    for (int i = 1; i <= channels_; ++i)
        zeros = zeros && pending_.values[std::size_t(i)] == 0;
    if (!(afterStart && zeros))
        sink_(pendingMs_, pending_);
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

void Series::add(const Series& other, qint64 untilMs)
{
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

std::vector<bool> breaksBefore(const Series& s)
{
    std::vector<std::size_t> used;
    for (std::size_t k = 0; k < s.buckets.size(); ++k)
        if (s.buckets[k].count > 0)
            used.push_back(k);
    const std::size_t n = used.size();
    // gap[j]: from the readings before used[j]; typical[j]: the usual interval
    // at used[j] (within it, or to the nearer neighbour).
    std::vector<qint64> gap(n, 0), typical(n, 0);
    for (std::size_t j = 1; j < n; ++j)
        gap[j] = s.buckets[used[j]].firstMs - s.buckets[used[j - 1]].lastMs;
    for (std::size_t j = 0; j < n; ++j) {
        const Bucket& b = s.buckets[used[j]];
        if (b.count > 1)
            typical[j] = (b.lastMs - b.firstMs) / (b.count - 1);
        else if (j > 0 && j + 1 < n)
            typical[j] = std::min(gap[j], gap[j + 1]);
        else
            typical[j] = j > 0 ? gap[j] : j + 1 < n ? gap[j + 1] : 0;
    }
    constexpr std::size_t kAround = 8;
    std::vector<bool> out(s.buckets.size(), false);
    std::array<qint64, kAround> window{};
    for (std::size_t j = 1; j < n; ++j) {
        const std::size_t b0 = j >= kAround ? j - kAround : 0;
        std::copy(typical.begin() + std::ptrdiff_t(b0), typical.begin() + std::ptrdiff_t(j),
                  window.begin());
        const qint64 before = medianOf(window.data(), window.data() + (j - b0));
        const std::size_t a1 = std::min(n, j + kAround);
        std::copy(typical.begin() + std::ptrdiff_t(j), typical.begin() + std::ptrdiff_t(a1),
                  window.begin());
        const qint64 after = medianOf(window.data(), window.data() + (a1 - j));
        out[used[j]] = farBeyond(gap[j], before, after);
    }
    return out;
}

std::vector<Point> lineOf(const Series& s, int channel, const std::vector<bool>& breaks)
{
    std::vector<Point> out;
    qint64 previous = INT64_MIN;
    bool broken = false;
    const std::size_t c = std::size_t(channel - 1);
    for (std::size_t k = 0; k < s.buckets.size(); ++k) {
        const Bucket& b = s.buckets[k];
        if (b.count == 0)
            continue;
        broken = broken || breaks[k];
        if (!b.hasChannel(channel) || std::isnan(b.min[c])) {
            broken = broken || !b.hasChannel(channel);
            continue;
        }
        if (previous != INT64_MIN && broken)
            out.push_back({(previous + b.firstMs) / 2, NAN});
        broken = false;
        out.push_back({b.lastMs, b.min[c]});
        if (b.max[c] != b.min[c])
            out.push_back({b.lastMs, b.max[c]});
        previous = b.lastMs;
    }
    return out;
}

std::vector<std::pair<qint64, qint64>> alarmStretches(const Series& s, int channel,
                                                      const std::vector<bool>& breaks)
{
    std::vector<std::pair<qint64, qint64>> out;
    const quint8 bit = quint8(1u << (channel - 1));
    bool open = false;
    for (std::size_t k = 0; k < s.buckets.size(); ++k) {
        const Bucket& b = s.buckets[k];
        if (b.count > 0 && (breaks[k] || !(b.has & bit)))
            open = false;
        if (!(b.has & bit))
            continue;
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

std::pair<double, double> valueScale(std::vector<double> values, float setLo, float setHi)
{
    std::erase_if(values, [](double v) { return !std::isfinite(v); });
    double lo = std::min<double>(setLo, setHi), hi = std::max<double>(setLo, setHi);
    if (values.empty()) {
        if (!(lo <= hi) || hi - lo > 1e6) {
            lo = 0;
            hi = 1;
        }
    } else {
        const std::size_t n = values.size(), k = n / 200;
        std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
        lo = values[k];
        std::nth_element(values.begin(), values.end() - std::ptrdiff_t(k + 1), values.end());
        hi = values[n - 1 - k];
        // What lies close beyond the bulk is no outlier.
        const double reach = std::max(hi - lo, std::max(std::abs(hi), 1.0) * 0.02) * 0.25;
        const double bulkLo = lo, bulkHi = hi;
        for (const double v : values) {
            if (v >= bulkLo - reach)
                lo = std::min(lo, v);
            if (v <= bulkHi + reach)
                hi = std::max(hi, v);
        }
        const double near = std::max(hi - lo, std::max(std::abs(hi), 1.0) * 0.1);
        for (const float limit : {setHi, setLo})
            if (std::isfinite(limit) && limit > lo - near && limit < hi + near) {
                lo = std::min<double>(lo, limit);
                hi = std::max<double>(hi, limit);
            }
    }
    const double margin = hi > lo ? (hi - lo) * 0.08 : std::max(std::abs(hi) * 0.05, 0.5);
    return {lo - margin, hi + margin};
}

int alarmEpisodes(const std::vector<std::pair<qint64, qint64>>& stretches, qint64 pauseMs)
{
    int n = 0;
    for (std::size_t k = 0; k < stretches.size(); ++k)
        n += k == 0 || stretches[k].first - stretches[k - 1].second >= pauseMs;
    return n;
}

std::string isoLocal(qint64 ms)
{
    const int offset = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
    const qint64 local = ms / 1000 + offset - (ms % 1000 < 0 ? 1 : 0);
    const qint64 days = local >= 0 ? local / 86'400 : (local - 86'399) / 86'400;
    const int second = int(local - days * 86'400);
    const QDate date = QDate::fromJulianDay(QDate(1970, 1, 1).toJulianDay() + days);
    const int a = std::abs(offset);
    std::string text = std::to_string(date.year());
    const auto two = [&](char before, int v) {
        text += before;
        text += char('0' + v / 10 % 10);
        text += char('0' + v % 10);
    };
    two('-', date.month());
    two('-', date.day());
    two('T', second / 3600);
    two(':', second / 60 % 60);
    two(':', second % 60);
    two(offset < 0 ? '-' : '+', a / 3600);
    two(':', a / 60 % 60);
    return text;
}

namespace {

std::string csvHeader(const ChannelArray<String>& labels, int channels, bool slices)
{
    std::string out = "\"time\"";
    for (int i = 1; i <= channels; ++i) {
        std::string name = channelName(i, labels[std::size_t(i)]).toUtf8().toStdString();
        std::erase(name, '"');
        if (!slices)
            out += ",\"" + name + '"';
        else
            for (const char* part : {" min", " mean", " max"})
                out += ",\"" + name + part + '"';
    }
    return out + "\r\n";
}

std::string numberText(float v)
{
    return std::isinf(v) ? (v > 0 ? "INF" : "-INF") : invariantForm(v);
}

} // namespace

CsvWriter::CsvWriter(const ChannelArray<String>& labels, int channels, qint64 sliceMs)
    : channels_(std::clamp(channels, 0, 8))
    , sliceMs_(std::max<qint64>(sliceMs, 0))
    , out_(csvHeader(labels, channels_, sliceMs_ > 0))
{
    min_.fill(NAN);
    max_.fill(NAN);
}

void CsvWriter::add(qint64 ms, const float* values)
{
    if (sliceMs_ == 0) {
        out_ += '"' + isoLocal(ms) + '"';
        for (int i = 0; i < channels_; ++i) {
            out_ += ',';
            if (!std::isnan(values[i]))
                out_ += numberText(values[i]);
        }
        out_ += "\r\n";
        ++rows_;
        return;
    }
    const qint64 slice = ms >= 0 ? ms / sliceMs_ : (ms - sliceMs_ + 1) / sliceMs_;
    if (slice != slice_)
        flushSlice();
    slice_ = slice;
    for (int i = 0; i < channels_; ++i) {
        const float v = values[i];
        if (std::isnan(v))
            continue;
        const std::size_t c = std::size_t(i);
        const bool first = std::isnan(min_[c]);
        min_[c] = first ? v : std::min(min_[c], v);
        max_[c] = first ? v : std::max(max_[c], v);
        if (std::isfinite(v)) {
            sum_[c] += v;
            ++finite_[c];
        }
    }
    any_ = true;
}

void CsvWriter::flushSlice()
{
    if (any_) {
        out_ += '"' + isoLocal(slice_ * sliceMs_) + '"';
        for (std::size_t c = 0; c < std::size_t(channels_); ++c) {
            if (std::isnan(min_[c])) {
                out_ += ",,,";
                continue;
            }
            out_ += ',' + numberText(min_[c]) + ',';
            if (finite_[c] > 0)
                out_ += invariantForm(float(sum_[c] / finite_[c]));
            out_ += ',' + numberText(max_[c]);
        }
        out_ += "\r\n";
        ++rows_;
    }
    min_.fill(NAN);
    max_.fill(NAN);
    sum_.fill(0);
    finite_.fill(0);
    any_ = false;
}

std::string CsvWriter::take()
{
    return std::exchange(out_, {});
}

std::string CsvWriter::finish()
{
    if (sliceMs_ > 0)
        flushSlice();
    return take();
}

std::string csvOf(const Series& s, const ChannelArray<String>& labels, int channels)
{
    CsvWriter csv(labels, channels);
    for (const Bucket& b : s.buckets) {
        if (!b.has)
            continue;
        std::array<float, 8> values{};
        for (int i = 0; i < 8; ++i)
            values[std::size_t(i)] = b.has >> i & 1 ? b.last[std::size_t(i)] : NAN;
        csv.add(b.lastMs, values.data());
    }
    return csv.finish();
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
    // Never blocking: a FIFO in place of a day file must not hold the reading.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result.problem = std::strerror(errno);
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.problem = S_ISDIR(st.st_mode)    ? "a directory, not a file"
                         : S_ISFIFO(st.st_mode) ? "a FIFO, not a file"
                                                : "not a regular file";
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
        if (n < 0)
            result.problem = std::strerror(errno);
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
// the alarms from the limits, on the day's clock.
DayFileResult readDay(const QByteArray& path, QDate day, const HistoryRequest& rq, Series& out,
                      const std::function<void(qint64)>& progress, const std::atomic<bool>* cancel)
{
    DayClock clock(day);
    const int channels = std::clamp(rq.channels, 0, 8);
    StartZeros readings(clock.midnight(), channels, [&](qint64 ms, const LogRecord& rec) {
        if (ms >= rq.until)
            return;
        quint8 alarms = 0;
        for (int i = 1; i <= channels; ++i)
            alarms |= rec.values[std::size_t(i)] > rq.setHi[std::size_t(i)] ||
                              rec.values[std::size_t(i)] < rq.setLo[std::size_t(i)]
                          ? 1u << (i - 1)
                          : 0u;
        out.add(ms, rec.values.data() + 1, alarms, channels);
    });
    const DayFileResult r = readDayFile(
        path, [&](const LogRecord& rec) { readings.add(clock.instant(rec.secondOfDay), rec); },
        1 << 20, progress, cancel);
    readings.finish();
    return r;
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
    const QDate first = QDateTime::fromMSecsSinceEpoch(rq.from).date();
    const QDate last = QDateTime::fromMSecsSinceEpoch(end - 1).date();
    qint64 total = 0;
    for (QDate d = first.addDays(-1); d <= last; d = d.addDays(1))
        total += std::max<qint64>(fileSize(rq.logDir + '/' + logFileName(d)), 0);
    qint64 bytes = 0;
    const auto progress = [&](qint64 n) {
        bytes += n;
        if (permille && total > 0)
            *permille = int(std::min<qint64>(1000, bytes * 1000 / total));
    };
    for (QDate d = first.addDays(-1); d <= last; d = d.addDays(1)) {
        if (cancel && cancel->load()) {
            h.cancelled = true;
            break;
        }
        // The day before the range counts only for what its file holds of it.
        const bool own = d >= first;
        const QByteArray name = logFileName(d);
        const QByteArray path = rq.logDir + '/' + name;
        qint64 mtime = 0;
        const qint64 size = fileSize(path, &mtime);
        if (size < 0 && ::access(path.constData(), F_OK) != 0 && errno == ENOENT) {
            if (own && rq.tellMissing)
                h.problems.push_back(name.toStdString() + ": no log for " +
                                     d.toString(Qt::ISODate).toStdString());
            continue;
        }
        // A day's file holds that day and perhaps the first seconds of the next.
        const qint64 midnight = DayClock(d).midnight();
        const qint64 dayEnd = DayClock(d.addDays(1)).midnight() + 60'000;
        if (dayEnd <= rq.from)
            continue;
        const bool whole = rq.from <= midnight && dayEnd <= end;
        Day& day = days_[d];
        if (!(whole && day.size == size && day.mtime == mtime && day.widthMs == rq.widthMs &&
              day.setHi == rq.setHi && day.setLo == rq.setLo && day.channels == rq.channels)) {
            day = Day{};
            day.series = Series(std::max(midnight, rq.from), std::min(dayEnd, end), rq.widthMs);
            const DayFileResult r = readDay(path, d, rq, day.series, progress, cancel);
            day.skipped = r.skipped;
            day.problem = r.problem;
            if (whole && r.opened && r.problem.empty() && !(cancel && cancel->load())) {
                day.size = size;
                day.mtime = mtime;
                day.widthMs = rq.widthMs;
                day.setHi = rq.setHi;
                day.setLo = rq.setLo;
                day.channels = rq.channels;
            }
        } else {
            progress(size);
        }
        // Only the part within the range counts.
        h.series.add(day.series);
        if (own) {
            h.skipped += day.skipped;
            if (!day.problem.empty())
                h.problems.push_back(name.toStdString() + ": cannot be read: " + day.problem);
            if (day.skipped > 0)
                h.problems.push_back(name.toStdString() + ": " + std::to_string(day.skipped) +
                                     (day.skipped == 1 ? " line" : " lines") +
                                     " not in the log's form");
        }
        if (day.size < 0)
            days_.erase(d);
    }
    // Bounded: what was read of far-away days goes first.
    while (days_.size() > 62)
        days_.erase(days_.begin());
    return h;
}

bool exportLog(const HistoryRequest& rq, const ChannelArray<String>& labels, qint64 sliceMs,
               const std::function<void(const std::string&)>& write,
               const std::atomic<bool>* cancel, std::atomic<int>* permille)
{
    CsvWriter csv(labels, rq.channels, sliceMs);
    const QDate first = QDateTime::fromMSecsSinceEpoch(rq.from).date().addDays(-1);
    const QDate last = QDateTime::fromMSecsSinceEpoch(rq.to - 1).date();
    const int channels = std::clamp(rq.channels, 0, 8);
    for (QDate d = first; d <= last && !(cancel && cancel->load()); d = d.addDays(1)) {
        DayClock clock(d);
        StartZeros readings(clock.midnight(), channels, [&](qint64 ms, const LogRecord& rec) {
            if (ms >= rq.from && ms < rq.to)
                csv.add(ms, rec.values.data() + 1);
        });
        readDayFile(
            rq.logDir + '/' + logFileName(d),
            [&](const LogRecord& rec) { readings.add(clock.instant(rec.secondOfDay), rec); },
            1 << 20, {}, cancel);
        readings.finish();
        write(csv.take());
        if (permille)
            *permille = int((first.daysTo(d) + 1) * 1000 / (first.daysTo(last) + 1));
    }
    write(csv.finish());
    return csv.rows() > 0;
}

std::string historyCsv(const QByteArray& logDir, qint64 from, qint64 to,
                       const ChannelArray<String>& labels, const ChannelArray<Single>& setHi,
                       const ChannelArray<Single>& setLo, int channels)
{
    (void)setHi;
    (void)setLo;
    HistoryRequest rq;
    rq.logDir = logDir;
    rq.from = from;
    rq.to = to;
    rq.channels = channels;
    std::string out;
    exportLog(rq, labels, 0, [&](const std::string& text) { out += text; });
    return out;
}

} // namespace qm
