#pragma once

#include "sampling/log_record.h"
#include "trend/series.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace qm {

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

// Where the device stopped: true for a bucket with readings when the time
// from the readings before it is far beyond the intervals around it, judged
// on either side (so a slower rhythm after a faster one is no break), and at
// least two seconds (the log's time has whole seconds).
std::vector<bool> breaksBefore(const Series& s);

} // namespace qm
