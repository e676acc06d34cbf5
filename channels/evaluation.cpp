#include "app/main_form.h"
#include "app/numbers.h"
#include "channels/limits.h"
#include "channels/value_text.h"

namespace qm {

bool MainForm::updateChannelValue(Integer channel, std::string_view valueText)
{
    Single& v = values.at(static_cast<std::size_t>(channel));
    v = valueOfText(valueText);
    if (!scaleAndRound(v, settings.offsets[channel], settings.factors[channel]))
        return false;
    valueDisplays[channel].setText(displayForm(v, locale_));
    return true;
}

void MainForm::evaluateChannels()
{
    if (settings.valueCount < 1 || settings.valueCount > kChannels)
        return;
    const bool alarm =
        evaluateLimits(values, settings.setHi, settings.setLo, settings.valueCount, alarms_);
    for (Integer ch = 1; ch <= settings.valueCount; ++ch)
        alarmLamps[ch].setFillStyle(alarms_[ch] ? FillStyle::Transparent : FillStyle::Solid);
    QDateTime time;
    if (settings.logOn == 1)
        time = writeLogLine();
    if (settings.soundOn == 1)
        soundTimer.setEnabled(alarm);
    if (!observers_.empty())
        notifyReading(time);
}

} // namespace qm
