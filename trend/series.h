#pragma once

#include "app/types.h"

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
    qint64 medianMs() const; // 0 before the second reading

private:
    std::vector<std::uint32_t> bins_;
    std::uint64_t total_ = 0;
};

// Live, no reading for longer than this is worth a word: three times the
// usual interval, at least two seconds (the log's time has whole seconds),
// ten minutes while the rhythm is not known yet.
qint64 gapThresholdMs(qint64 medianMs);

// The program logs 0 for every channel it has not received yet, so its first
// line after a start can be all zeros: no measurement. The log does not mark
// a start; a line follows one when the time before it is far beyond the
// intervals around it (the day's midnight counts as the line before the
// first). Such a line in which every channel in use is exactly zero is left
// out; every other zero is a reading. Lines in order; each is passed on one
// line late, once the interval after it is known.
class StartZeros {
public:
    using Sink = std::function<void(qint64 ms, const LogRecord& line)>;
    StartZeros(qint64 previousMs, int channels, Sink sink);
    void add(qint64 ms, const LogRecord& line);
    void finish(); // passes on the line still held

private:
    void pass(qint64 nextInterval);
    qint64 previous_, pendingMs_ = 0;
    LogRecord pending_;
    bool holding_ = false;
    int channels_;
    Sink sink_;
    std::array<qint64, 8> intervals_{}; // the last intervals before the line held
    std::size_t seen_ = 0;
    qint64 gap_ = 0; // the interval before the line held
};

// Readings of a range of time in buckets of `widthMs` on a grid from the
// epoch: bucket k covers [from + k * width, from + (k + 1) * width).
struct Series {
    qint64 from = 0, widthMs = 1000;
    std::vector<Bucket> buckets;
    quint8 channels = 0; // channels with a value somewhere
    Series() = default;
    Series(qint64 fromMs, qint64 toMs, qint64 width);
    qint64 to() const { return from + qint64(buckets.size()) * widthMs; }
    void add(qint64 ms, const float* values, quint8 alarms, int channels);
    // Adds the buckets of another series on the same grid (those that begin
    // before `untilMs`).
    void add(const Series& other, qint64 untilMs = INT64_MAX);
    std::uint64_t readings() const;
};

// The bucket width for showing `spanMs`: a round width that gives at most
// about 3000 buckets.
qint64 bucketWidthFor(qint64 spanMs);

// Where the device stopped: true for a bucket with readings when the time
// from the readings before it is far beyond the intervals around it, judged
// on either side (so a slower rhythm after a faster one is no break), and at
// least two seconds (the log's time has whole seconds).
std::vector<bool> breaksBefore(const Series& s);

// A channel's line: per bucket its lowest and highest value (one point when
// they are equal) at the time of its last reading, and a NaN value where the
// line breaks (breaksBefore, or a reading without a value of the channel).
struct Point {
    qint64 ms;
    double value;
};
std::vector<Point> lineOf(const Series& s, int channel, const std::vector<bool>& breaks);

// The value range a strip shows: what all but the farthest half percent of the
// values on either side span (a lone spike is marked at the edge instead of
// setting the scale), its limits where they lie near, and a margin.
std::pair<double, double> valueScale(std::vector<double> values, float setLo, float setHi);

// The stretches [first, last reading] in which a channel was in alarm. A
// stretch ends at its last reading in alarm and at a gap.
std::vector<std::pair<qint64, qint64>> alarmStretches(const Series& s, int channel,
                                                      const std::vector<bool>& breaks);
// Stretches less than `pauseMs` apart are one episode (a noisy value around
// its limit).
int alarmEpisodes(const std::vector<std::pair<qint64, qint64>>& stretches, qint64 pauseMs);

// An instant as local time with its UTC offset, ISO 8601:
// "2026-10-25T02:00:29+02:00".
std::string isoLocal(qint64 ms);

// CSV for a spreadsheet, UTF-8, CR LF: a header row ("time" and the names of
// channels 1..channels), then the readings as logged, or per slice of
// `sliceMs` the lowest, mean and highest value of each channel (INF and -INF
// count for the lowest and highest only).
class CsvWriter {
public:
    CsvWriter(const ChannelArray<String>& labels, int channels, qint64 sliceMs = 0);
    void add(qint64 ms, const float* values); // values of channels 1..channels
    std::string take();                       // what is ready so far
    std::string finish();
    std::uint64_t rows() const { return rows_; }

private:
    void flushSlice();
    int channels_;
    qint64 sliceMs_, slice_ = INT64_MIN;
    std::array<float, 8> min_{}, max_{};
    std::array<double, 8> sum_{};
    std::array<int, 8> finite_{};
    bool any_ = false;
    std::uint64_t rows_ = 0;
    std::string out_;
};

// The series as CSV (for readings that were never logged): a row per bucket
// with data, its last values.
std::string csvOf(const Series& s, const ChannelArray<String>& labels, int channels);

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
    std::string problem; // why it cannot be read ("Permission denied", "a directory")
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
    bool tellMissing = false; // a day of the range without a log file is a problem
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
        std::string problem;
        ChannelArray<Single> setHi{}, setLo{};
        int channels = 0;
    };
    std::mutex mutex_;
    std::map<QDate, Day> days_;
};

// Every log line of [from, to) (the first lines after a start left out as
// in the trend) in order, to `write` as CSV; false when nothing was logged in
// the range. Stops early when `cancel` turns true.
bool exportLog(const HistoryRequest& range, const ChannelArray<String>& labels, qint64 sliceMs,
               const std::function<void(const std::string&)>& write,
               const std::atomic<bool>* cancel = nullptr, std::atomic<int>* permille = nullptr);

// [from, to) of the log files as CSV, every reading.
std::string historyCsv(const QByteArray& logDir, qint64 from, qint64 to,
                       const ChannelArray<String>& labels, const ChannelArray<Single>& setHi,
                       const ChannelArray<Single>& setLo, int channels);

} // namespace qm
