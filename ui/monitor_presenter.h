#pragma once

#include "base/event_loop.h"
#include "base/types.h"
#include "sampling/monitor.h"
#include "sampling/platform.h"
#include "settings/settings_file.h"
#include "ui/controls.h"
#include "ui/dialogs.h"

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace qm {

// The window's side of the monitor (sampling/monitor.h), without widgets: the
// control model the window binds to, kept in step with what the monitor shows
// and with the settings in use, and the user's actions (the panels, the
// saves, the close question) taken back to the monitor. Widgets edit the
// controls only; the monitor hears of an edit when an action takes it.
class MonitorPresenter final : public MonitorDisplay {
public:
    MonitorPresenter(const Platform& platform, Dialogs& dialogs);
    MonitorPresenter(const MonitorPresenter&) = delete;
    MonitorPresenter& operator=(const MonitorPresenter&) = delete;

    // --- State -------------------------------------------------------------------
    bool reconnectAfterSave = false; // SAVE-CLOSE reconnects, a channel's Save does not
    QByteArray settingsFile;         // a path: bytes
    Monitor& monitor() { return monitor_; }
    const Monitor& monitor() const { return monitor_; }

    // --- Controls --------------------------------------------------------------
    // Window
    Control Caption{ControlKind::Window, "MainForm"};
    // Channel panels, 1 to 8
    ChannelArray<Control> channelPanels;
    ChannelArray<Control> labelDisplays;
    ChannelArray<Control> valueDisplays;
    ChannelArray<Control> alarmLamps;
    ChannelArray<Control> setHiCaptions;
    ChannelArray<Control> setHiBoxes;
    ChannelArray<Control> setLoCaptions;
    ChannelArray<Control> setLoBoxes;
    ChannelArray<Control> saveButtons;
    // Main window
    Control statusLine;
    Control deviceCode;
    Control settingsButton;
    Control helpButton;
    // Help panel
    Control helpPanel;
    Control helpText;
    Control closeHelpButton;
    // Settings panel
    Control settingsPanel;
    Control portSettingsFrame;
    Control comPortBox;
    Control baudBox;
    Control deviceIdBox;
    Control sampleTimeBox;
    Control valueCountBox;
    // The five boxes of the port settings row, in their order.
    std::array<Control*, 5> portBoxes()
    {
        return {&comPortBox, &baudBox, &deviceIdBox, &sampleTimeBox, &valueCountBox};
    }
    Control passwordBox;
    Control logCheck;
    Control soundCheck;
    Control channelSettingsFrame;
    ChannelArray<Control> channelSettingsRows;
    ChannelArray<Control> labelBoxes;
    ChannelArray<Control> colourBoxes;
    ChannelArray<Control> offsetBoxes;
    ChannelArray<Control> factorBoxes;
    ChannelArray<Control> spareBoxes1;
    ChannelArray<Control> spareBoxes2;
    ChannelArray<Control> spareBoxes3;
    ChannelArray<Control> spareBoxes4;
    Control saveCloseButton;

    // Every control, for binding and observers.
    template <class F>
    void forEachControl(F&& f);

    // --- The user's actions ------------------------------------------------------------
    void load();
    // Starts as the settings file has it, or with the settings just saved.
    void startOver(const std::optional<SettingsValues>& saved = std::nullopt);
    void askToClose(Integer& cancel);
    // Ends the program as the close question's Yes does: the observers told,
    // the port closed, every timer stopped, and the event loop left with exit
    // status 0 once the running handler returns. Also run on a termination
    // signal.
    void closeApp();
    void openHelp();
    void closeHelp();
    void openSettings();
    void saveAndCloseSettings();
    // A channel's Save: the settings saved, without reconnecting.
    void saveSetPoints(Integer index);
    // SAVE-CLOSE could not be done for `reason` (the chosen port could not be
    // linked): shown as a settings file that cannot be written.
    void saveRefused(const QString& reason);

    // --- Settings -------------------------------------------------------------------
    void loadSettings();
    // Returns false when nothing was saved: a box held no valid entry or the
    // file could not be written (the status line says which).
    bool saveSettings();
    // Saves `s` in one step and takes it into use as SAVE-CLOSE does (a
    // change from beyond the window); why not, or empty.
    QString saveAndApply(const SettingsValues& s);
    enum class SaveOutcome { Saved, Refused, Unwritable };
    SaveOutcome lastSave() const { return lastSave_; }

    // --- What the monitor shows -----------------------------------------------------------
    void statusText(const QString& text) override { statusLine.setText(text); }
    void statusColour(Rgb colour) override { statusLine.setBackColor(colour); }
    void portNote(const QString& note) override { showStatusToolTip(note); }
    bool addNote(const QString& note) override;
    void showDeviceCode(const QString& code) override { deviceCode.setText(code); }
    void valueText(int channel, const QString& text) override
    {
        valueDisplays[channel].setText(text);
    }
    void alarmLamp(int channel, bool on) override
    {
        alarmLamps[channel].setFillStyle(on ? FillStyle::Transparent : FillStyle::Solid);
    }

    // --- Platform ------------------------------------------------------------------------
    EventLoop& loop() { return loop_; }
    const ProgramPaths& paths() const { return paths_; }
    const QLocale& locale() const { return locale_; }

private:
    bool writeSettings(const SettingsValues& s);
    void applySaved(const SettingsValues& s, bool reconnect);
    // What each entry box means and takes, as its tooltip.
    void setTips();
    // The status line's tooltip: what was found in the settings file, then
    // `portNote` (why the port failed, what to do).
    void showStatusToolTip(const QString& portNote);
    // The settings as the boxes hold them; nothing when a box holds no valid
    // entry (marked, and told in the status line).
    std::optional<SettingsValues> settingsFromBoxes();
    // Tells the status line, the journal and every save button that the
    // settings file cannot be written (errno says why).
    void showSettingsUnwritable();
    // Takes `s` into use: the port set to it and the boxes showing it. When
    // the port refuses `s` from the file, the defaults are used instead.
    void takeSettings(SettingsValues s, bool fromFile);
    // Takes the settings just saved into use as the file now has them,
    // without reading it back.
    void takeSavedSettings(const SettingsValues& saved);
    // The boxes and displays as the settings in use have them.
    void showSettings();

    SaveOutcome lastSave_ = SaveOutcome::Saved;

    QStringList settingsNotes_; // what the last load found odd in the file

    EventLoop& loop_;
    Dialogs& dialogs_;
    ProgramPaths paths_;
    QLocale locale_;
    Monitor monitor_;
};

template <class F>
void MonitorPresenter::forEachControl(F&& f)
{
    f(Caption);
    for (int i = 1; i <= kChannels; ++i) {
        for (auto* arr : {&channelPanels, &labelDisplays, &valueDisplays, &alarmLamps,
                          &setHiCaptions, &setHiBoxes, &setLoCaptions, &setLoBoxes, &saveButtons,
                          &channelSettingsRows, &labelBoxes, &colourBoxes, &offsetBoxes,
                          &factorBoxes, &spareBoxes1, &spareBoxes2, &spareBoxes3, &spareBoxes4})
            f((*arr)[i]);
    }
    for (Control* c : portBoxes())
        f(*c);
    for (auto* c : {&statusLine, &deviceCode, &settingsButton, &helpButton, &helpPanel, &helpText,
                    &closeHelpButton, &settingsPanel, &portSettingsFrame, &passwordBox, &logCheck,
                    &soundCheck, &channelSettingsFrame, &saveCloseButton})
        f(*c);
}

} // namespace qm
