#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>

namespace qm::sim {

using Clock = std::chrono::steady_clock;

// The eight measured values of the simulated device: slow random walks
// (four temperatures, a tank level, a pressure, a humidity, a supply voltage),
// where now and then one channel leaves 0..99.9 for a while so that alarm
// lamps and log files have something to show.
class Values {
public:
    // `timeBased`: excursions every ~20 s of real time (continuous sending);
    // otherwise every few rounds (values read on request).
    Values(std::uint64_t seed, bool timeBased, Clock::time_point start);

    // One step of every walk: called once per round of readings.
    void advance(Clock::time_point now);

    // The value text of channel 1..8, with one or two decimals.
    std::string text(int channel) const;

    // A line that is not a well-formed value line for `channel` (without the
    // line end): binary bytes, overlong digits, missing "=", wrong channel...
    std::string malformedLine(int channel, const std::string& id);

    std::mt19937_64& random() { return rng_; }

private:
    struct Walk {
        double value;
        double min;
        double max;
        double step;
        int decimals;
    };
    double uniform(double lo, double hi);
    void startExcursion(Clock::time_point now);

    std::mt19937_64 rng_;
    bool timeBased_;
    std::array<Walk, 9> walks_{}; // element 0 unused
    long long round_ = 0;

    // The channel out of range and its value, 0 = none.
    int outChannel_ = 0;
    double outValue_ = 0;
    // Next excursion and end of the current one, in rounds or in time.
    long long nextRound_ = 0;
    long long endRound_ = 0;
    Clock::time_point nextTime_;
    Clock::time_point endTime_;
};

} // namespace qm::sim
