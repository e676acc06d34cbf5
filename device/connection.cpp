#include "app/main_form.h"
#include "device/serial_port.h"

namespace qm {

void MainForm::Timer1_Timer()
{
    cmdInicijalizacija_Click();
}

void MainForm::cmdInicijalizacija_Click()
{
    // The device link comes next: nothing is sent yet.
}

void MainForm::TimerCom_Timer()
{
    TimerCom.setEnabled(false);
    lblStatus.setBackColor(colors::kStatusFailure);
    lblStatus.setText(QStringLiteral("No response!"));
}

} // namespace qm
