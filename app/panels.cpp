#include "app/main_form.h"
#include "app/reading_observer.h"
#include "device/serial_port.h"

#include <cstdlib>

namespace qm {

void MainForm::cmdHelp_Click()
{
    frmHelp.setVisible(true);
}

void MainForm::cmdCloseHelp_Click()
{
    frmHelp.setVisible(false);
}

void MainForm::cmdSet_Click()
{
    frmSet.setVisible(true);
    StTimer.setEnabled(false);
}

void MainForm::cmdExit_Click()
{
    ReInit = kTrue;
    const bool unwritableBefore = lastSave_ == SaveOutcome::Unwritable;
    // A refused entry keeps the panel open for correction.
    if (SaveSettings()) {
        frmSet.setVisible(false);
        return;
    }
    // A settings file that could not be written twice in a row: the panel
    // closes without saving, and the instance goes on as its file has it
    // (the sample clock, stopped while the panel was open, starts again with
    // the reconnection).
    if (!unwritableBefore || lastSave_ != SaveOutcome::Unwritable)
        return;
    const QString message = lblStatus.text();
    if (port_.portOpen()) {
        (void)port_.setPortOpen(false);
        RxBuf.clear();
    }
    InitApp();
    frmSet.setVisible(false);
    lblStatus.setBackColor(colors::kStatusFailure);
    lblStatus.setText(message + QStringLiteral(" - not saved"));
}

void MainForm::saveRefused(const QString& reason)
{
    lblStatus.setBackColor(colors::kStatusFailure);
    lblStatus.setText(reason);
    cmdExit.setError(reason);
}

void MainForm::Form_Unload(Integer& cancel)
{
    const auto answer = dialogs_.askYesNoCancel(QStringLiteral("Do you want to close/exit App ?"),
                                                QStringLiteral("Exit Dialog"));
    if (answer != Dialogs::Answer::Yes) {
        cancel = 1;
        return;
    }
    CloseApp();
}

void MainForm::CloseApp()
{
    for (ReadingObserver* o : observers_)
        o->closing();
    if (port_.portOpen())
        (void)port_.setPortOpen(false);
    loop_.terminate(0);
    std::abort(); // not reached: terminate() ends the program
}

} // namespace qm
