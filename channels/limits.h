#pragma once

#include "base/types.h"

namespace qm {

// Channels 1..count against their limits: a value above its Set Hi or below
// its Set Lo is in alarm (both tests are made; either one is enough). The
// flags of channels beyond `count` stay as they were, as their lamps do.
// Returns whether any of channels 1..count is in alarm.
bool evaluateLimits(const ChannelArray<Single>& values, const ChannelArray<Single>& setHi,
                    const ChannelArray<Single>& setLo, int count, ChannelArray<bool>& alarms);

} // namespace qm
