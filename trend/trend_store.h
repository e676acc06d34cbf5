#pragma once

#include "sampling/reading_observer.h"
#include "trend/gaps.h"
#include "trend/series.h"

#include <QByteArray>

#include <array>
#include <deque>
#include <memory>
#include <vector>

namespace qm {

// The readings of this run of the program for the trend: per second the
// lowest, highest and last value of the last 24 hours, and the readings of
// the last 10 minutes as they came (at most kMaxRaw of them). Memory stays
// bounded whatever the rate; the per-second ring is taken an hour at a time,
// as the readings arrive. What is older comes from the log files.
class TrendStore final : public ReadingObserver {
public:
    static constexpr qint64 kDayMs = 86'400'000;
    static constexpr qint64 kRawMs = 600'000;
    static constexpr std::size_t kMaxRaw = 100'000;
    using Alarms = quint8; // bit i-1: channel i in alarm

    TrendStore();
    ~TrendStore() override;
    void readingTaken(const Reading& r) override;
    // One reading of channels 1..channels at `ms` (since the epoch); the first
    // of the run is left out when every channel in it is zero (nothing read yet).
    void add(qint64 ms, std::array<float, 9> values, Alarms alarms, int channels);
    // What the window shows besides the data, from the settings until the
    // first reading, then from the latest.
    void setChannels(const ChannelArray<String>& labels, const ChannelArray<String>& colours,
                     const ChannelArray<Single>& setHi, const ChannelArray<Single>& setLo,
                     int channels);

    // The readings within [from, to) in buckets of `widthMs`.
    Series series(qint64 from, qint64 to, qint64 widthMs) const;
    // The store holds every reading from here on; before it, the log files.
    qint64 coverageFrom() const;
    qint64 newest() const { return newest_; } // INT64_MIN before the first reading
    qint64 gapMs() const { return gapThresholdMs(rhythm_.medianMs()); }
    quint64 version() const { return version_; } // moves with every reading
    std::size_t memoryBytes() const;

    ChannelArray<String> labels, colours;
    ChannelArray<Single> setHi{}, setLo{};
    int channels = 8; // channels 1..channels are read

private:
    struct Second {               // channel i at [i - 1]
        qint64 epoch = INT64_MIN; // the second (since the epoch) this slot holds
        Bucket bucket;
    };
    struct Raw {
        qint64 ms;
        std::array<float, 8> values; // channel i at [i - 1]
        Alarms alarms;
        quint8 channels;
    };
    static constexpr std::size_t kChunk = 3600; // seconds of the ring taken at a time
    Second* slot(qint64 epoch, bool create);

    std::vector<std::unique_ptr<Second[]>> ring_;
    std::deque<Raw> raw_;
    qint64 rawFrom_ = INT64_MIN; // the raw readings are complete from here on
    qint64 first_ = INT64_MAX;
    qint64 newest_ = INT64_MIN;
    quint64 version_ = 0;
    Rhythm rhythm_;
    bool started_ = true; // the next reading is the first of this run
};

} // namespace qm
