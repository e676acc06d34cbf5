#pragma once

#include "app/controls.h"
#include "app/event_loop.h"
#include "app/platform.h"
#include "app/timer.h"
#include "app/types.h"
#include "device/serial_link.h"
#include "sampling/day_log.h"
#include "sampling/sample_cycle.h"
#include "settings/settings_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class ReadingObserver;
class SerialPort;
class SoundPlayer;

// The one window's model: the settings in use and the values read, the
// control model, the four timers and the serial port. Its units do the work:
// the sample cycle (sampling/sample_cycle.h), the day log
// (sampling/day_log.h), the limits (channels/limits.h) and the link's report
// (device/link_report.h); its methods, in the folder of their part, connect
// them to the controls. Readings and link changes go one way, out to the
// observers.
class MainForm {
public:
    explicit MainForm(const Platform& platform);
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // --- State: the settings in use, the values read ----------------------------
    SettingsValues settings{};       // as last loaded or saved
    bool reconnectAfterSave = false; // SAVE-CLOSE reconnects, a channel's Save does not
    ChannelArray<Single> values{};
    Integer sampleCount = 0;
    QByteArray settingsFile; // a path: bytes

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

    // --- Timers ------------------------------------------------------------------
    Timer sampleClock; // 1000 ms, sample clock
    Timer soundTimer;  // 3000 ms, alarm sound

    // --- Application shell (app/) ----------------------------------------------------
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
    // SAVE-CLOSE could not be done for `reason` (the chosen port could not be
    // linked): shown as a settings file that cannot be written.
    void saveRefused(const QString& reason);

    // --- Device link (device/) -------------------------------------------------------
    // A reply line: shown, and the recognition or the values it holds taken.
    void interpretReply(const String& line);
    SerialLink& link() { return link_; }

    // --- Measurement channels (channels/) ---------------------------------------------
    // Returns false when the update failed with an overflow; the caller shows
    // "???" and skips the rest of the reply.
    bool updateChannelValue(Integer channel, std::string_view valueText);
    void evaluateChannels();
    void soundTick();
    QByteArray alarmSoundFile();
    void playSound(const QByteArray& path);
    void saveSetPoints(Integer index);

    // --- Sampling and logging (sampling/) ----------------------------------------------
    void sampleClockTick();
    // Returns the time written into the line.
    QDateTime writeLogLine();

    // --- Settings (settings/) -----------------------------------------------------------
    void loadSettings();
    // Returns false when nothing was saved: a box held no valid entry or the
    // file could not be written (the status line says which).
    bool saveSettings();
    enum class SaveOutcome { Saved, Refused, Unwritable };
    SaveOutcome lastSave() const { return lastSave_; }

    // --- Observers ---------------------------------------------------------------------
    // Hears of every evaluation and link change from now on.
    void addObserver(ReadingObserver* observer) { observers_.push_back(observer); }

    // --- Platform ------------------------------------------------------------------------
    EventLoop& loop() { return loop_; }
    SerialPort& serialPort() { return port_; }
    const ProgramPaths& paths() const { return paths_; }
    const QLocale& locale() const { return locale_; }

private:
    // Sends the value request of `channel` and starts the watchdog; false
    // when the port took no request.
    bool requestValue(int channel);
    // Ends the sample cycle's wait once the watchdog is off: a reply line
    // came or the device did not answer in time.
    void replyWaitMayBeOver();
    // Tells the observers of the evaluation just made, at `time` (read from
    // the clock when invalid).
    void notifyReading(QDateTime time);
    // Tells the observers of a new link state.
    void tellObserversOfLink(const LinkState& state);
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
    // Tells the status line's tooltip and the journal, once, why the alarm
    // sound `path` cannot play.
    void soundFailed(const QByteArray& path, const QString& why);

    // The status line's text before a received line, for this port and baud.
    QString statusPrefix_;
    bool statusPrefixSet_ = false;
    Integer statusPrefixPort_ = 0;
    String statusPrefixBaud_;

    SaveOutcome lastSave_ = SaveOutcome::Saved;

    std::vector<ReadingObserver*> observers_;
    ChannelArray<bool> alarms_{}; // as the lamps show them
    QStringList settingsNotes_;   // what the last load found odd in the file

    EventLoop& loop_;
    SerialPort& port_;
    SoundPlayer& sound_;
    Dialogs& dialogs_;
    WallClock& wallClock_;
    ProgramPaths paths_;
    QByteArray defaultSound_;
    DayLog dayLog_{loop_, paths_.logDir()};
    QLocale locale_;
    SerialLink link_{
        loop_, port_, settings,
        SerialLink::Handlers{[this](const String& line) { interpretReply(line); },
                             [this] { replyWaitMayBeOver(); },
                             [this] { sampleClock.setEnabled(false); },
                             [this](const LinkState& state) { tellObserversOfLink(state); },
                             [this](const QString& text) { statusLine.setText(text); },
                             [this](Rgb colour) { statusLine.setBackColor(colour); },
                             [this](const QString& note) { showStatusToolTip(note); }}};
    SampleCycle sampleCycle_{loop_,
                             {[this](int channel) { return requestValue(channel); },
                              [this] {
                                  sampleCount = 0;
                                  evaluateChannels();
                              }}};
};

template <class F>
void MainForm::forEachControl(F&& f)
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
