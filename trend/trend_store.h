#pragma once

#include "app/reading_observer.h"

#include <QByteArray>
#include <QDate>

#include <array>
#include <cmath>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

namespace qm {

// One channel's values within a span of time: the lowest and highest finite
// value, the last value, and whether an infinity (a value beyond the scaling,
// logged as INF / -INF) fell into it.
struct Span {
    float min = NAN, max = NAN, last = NAN;
    bool posInf = false, negInf = false;
    int count = 0; // readings
    void add(float v);
    void add(const Span& s);
    bool empty() const { return count == 0; }
};

// A log line taken apart: the time of day and the eight values. Nothing for a
// line that is not exactly the log's form (cut off, edited by hand).
struct LogRecord {
    int secondOfDay = 0;
    std::array<float, 9> values{}; // elements 1..8
};
std::optional<LogRecord> parseLogRecord(std::string_view line);

// The column (0..columns-1) a time falls into when [from, to) is drawn
// `columns` wide; -1 outside.
int columnOf(qint64 ms, qint64 from, qint64 to, int columns);

// Every channel's history for the trend: per second the lowest, highest and
// last value of the last 24 hours in a fixed ring, and the readings of the
// last 10 minutes as they came (at most kMaxRaw of them). Memory stays the
// same whatever the rate: about 15 MB, taken with the first reading.
class TrendStore final : public ReadingObserver {
public:
    static constexpr qint64 kDayMs = 86'400'000;
    static constexpr qint64 kRawMs = 600'000;
    static constexpr std::size_t kMaxRaw = 100'000;
    using Alarms = quint8; // bit i-1: channel i in alarm

    TrendStore();
    void readingTaken(const Reading& r) override;
    // One reading of channels 1..channels at `ms` (since the epoch).
    void add(qint64 ms, const std::array<float, 9>& values, Alarms alarms, int channels);
    // Fills the store from a log file of `date`, readings from `fromMs` on;
    // the alarms from the limits. Returns the lines that could not be read.
    int loadLog(const QByteArray& path, QDate date, qint64 fromMs,
                const ChannelArray<Single>& setHi, const ChannelArray<Single>& setLo, int channels);

    // The last 24 hours before `now` from the log folder (the files of
    // yesterday and today). Returns the lines that could not be read.
    int loadHistory(const QByteArray& logDir, const QDateTime& now,
                    const ChannelArray<Single>& setHi, const ChannelArray<Single>& setLo,
                    int channels);
    // [from, to) as CSV: a line a second with data, the quoted date and time
    // and the eight last values in the log's number form, CR LF.
    std::string csv(qint64 from, qint64 to) const;

    // [from, to) drawn `columns` wide: each column's span of every channel.
    std::vector<std::array<Span, 9>> columns(qint64 from, qint64 to, int columns) const;
    // The stretches [start, end) in which a channel of `mask` was in alarm.
    std::vector<std::pair<qint64, qint64>> alarmStretches(Alarms mask, qint64 from,
                                                          qint64 to) const;
    // How many stretches each channel had within [from, to), in one pass.
    std::array<int, 9> alarmStretchCounts(qint64 from, qint64 to) const;
    // The whole of [from, to) as one span per channel.
    std::array<Span, 9> summary(qint64 from, qint64 to) const { return columns(from, to, 1).at(0); }
    quint8 channelsWithData() const { return withData_; }
    qint64 newest() const { return newest_; }
    quint64 version() const { return version_; }  // moves with every reading
    int skippedLines() const { return skipped_; } // log lines that could not be read

    // What the window shows besides the data, from the latest reading.
    ChannelArray<String> labels, colours;
    ChannelArray<Single> setHi{}, setLo{};

private:
    struct Second {               // channel i at [i - 1]
        qint64 epoch = INT64_MIN; // the second (since the epoch) this slot holds
        std::array<float, 8> min, max, last;
        quint16 count = 0;
        quint8 has = 0, posInf = 0, negInf = 0;
        Alarms alarms = 0;
    };
    struct Raw {
        qint64 ms;
        std::array<float, 8> values; // channel i at [i - 1]
        Alarms alarms;
        quint8 channels;
    };
    // Calls f(ms, spans-or-values, alarms) for the data within [from, to):
    // the raw readings when they cover it, else the seconds.
    template <class F>
    void forEach(qint64 from, qint64 to, F&& f) const;

    std::vector<Second> seconds_;
    std::deque<Raw> raw_;
    qint64 rawFrom_ = INT64_MIN; // the raw readings are complete from here on
    qint64 newest_ = INT64_MIN;
    quint64 version_ = 0;
    quint8 withData_ = 0;
    int skipped_ = 0;
};

} // namespace qm
