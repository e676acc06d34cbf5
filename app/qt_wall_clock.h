#pragma once

#include "sampling/platform.h"

#include <limits>

namespace qm {

// The local wall clock of the machine: the local time with its offset from
// UTC.
class SystemWallClock final : public WallClock {
public:
    QDateTime localNow() const override;

private:
    mutable qint64 second_ = std::numeric_limits<qint64>::min();
    mutable int offset_ = 0;
};

} // namespace qm
