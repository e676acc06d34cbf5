#include "app/main_form.h"
#include "device/requests.h"
#include "device/serial_port.h"

#include <cstdlib>

namespace qm {

void MainForm::Timer1_Timer()
{
    cmdInicijalizacija_Click();
}

// Shows why the port failed, on the failure colour.
void MainForm::showPortFailure(int error)
{
    linkIs(QStringLiteral("port error ") + QString::number(error));
    lblStatus.setBackColor(colors::kStatusFailure);
    switch (error) {
    case comm_error::kInvalidPort:
        lblStatus.setText(QStringLiteral("Invalid Port Number!"));
        break;
    case comm_error::kPortInUse:
        lblStatus.setText(QStringLiteral("Port already open!"));
        break;
    default:
        lblStatus.setText(QStringLiteral("COM Port comm-error! ") + QString::number(error));
        break;
    }
}

void MainForm::cmdInicijalizacija_Click()
{
    int error = port_.setSettings(Baud + ",n,8,1");
    if (!error)
        error = port_.setHandshaking(0);
    if (error)
        return showPortFailure(error);

    lblStatus.setBackColor(colors::kStatusSearching);
    lblStatus.setText(QStringLiteral("Searching for uc code..."));
    TimerCom.setEnabled(true);

    if (!port_.portOpen())
        error = port_.setPortOpen(true);
    if (!error)
        error = port_.setDTREnable(false);
    if (!error)
        error = port_.setRTSEnable(false);
    if (!error) {
        port_.setRThreshold(1);
        port_.setInputLen(1);
        if (STime > 0)
            error = port_.output(recognitionRequest(DevId));
    }
    // Nothing is undone; the next retry tick starts over.
    if (error)
        showPortFailure(error);
}

void MainForm::TimerCom_Timer()
{
    TimerCom.setEnabled(false);
    lblStatus.setBackColor(colors::kStatusFailure);
    lblStatus.setText(QStringLiteral("No response!"));
    linkIs(QStringLiteral("no response"));
}

void MainForm::CommError(int errorNumber)
{
    lblStatus.setText(QStringLiteral("COM Port communication error! Close App! ") +
                      QString::number(errorNumber));
    waitFor(loop_, 3000);
    loop_.terminate(1);
    std::abort(); // not reached: terminate() ends the program
}

} // namespace qm
