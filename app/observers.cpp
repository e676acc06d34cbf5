#include "app/main_form.h"
#include "app/reading_observer.h"

namespace qm {

void MainForm::notifyReading(QDateTime time)
{
    if (!time.isValid())
        time = wallClock_.localNow();
    Reading r{time,
              values,
              alarms_,
              settings.labels,
              settings.colours,
              settings.setHi,
              settings.setLo,
              settings.valueCount};
    for (int i = 1; i <= kChannels; ++i)
        r.texts[i] = valueDisplays[i].text();
    for (ReadingObserver* o : observers_)
        o->readingTaken(r);
}

void MainForm::tellObserversOfLink(const LinkState& state)
{
    for (ReadingObserver* o : observers_)
        o->linkChanged(state);
}

} // namespace qm
