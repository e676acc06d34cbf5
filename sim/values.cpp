#include "values.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qm::sim {

namespace {

std::string format(double v, int decimals)
{
    const double unit = decimals == 2 ? 0.01 : 0.1;
    if (std::fabs(v) < unit / 2)
        v = 0; // no "-0.0"
    char buf[64];
    // Locale-free: the device always sends "." as its decimal point.
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, res.ptr);
}

} // namespace

Values::Values(std::uint64_t seed, bool timeBased, Clock::time_point start)
    : rng_(seed)
    , timeBased_(timeBased)
{
    // value, min, max, step, decimals
    walks_[1] = {21.0, 15.0, 30.0, 0.15, 1};  // room temperature
    walks_[2] = {18.5, 15.0, 30.0, 0.10, 1};  // inlet temperature
    walks_[3] = {24.0, 15.0, 30.0, 0.20, 1};  // outlet temperature
    walks_[4] = {16.5, 15.0, 30.0, 0.10, 2};  // outdoor temperature
    walks_[5] = {55.0, 5.0, 95.0, 0.80, 1};   // tank level, %
    walks_[6] = {1.01, 0.90, 1.10, 0.005, 2}; // pressure, bar
    walks_[7] = {45.0, 30.0, 70.0, 0.40, 1};  // humidity, %
    walks_[8] = {12.2, 11.5, 12.8, 0.02, 2};  // supply voltage
    for (int c = 1; c <= 8; ++c) {
        Walk& w = walks_[c];
        w.value = std::clamp(w.value + uniform(-w.step, w.step) * 5, w.min, w.max);
    }
    nextRound_ = 3 + static_cast<long long>(rng_() % 4);
    nextTime_ = start + std::chrono::milliseconds(15000 + static_cast<long long>(rng_() % 10000));
}

double Values::uniform(double lo, double hi)
{
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
}

void Values::startExcursion(Clock::time_point now)
{
    outChannel_ = 1 + static_cast<int>(rng_() % 8);
    // Above the default upper limit 99.9 or below the default lower limit 0.
    outValue_ = (rng_() % 2) ? uniform(100.5, 130.0) : uniform(-20.0, -0.5);
    if (timeBased_) {
        endTime_ = now + std::chrono::milliseconds(3000 + static_cast<long long>(rng_() % 3000));
        nextTime_ =
            endTime_ + std::chrono::milliseconds(15000 + static_cast<long long>(rng_() % 10000));
    } else {
        endRound_ = round_ + 1 + static_cast<long long>(rng_() % 2);
        nextRound_ = endRound_ + 3 + static_cast<long long>(rng_() % 4);
    }
}

void Values::advance(Clock::time_point now)
{
    ++round_;
    for (int c = 1; c <= 8; ++c) {
        Walk& w = walks_[c];
        w.value += std::normal_distribution<double>(0.0, w.step)(rng_);
        // Reflect at the bounds so the walk stays plausible.
        if (w.value > w.max)
            w.value = 2 * w.max - w.value;
        if (w.value < w.min)
            w.value = 2 * w.min - w.value;
        w.value = std::clamp(w.value, w.min, w.max);
    }

    if (outChannel_ != 0) {
        const bool over = timeBased_ ? now >= endTime_ : round_ >= endRound_;
        if (over)
            outChannel_ = 0;
        else
            outValue_ += outValue_ > 0 ? uniform(0, 0.5) : -uniform(0, 0.5); // stays out
    }
    if (outChannel_ == 0) {
        const bool due = timeBased_ ? now >= nextTime_ : round_ >= nextRound_;
        if (due)
            startExcursion(now);
    }
}

std::string Values::text(int channel) const
{
    if (channel < 1 || channel > 8)
        return "0";
    const Walk& w = walks_[channel];
    if (channel == outChannel_)
        return format(outValue_, 1);
    return format(w.value, w.decimals);
}

std::string Values::malformedLine(int channel, const std::string& id)
{
    const std::string ch = "V0" + std::to_string(channel);
    switch (rng_() % 9) {
    case 0: { // binary bytes, anything but a line end
        std::string s;
        const int n = 1 + static_cast<int>(rng_() % 40);
        while (static_cast<int>(s.size()) < n) {
            const char b = static_cast<char>(rng_() & 0xFF);
            if (b != '\r' && b != '\n')
                s += b;
        }
        return s;
    }
    case 1: { // overlong digits: more than any number type holds
        std::string digits = "9";
        const int n = 40 + static_cast<int>(rng_() % 360);
        for (int i = 0; i < n; ++i)
            digits += static_cast<char>('0' + rng_() % 10);
        return id + ch + "=" + digits;
    }
    case 2: // missing "="
        return id + ch + text(channel);
    case 3: // channel number with one digit
        return id + "V9=" + text(channel);
    case 4: // channel out of range
        return id + ((rng_() % 2) ? "V09=" : "V00=") + text(channel);
    case 5: // no value
        return id + ch + "=";
    case 6: // not a number
        return id + ch + "=abc";
    case 7: // lower case
        return id + "v0" + std::to_string(channel) + "=" + text(channel);
    default: // wrong identifier
        return (id.empty() ? std::string("X") : std::string()) + ch + "=" + text(channel);
    }
}

} // namespace qm::sim
