#pragma once

#include "app/main_form.h"

#include <QByteArray>
#include <QDate>

#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A log line taken apart: the time of day and the eight values. Nothing for a
// line that is not exactly the log's form (cut off, edited by hand).
struct LogRecord {
    int secondOfDay = 0;
    std::array<float, 9> values{}; // elements 1..8
};
std::optional<LogRecord> parseLogRecord(std::string_view line);

// The readings that fell into one stretch of time: per channel the lowest,
// highest and last value, whether it was in alarm or beyond the scaling
// (INF, -INF), and the times of the first and the last reading.
struct Bucket {
    qint64 firstMs = 0, lastMs = 0;
    std::array<float, 8> min{}, max{}, last{}; // channel i at [i - 1]
    quint8 has = 0, alarm = 0, posInf = 0, negInf = 0;
    quint32 count = 0;
    bool hasChannel(int i) const { return has >> (i - 1) & 1; }
    // One reading; a NaN value is a channel without a value in it.
    void add(qint64 ms, const float* values, quint8 alarms, int channels);
    void add(const Bucket& b);
};

// How often readings come: a histogram of the intervals between them, in
// tenths of a second up to ten minutes.
class Rhythm {
public:
    void add(qint64 intervalMs);
    void add(const Rhythm& r);
    qint64 medianMs() const; // 0 before the second reading
    std::uint64_t intervals() const { return total_; }

private:
    std::vector<std::uint32_t> bins_;
    std::uint64_t total_ = 0;
};

// Readings further apart than this are a gap: the line breaks there. Three
// times the usual interval, at least two seconds (the log's time has whole
// seconds), ten minutes while the rhythm is not known yet.
qint64 gapThresholdMs(qint64 medianMs);

// After a restart the program logs 0 for every channel it has not received
// yet. Those zeros are no measurement: from a restart on, a channel's zeros
// are missing values until it shows another value.
class RestartZeros {
public:
    void restart() { waiting_ = 0xff; }
    // Replaces the zeros of waiting channels 1..channels by NaN.
    void apply(std::array<float, 9>& values, int channels);

private:
    quint8 waiting_ = 0;
};

// Readings of a range of time in buckets of `widthMs` on a grid from the
// epoch: bucket k covers [from + k * width, from + (k + 1) * width).
struct Series {
    qint64 from = 0, widthMs = 1000;
    std::vector<Bucket> buckets;
    Rhythm rhythm;
    quint8 channels = 0; // channels with a value somewhere
    Series() = default;
    Series(qint64 fromMs, qint64 toMs, qint64 width);
    qint64 to() const { return from + qint64(buckets.size()) * widthMs; }
    void add(qint64 ms, const float* values, quint8 alarms, int channels);
    // Adds the buckets of another series on the same grid (those that begin
    // before `untilMs`); `withRhythm`: its intervals too.
    void add(const Series& other, qint64 untilMs = INT64_MAX, bool withRhythm = true);
    qint64 gapMs() const { return gapThresholdMs(rhythm.medianMs()); }
    std::uint64_t readings() const;
};

// The bucket width for showing `spanMs`: a round width that gives at most
// about 3000 buckets.
qint64 bucketWidthFor(qint64 spanMs);

// A channel's line: per bucket its lowest and highest value (one point when
// they are equal) at the time of its last reading, and a NaN value where the
// line breaks: readings further apart than the gap, or none.
struct Point {
    qint64 ms;
    double value;
};
std::vector<Point> lineOf(const Series& s, int channel);

// The stretches [first, last reading] in which a channel was in alarm. A
// stretch ends at its last reading in alarm and at a gap.
std::vector<std::pair<qint64, qint64>> alarmStretches(const Series& s, int channel);
// Stretches less than `pauseMs` apart are one episode (a noisy value around
// its limit).
int alarmEpisodes(const std::vector<std::pair<qint64, qint64>>& stretches, qint64 pauseMs);

// The series as CSV for a spreadsheet: a header row ("time" and the channel
// labels), then a row per bucket with data: the time of its last reading in
// ISO 8601 with its UTC offset and the last values in the log's number form,
// an empty field where a channel has none. CR LF.
std::string csvOf(const Series& s, const ChannelArray<String>& labels);

// The trend's colour of every channel: its own colour letter where no other
// channel in `used` has the same one and it is not red (red means alarm),
// otherwise a colour of a palette that colour-blind eyes can tell apart.
std::array<Rgb, 9> trendColours(const ChannelArray<String>& letters, quint8 used);

// Reads a day's log file as a stream, `chunkBytes` at a time, whatever its
// size: calls `line` for every line that is in the log's form. The lines that
// are not are counted. Stops early when `cancel` turns true.
struct DayFileResult {
    bool opened = false;
    int skipped = 0;
};
DayFileResult readDayFile(const QByteArray& path, const std::function<void(const LogRecord&)>& line,
                          std::size_t chunkBytes = 1 << 20,
                          const std::function<void(qint64 bytes)>& progress = {},
                          const std::atomic<bool>* cancel = nullptr);

// What the trend reads from the log folder for a range.
struct HistoryRequest {
    QByteArray logDir;
    qint64 from = 0, to = 0, widthMs = 1000;
    qint64 until = INT64_MAX; // readings from here on are left out (the live store has them)
    ChannelArray<Single> setHi{}, setLo{};
    int channels = 8;
};
struct History {
    Series series;
    int skipped = 0;                   // lines that could not be read
    std::vector<std::string> problems; // "250312.txt: 3 lines could not be read"
    bool cancelled = false;
};

// Reads the day files of a range, one after the other, into buckets; alarms
// from the limits. Keeps what it read of whole past days, so that a range
// shown again is quick. Safe to use from one thread at a time.
class HistoryReader {
public:
    History read(const HistoryRequest& request, std::atomic<int>* permille = nullptr,
                 const std::atomic<bool>* cancel = nullptr);

private:
    struct Day {
        qint64 size = -1, mtime = 0, widthMs = 0;
        Series series;
        int skipped = 0;
        ChannelArray<Single> setHi{}, setLo{};
        int channels = 0;
    };
    std::mutex mutex_;
    std::map<QDate, Day> days_;
};

// [from, to) of the log files as CSV (csvOf), a row a second.
std::string historyCsv(const QByteArray& logDir, qint64 from, qint64 to,
                       const ChannelArray<String>& labels, const ChannelArray<Single>& setHi,
                       const ChannelArray<Single>& setLo, int channels);

} // namespace qm
