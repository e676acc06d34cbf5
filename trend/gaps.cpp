#include "trend/gaps.h"

#include <algorithm>

namespace qm {

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

} // namespace qm
