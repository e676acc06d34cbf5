#include "app/main_form.h"
#include "device/requests.h"
#include "device/serial_port.h"

namespace qm {

void MainForm::sampleClockTick()
{
    statusLine.setText(QStringLiteral("STime:") + QString::number(settings.sampleTime) +
                       QStringLiteral(" STimer:") + QString::number(sampleCount));
    // The counter stays within its 16 bits even when no cycle ever resets it
    // (a sample time changed to 0 or less while the clock runs).
    if (sampleCount < INT16_MAX)
        ++sampleCount;
    // The clock counts on while a cycle runs, but starts no second one.
    if (sampleCount != settings.sampleTime || sampleCycle_.running())
        return;
    if (settings.valueCount < 1 || settings.valueCount > kChannels) {
        sampleCount = 0;
        return;
    }
    sampleCycle_.start(settings.valueCount);
}

QDateTime MainForm::writeLogLine()
{
    const QDateTime now = wallClock_.localNow();
    dayLog_.write(now, values);
    return now;
}

bool MainForm::requestValue(int channel)
{
    // Port closed or gone: this request is skipped, the cycle goes on.
    return link_.request(valueRequest(settings.deviceId, channel));
}

void MainForm::replyWaitMayBeOver()
{
    if (!link_.awaitingReply())
        sampleCycle_.replyWaitOver();
}

} // namespace qm
