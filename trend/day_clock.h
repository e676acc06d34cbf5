#pragma once

#include <QDate>

#include <vector>

namespace qm {

// The instants of a day file's lines. The log holds local wall-clock times of
// the file's date; read in the order written, each becomes an instant (ms
// since the epoch). On the day the clocks go back, the repeated hour is logged
// twice: a time that steps back within it, or one past it, belongs to the
// later offset. On the day they go forward, the skipped hour is no gap. A time
// just after midnight at the end of the file is the next day's.
class DayClock {
public:
    explicit DayClock(QDate day);
    qint64 instant(int secondOfDay);
    // The day's midnight as an instant (the start of the day).
    qint64 midnight() const { return localMidnight_ - qint64(offsetBefore_) * 1000; }

private:
    qint64 localMidnight_ = 0;               // the date's midnight as if it were UTC
    int offsetBefore_ = 0, offsetAfter_ = 0; // seconds east of UTC
    // The local second of the change on the clock before and after it.
    int changeOld_ = 0, changeNew_ = 0;
    bool changed_ = false; // the lines are past the change
    bool nextDay_ = false;
    int previous_ = -1;
};

// Times for the ticks of a time axis over [from, to): at most `most` of them
// on round local times (whole minutes, hours, local midnights, Mondays), the
// step the smallest round one that fits.
std::vector<qint64> localTicks(qint64 from, qint64 to, int most);

} // namespace qm
