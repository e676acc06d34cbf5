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
    // A refused entry keeps the panel open for correction.
    if (SaveSettings())
        frmSet.setVisible(false);
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
