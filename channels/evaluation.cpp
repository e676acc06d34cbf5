#include "app/main_form.h"
#include "app/numbers.h"
#include "channels/limits.h"
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
    if (RVnr < 1 || RVnr > 8)
        return;
    const bool alarm = evaluateLimits(VValue, SetHi, SetLo, RVnr, alarms_);
    for (Integer ch = 1; ch <= RVnr; ++ch)
        Led1[ch].setFillStyle(alarms_[ch] ? FillStyle::Transparent : FillStyle::Solid);
    QDateTime time;
    if (LogOn == 1)
        time = WriteLog();
    if (WavOn == 1)
        TimerWav.setEnabled(alarm);
    if (!observers_.empty())
        notifyReading(time);
}

} // namespace qm
