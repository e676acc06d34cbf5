#include "trend/plot_data.h"

#include "settings/settings_file.h"

#include <algorithm>
#include <cmath>

namespace qm {

std::vector<Point> lineOf(const Series& s, int channel, const std::vector<bool>& breaks)
{
    std::vector<Point> out;
    qint64 previous = INT64_MIN;
    bool broken = false;
    const std::size_t c = std::size_t(channel - 1);
    for (std::size_t k = 0; k < s.buckets.size(); ++k) {
        const Bucket& b = s.buckets[k];
        if (b.count == 0)
            continue;
        broken = broken || breaks[k];
        if (!b.hasChannel(channel) || std::isnan(b.min[c])) {
            broken = broken || !b.hasChannel(channel);
            continue;
        }
        if (previous != INT64_MIN && broken)
            out.push_back({(previous + b.firstMs) / 2, NAN});
        broken = false;
        out.push_back({b.lastMs, b.min[c]});
        if (b.max[c] != b.min[c])
            out.push_back({b.lastMs, b.max[c]});
        previous = b.lastMs;
    }
    return out;
}

std::vector<std::pair<qint64, qint64>> alarmStretches(const Series& s, int channel,
                                                      const std::vector<bool>& breaks)
{
    std::vector<std::pair<qint64, qint64>> out;
    const quint8 bit = quint8(1u << (channel - 1));
    bool open = false;
    for (std::size_t k = 0; k < s.buckets.size(); ++k) {
        const Bucket& b = s.buckets[k];
        if (b.count > 0 && (breaks[k] || !(b.has & bit)))
            open = false;
        if (!(b.has & bit))
            continue;
        if (b.alarm & bit) {
            if (!open)
                out.push_back({b.firstMs, b.lastMs});
            out.back().second = b.lastMs;
            open = true;
        } else {
            open = false;
        }
    }
    return out;
}

std::pair<double, double> valueScale(std::vector<double> values, float setLo, float setHi)
{
    std::erase_if(values, [](double v) { return !std::isfinite(v); });
    double lo = std::min<double>(setLo, setHi), hi = std::max<double>(setLo, setHi);
    if (values.empty()) {
        if (!(lo <= hi) || hi - lo > 1e6) {
            lo = 0;
            hi = 1;
        }
    } else {
        const std::size_t n = values.size(), k = n / 200;
        std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
        lo = values[k];
        std::nth_element(values.begin(), values.end() - std::ptrdiff_t(k + 1), values.end());
        hi = values[n - 1 - k];
        // What lies close beyond the bulk is no outlier.
        const double reach = std::max(hi - lo, std::max(std::abs(hi), 1.0) * 0.02) * 0.25;
        const double bulkLo = lo, bulkHi = hi;
        for (const double v : values) {
            if (v >= bulkLo - reach)
                lo = std::min(lo, v);
            if (v <= bulkHi + reach)
                hi = std::max(hi, v);
        }
        const double near = std::max(hi - lo, std::max(std::abs(hi), 1.0) * 0.1);
        for (const float limit : {setHi, setLo})
            if (std::isfinite(limit) && limit > lo - near && limit < hi + near) {
                lo = std::min<double>(lo, limit);
                hi = std::max<double>(hi, limit);
            }
    }
    const double margin = hi > lo ? (hi - lo) * 0.08 : std::max(std::abs(hi) * 0.05, 0.5);
    return {lo - margin, hi + margin};
}

int alarmEpisodes(const std::vector<std::pair<qint64, qint64>>& stretches, qint64 pauseMs)
{
    int n = 0;
    for (std::size_t k = 0; k < stretches.size(); ++k)
        n += k == 0 || stretches[k].first - stretches[k - 1].second >= pauseMs;
    return n;
}

std::array<Rgb, 9> trendColours(const ChannelArray<String>& letters, quint8 used)
{
    // Okabe and Ito's palette, lightened where it is too dark on black; each
    // with the letter whose colour it stands in for.
    static constexpr std::pair<const char*, Rgb> palette[] = {
        {"B", {86, 180, 233}}, {"", {230, 159, 0}},    {"G", {0, 158, 115}},  {"", {204, 121, 167}},
        {"Y", {240, 228, 66}}, {"W", {200, 200, 200}}, {"", {100, 150, 255}}, {"", {213, 94, 0}},
    };
    std::array<Rgb, 9> out{};
    std::array<bool, 9> own{};
    const auto isUsed = [&](int i) { return (used >> (i - 1) & 1) != 0; };
    std::string kept;
    for (int i = 1; i <= 8; ++i) {
        const String& l = letters[std::size_t(i)];
        int same = 0;
        for (int j = 1; j <= 8; ++j)
            same += isUsed(j) && colorForLetter(letters[std::size_t(j)]) == colorForLetter(l);
        own[std::size_t(i)] = isUsed(i) && same == 1 && !(colorForLetter(l) == colors::kRed);
        if (own[std::size_t(i)]) {
            out[std::size_t(i)] = colorForLetter(l);
            kept += colorForLetter(l) == colors::kWhite ? "W" : l;
        }
    }
    std::size_t next = 0;
    for (int i = 1; i <= 8; ++i) {
        if (own[std::size_t(i)])
            continue;
        while (next < std::size(palette) - 1 && *palette[next].first &&
               kept.find(palette[next].first) != std::string::npos)
            ++next;
        out[std::size_t(i)] = palette[std::min(next, std::size(palette) - 1)].second;
        next = std::min(next + 1, std::size(palette) - 1);
    }
    return out;
}

} // namespace qm
