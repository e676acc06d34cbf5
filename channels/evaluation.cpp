#include "app/main_form.h"
#include "app/numbers.h"
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

} // namespace qm
