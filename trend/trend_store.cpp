#include "trend/trend_store.h"

#include <algorithm>
#include <utility>

namespace qm {

TrendStore::TrendStore()
    : ring_(std::size_t(kDayMs / 1000) / kChunk)
{
}

TrendStore::~TrendStore() = default;

void TrendStore::readingTaken(const Reading& r)
{
    std::array<float, 9> values{};
    Alarms alarms = 0;
    for (int i = 1; i <= 8; ++i) {
        values[std::size_t(i)] = r.values[std::size_t(i)];
        alarms |= r.alarms[std::size_t(i)] && i <= r.channels ? 1 << (i - 1) : 0;
    }
    labels = r.labels;
    colours = r.colours;
    setHi = r.setHi;
    setLo = r.setLo;
    channels = r.channels;
    add(r.time.toMSecsSinceEpoch(), values, alarms, r.channels);
}

void TrendStore::setChannels(const ChannelArray<String>& l, const ChannelArray<String>& c,
                             const ChannelArray<Single>& hi, const ChannelArray<Single>& lo, int n)
{
    labels = l;
    colours = c;
    setHi = hi;
    setLo = lo;
    channels = n;
}

TrendStore::Second* TrendStore::slot(qint64 epoch, bool create)
{
    const std::size_t size = ring_.size() * kChunk;
    const std::size_t at = std::size_t(((epoch % qint64(size)) + qint64(size)) % qint64(size));
    std::unique_ptr<Second[]>& chunk = ring_[at / kChunk];
    if (!chunk) {
        if (!create)
            return nullptr;
        chunk = std::make_unique<Second[]>(kChunk);
    }
    return &chunk[at % kChunk];
}

void TrendStore::add(qint64 ms, std::array<float, 9> values, Alarms alarms, int n)
{
    n = std::clamp(n, 0, 8);
    if (std::exchange(started_, false) && n > 0 &&
        std::all_of(values.begin() + 1, values.begin() + 1 + n, [](float v) { return v == 0; }))
        return;
    if (newest_ != INT64_MIN && ms >= newest_)
        rhythm_.add(ms - newest_);
    const qint64 epoch = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    Second& s = *slot(epoch, true);
    if (s.epoch < epoch)
        s = Second{epoch, {}};
    if (s.epoch == epoch) // an older second than the slot holds is past the ring
        s.bucket.add(ms, values.data() + 1, alarms, n);
    first_ = std::min(first_, ms);
    newest_ = std::max(newest_, ms);
    Raw raw{ms, {}, alarms, quint8(n)};
    std::copy(values.begin() + 1, values.end(), raw.values.begin());
    raw_.push_back(raw);
    while (!raw_.empty() && (raw_.size() > kMaxRaw || raw_.front().ms < newest_ - kRawMs)) {
        rawFrom_ = std::max(rawFrom_, raw_.front().ms + 1);
        raw_.pop_front();
    }
    ++version_;
}

qint64 TrendStore::coverageFrom() const
{
    if (newest_ == INT64_MIN)
        return INT64_MAX;
    return std::max(first_, (newest_ / 1000 + 1) * 1000 - kDayMs);
}

Series TrendStore::series(qint64 from, qint64 to, qint64 widthMs) const
{
    Series out(from, to, widthMs);
    // The raw readings where they cover the range and the buckets are finer
    // than a second; else the seconds.
    if (out.from >= rawFrom_ || (widthMs < 1000 && !raw_.empty())) {
        const auto begin = std::lower_bound(raw_.begin(), raw_.end(), out.from,
                                            [](const Raw& r, qint64 t) { return r.ms < t; });
        for (auto r = begin; r != raw_.end() && r->ms < out.to(); ++r)
            out.add(r->ms, r->values.data(), r->alarms, r->channels);
        if (out.from >= rawFrom_)
            return out;
    }
    const qint64 size = qint64(ring_.size() * kChunk);
    const qint64 firstSecond = std::max(out.from / 1000, newest_ / 1000 - size + 1);
    const qint64 lastSecond = widthMs < 1000 ? rawFrom_ / 1000 - 1 : out.to() / 1000;
    for (qint64 s = firstSecond; s <= lastSecond && s * 1000 < out.to(); ++s) {
        const Second* slot = const_cast<TrendStore*>(this)->slot(s, false);
        if (!slot || slot->epoch != s || slot->bucket.count == 0)
            continue;
        const qint64 at = std::max(slot->bucket.lastMs, out.from);
        Bucket& b = out.buckets[std::size_t((at - out.from) / out.widthMs)];
        b.add(slot->bucket);
        out.channels |= slot->bucket.has;
    }
    return out;
}

std::size_t TrendStore::memoryBytes() const
{
    std::size_t n = raw_.size() * sizeof(Raw);
    for (const auto& chunk : ring_)
        n += chunk ? kChunk * sizeof(Second) : 0;
    return n;
}

} // namespace qm
