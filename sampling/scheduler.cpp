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
    if (STimerCnt != STime || cycleRunning_)
        return;
    runSampleCycle();
}

// Asks the device for values 1..RVnr, one after the other, each awaited until
// its answer or the watchdog, then evaluates. Runs inside one tick; the event
// loop keeps running during its waits, so further ticks arrive meanwhile and
// count on, but start no second cycle.
void MainForm::runSampleCycle()
{
    const Integer k = RVnr;
    if (k < 1 || k > 8) {
        STimerCnt = 0;
        return;
    }
    cycleRunning_ = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } running{cycleRunning_};

    for (Integer n = 1; n <= k; ++n) {
        if (!(n == 1 && k == 8))
            cmdKasnjenje_Click();
        if (const int error = port_.output(valueRequest(DevId, n))) {
            // Port closed or gone: this request is skipped, the cycle goes on.
            showPortFailure(error);
            continue;
        }
        TimerCom.setEnabled(true);
        loop_.runNestedUntil(kForever, [this] { return !TimerCom.enabled(); });
    }
    STimerCnt = 0;
    cmdRadni1_Click();
}

} // namespace qm
