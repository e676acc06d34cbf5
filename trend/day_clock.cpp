#include "trend/day_clock.h"

#include <QDateTime>

namespace qm {

namespace {

int offsetAt(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
}

} // namespace

DayClock::DayClock(QDate day)
    : localMidnight_((day.toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * 86'400'000)
    , offsetBefore_(QDateTime(day, QTime(0, 0)).offsetFromUtc())
    , offsetAfter_(QDateTime(day.addDays(1), QTime(0, 0)).offsetFromUtc())
{
    if (offsetBefore_ == offsetAfter_)
        return;
    // The first second on the new offset, to the second.
    qint64 lo = localMidnight_ / 1000 - offsetBefore_, hi = lo + 86'400 + 7200;
    while (hi - lo > 1) {
        const qint64 mid = lo + (hi - lo) / 2;
        (offsetAt(mid * 1000) == offsetAfter_ ? hi : lo) = mid;
    }
    const qint64 midnightSecond = localMidnight_ / 1000;
    changeOld_ = int(hi + offsetBefore_ - midnightSecond);
    changeNew_ = int(hi + offsetAfter_ - midnightSecond);
}

qint64 DayClock::instant(int second)
{
    const int previous = previous_;
    previous_ = second;
    if (previous > 86'340 && second < 60)
        nextDay_ = true;
    if (nextDay_)
        return localMidnight_ + 86'400'000 + (second - offsetAfter_) * 1000ll;
    int offset = offsetBefore_;
    if (changeNew_ < changeOld_) {
        // Clocks back: [changeNew_, changeOld_) comes twice.
        if (second >= changeOld_ ||
            (second >= changeNew_ && previous >= changeNew_ && second < previous))
            changed_ = true;
        if (second >= changeNew_ && changed_)
            offset = offsetAfter_;
    } else if (changeNew_ > changeOld_ && second >= changeOld_) {
        offset = offsetAfter_; // clocks forward: nothing was logged in between
    }
    return localMidnight_ + (second - offset) * 1000ll;
}

} // namespace qm
