#include "app/main_form.h"
#include "device/requests.h"
#include "device/serial_port.h"

namespace qm {

void MainForm::StTimer_Timer()
{
    lblStatus.setText(QStringLiteral("STime:") + QString::number(STime) +
                      QStringLiteral(" STimer:") + QString::number(STimerCnt));
    // The counter stays within its 16 bits even when no cycle ever resets it
    // (a sample time changed to 0 or less while the clock runs).
    if (STimerCnt < INT16_MAX)
        ++STimerCnt;
    // The clock counts on while a cycle runs, but starts no second one.
    if (STimerCnt != STime || sampleCycle_.running())
        return;
    if (RVnr < 1 || RVnr > 8) {
        STimerCnt = 0;
        return;
    }
    sampleCycle_.start(RVnr);
}

bool MainForm::requestValue(int channel)
{
    if (const int error = port_.output(valueRequest(DevId, channel))) {
        // Port closed or gone: this request is skipped, the cycle goes on.
        showPortFailure(error);
        return false;
    }
    TimerCom.setEnabled(true);
    return true;
}

void MainForm::replyWaitMayBeOver()
{
    if (!TimerCom.enabled())
        sampleCycle_.replyWaitOver();
}

} // namespace qm
