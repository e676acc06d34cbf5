#include "app/main_form.h"

namespace qm {

void MainForm::openHelp()
{
    helpPanel.setVisible(true);
}

void MainForm::closeHelp()
{
    helpPanel.setVisible(false);
}

void MainForm::openSettings()
{
    settingsPanel.setVisible(true);
    monitor_.sampleClock.setEnabled(false);
}

void MainForm::saveAndCloseSettings()
{
    reconnectAfterSave = true;
    const bool unwritableBefore = lastSave_ == SaveOutcome::Unwritable;
    // A refused entry keeps the panel open for correction.
    if (saveSettings()) {
        settingsPanel.setVisible(false);
        return;
    }
    // A settings file that could not be written twice in a row: the panel
    // closes without saving, and the instance goes on as its file has it
    // (the sample clock, stopped while the panel was open, starts again with
    // the reconnection).
    if (!unwritableBefore || lastSave_ != SaveOutcome::Unwritable)
        return;
    const QString message = statusLine.text();
    monitor_.link().close();
    startOver();
    settingsPanel.setVisible(false);
    statusLine.setBackColor(colors::kStatusFailure);
    statusLine.setText(message + QStringLiteral(" - not saved"));
}

void MainForm::saveRefused(const QString& reason)
{
    statusLine.setBackColor(colors::kStatusFailure);
    statusLine.setText(reason);
    saveCloseButton.setError(reason);
}

void MainForm::askToClose(Integer& cancel)
{
    const auto answer = dialogs_.askYesNoCancel(QStringLiteral("Do you want to close/exit App ?"),
                                                QStringLiteral("Exit Dialog"));
    if (answer != Dialogs::Answer::Yes) {
        cancel = 1;
        return;
    }
    closeApp();
}

void MainForm::closeApp()
{
    monitor_.close();
}

} // namespace qm
