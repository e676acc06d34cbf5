#include "channels/limits.h"

namespace qm {

bool evaluateLimits(const ChannelArray<Single>& values, const ChannelArray<Single>& setHi,
                    const ChannelArray<Single>& setLo, int count, ChannelArray<bool>& alarms)
{
    bool any = false;
    for (int ch = 1; ch <= count && ch < static_cast<int>(alarms.size()); ++ch) {
        const bool high = values[ch] > setHi[ch];
        const bool low = values[ch] < setLo[ch];
        alarms[ch] = high || low;
        any = any || alarms[ch];
    }
    return any;
}

} // namespace qm
