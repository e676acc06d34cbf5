#include "app/qt_wall_clock.h"

namespace qm {

// The zone's offset is looked up once a second (offsets change only at whole
// seconds): a lookup stats /etc/localtime each time, which at hundreds of
// readings a second costs more than the reading.
QDateTime SystemWallClock::localNow() const
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != second_) {
        second_ = second;
        offset_ = QDateTime::fromSecsSinceEpoch(second).offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset_);
}

} // namespace qm
