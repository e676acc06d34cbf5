#include "app/main_form.h"
#include "app/numbers.h"
#include "app/reading_observer.h"
#include "channels/value_text.h"

namespace qm {

bool MainForm::UpdateChannelValue(Integer channel, std::string_view valueText)
{
    Single& v = VValue.at(static_cast<std::size_t>(channel));
    v = valueOfText(valueText);
    if (!scaleAndRound(v, Nr1[channel], Nr2[channel]))
        return false;
    lblDIS[channel].setText(displayForm(v, locale_));
    return true;
}

void MainForm::cmdRadni1_Click()
{
    Integer alarm = 0;
    if (RVnr < 1 || RVnr > 8)
        return;
    for (Integer ch = 1; ch <= RVnr; ++ch) {
        // Both tests are made; either one lights the lamp.
        const bool high = VValue[ch] > SetHi[ch];
        const bool low = VValue[ch] < SetLo[ch];
        Led1[ch].setFillStyle(high || low ? FillStyle::Transparent : FillStyle::Solid);
        if (high || low)
            alarm = 1;
    }
    QDateTime time;
    if (LogOn == 1)
        time = WriteLog();
    if (WavOn == 1)
        TimerWav.setEnabled(alarm == 1);
    if (!observers_.empty())
        notifyReading(time);
}

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
