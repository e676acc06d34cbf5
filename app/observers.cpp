#include "app/main_form.h"
#include "app/reading_observer.h"

namespace qm {

void MainForm::notifyReading(QDateTime time)
{
    if (!time.isValid())
        time = wallClock_.localNow();
    Reading r{time, VValue, {}, MyLabel, VColor, SetHi, SetLo, RVnr};
    for (int i = 1; i <= 8; ++i)
        r.alarms[i] = Led1[i].fillStyle() == FillStyle::Transparent;
    for (ReadingObserver* o : observers_)
        o->readingTaken(r);
}

void MainForm::linkIs(const QString& state)
{
    if (state == linkState_)
        return;
    linkState_ = state;
    for (ReadingObserver* o : observers_)
        o->linkChanged(state);
}

} // namespace qm
