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

std::vector<qint64> localTicks(qint64 from, qint64 to, int most)
{
    static constexpr qint64 steps[] = {
        1,    2,    5,    10,    15,    30,    60,    120,       300,       600,        900,
        1800, 3600, 7200, 10800, 21600, 43200, 86400, 2 * 86400, 7 * 86400, 14 * 86400, 28 * 86400};
    std::vector<qint64> out;
    if (to <= from || most < 1)
        return out;
    qint64 step = std::end(steps)[-1];
    for (const qint64 s : steps)
        if ((to - from) / (s * 1000) + 1 <= most) {
            step = s;
            break;
        }
    if (step < 3600) {
        // Within an hour the offset is one: round the local time.
        const qint64 offset = offsetAt(from) * 1000ll, stepMs = step * 1000;
        const qint64 local = from + offset;
        qint64 t = (local >= 0 ? (local + stepMs - 1) / stepMs : local / stepMs) * stepMs;
        for (; t - offset < to; t += stepMs)
            out.push_back(t - offset - (offsetAt(t - offset) * 1000ll - offset));
        return out;
    }
    const QDate first = QDateTime::fromMSecsSinceEpoch(from).date();
    const QDate last = QDateTime::fromMSecsSinceEpoch(to).date();
    for (QDate d = first; d <= last; d = d.addDays(1)) {
        if (step >= 86400) {
            const qint64 days = step / 86400;
            // Weeks begin on Monday; other day steps count from the epoch.
            const qint64 n =
                days >= 7 ? (d.dayOfWeek() == 1 ? d.toJulianDay() / 7 : -1) : d.toJulianDay();
            if (n < 0 || n % (days >= 7 ? days / 7 : days) != 0)
                continue;
        }
        for (qint64 s = 0; s < 86400; s += std::min<qint64>(step, 86400)) {
            const qint64 t = QDateTime(d, QTime(0, 0).addSecs(int(s))).toMSecsSinceEpoch();
            if (t >= from && t < to && (out.empty() || t > out.back()))
                out.push_back(t);
        }
    }
    return out;
}

} // namespace qm
