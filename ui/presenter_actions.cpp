#include "ui/monitor_presenter.h"

namespace qm {

void MonitorPresenter::load()
{
    startOver();
}

void MonitorPresenter::startOver(const std::optional<SettingsValues>& saved)
{
    Caption.setText(QStringLiteral("Quellmark: ") + paths_.displayName());
    statusLine.setText(QStringLiteral("Status:"));
    if (saved)
        takeSavedSettings(*saved);
    else
        loadSettings();
    statusLine.setBackColor(colors::kStatusSearching);
    statusLine.setText(QStringLiteral("Status:"));
    monitor_.link().startRetrying();
}

void MonitorPresenter::openHelp()
{
    helpPanel.setVisible(true);
}

void MonitorPresenter::closeHelp()
{
    helpPanel.setVisible(false);
}

void MonitorPresenter::openSettings()
{
    settingsPanel.setVisible(true);
    monitor_.stopSampleClock();
}

void MonitorPresenter::saveAndCloseSettings()
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

void MonitorPresenter::saveRefused(const QString& reason)
{
    statusLine.setBackColor(colors::kStatusFailure);
    statusLine.setText(reason);
    saveCloseButton.setError(reason);
}

void MonitorPresenter::askToClose(Integer& cancel)
{
    const auto answer = dialogs_.askYesNoCancel(QStringLiteral("Do you want to close/exit App ?"),
                                                QStringLiteral("Exit Dialog"));
    if (answer != Dialogs::Answer::Yes) {
        cancel = 1;
        return;
    }
    closeApp();
}

void MonitorPresenter::closeApp()
{
    monitor_.close();
}

void MonitorPresenter::saveSetPoints(Integer /*index: every Save button does the same*/)
{
    reconnectAfterSave = false;
    saveSettings();
}

} // namespace qm
