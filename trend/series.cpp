#include "trend/series.h"

#include <algorithm>
#include <cmath>

namespace qm {

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

} // namespace qm
