#pragma once

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <vector>

namespace qm {

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

} // namespace qm
