#pragma once

#include "base/types.h"
#include "trend/series.h"

#include <array>
#include <utility>
#include <vector>

namespace qm {

// A channel's line: per bucket its lowest and highest value (one point when
// they are equal) at the time of its last reading, and a NaN value where the
// line breaks (breaksBefore, or a reading without a value of the channel).
struct Point {
    qint64 ms;
    double value;
};
std::vector<Point> lineOf(const Series& s, int channel, const std::vector<bool>& breaks);

// The value range a strip shows: what all but the farthest half percent of the
// values on either side span (a lone spike is marked at the edge instead of
// setting the scale), its limits where they lie near, and a margin.
std::pair<double, double> valueScale(std::vector<double> values, float setLo, float setHi);

// The stretches [first, last reading] in which a channel was in alarm. A
// stretch ends at its last reading in alarm and at a gap.
std::vector<std::pair<qint64, qint64>> alarmStretches(const Series& s, int channel,
                                                      const std::vector<bool>& breaks);
// Stretches less than `pauseMs` apart are one episode (a noisy value around
// its limit).
int alarmEpisodes(const std::vector<std::pair<qint64, qint64>>& stretches, qint64 pauseMs);

// The trend's colour of every channel: its own colour letter where no other
// channel in `used` has the same one and it is not red (red means alarm),
// otherwise a colour of a palette that colour-blind eyes can tell apart.
std::array<Rgb, 9> trendColours(const ChannelArray<String>& letters, quint8 used);

} // namespace qm
