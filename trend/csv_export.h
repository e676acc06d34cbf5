#pragma once

#include "base/types.h"
#include "trend/history_reader.h"
#include "trend/series.h"

#include <QByteArray>

#include <array>
#include <atomic>
#include <functional>
#include <string>

namespace qm {

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
