#pragma once

#include "app/controls.h"
#include "app/event_loop.h"
#include "app/timer.h"
#include "app/types.h"
#include "device/link_state.h"
#include "device/malformed_lines.h"
#include "sampling/append_file.h"
#include "sampling/sample_cycle.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

class ReadingObserver;
class SerialPort;
class SoundPlayer;
struct SettingsValues;

// The modal Yes / No / Cancel question of the window.
class Dialogs {
public:
    enum class Answer { Yes, No, Cancel };
    virtual ~Dialogs() = default;
    // A question icon, Yes the default; dismissing the box answers Cancel.
    virtual Answer askYesNoCancel(const QString& prompt, const QString& title) = 0;
};

// Local date and time of day, for the log file only.
class WallClock {
public:
    virtual ~WallClock() = default;
    virtual QDateTime localNow() const = 0;
};

// Where this instance lives: the name it was started under and its directory.
// Paths are bytes, as the file system holds them, so a name or folder that is
// not valid UTF-8 still finds its files.
struct ProgramPaths {
    QByteArray name; // the whole file name of the start path, e.g. "pump2", "pump.v2"
    QByteArray dir;  // directory of the start path, e.g. "/home/ann/pumps"

    // A file of the program directory: dir/fileName.
    QByteArray file(const QByteArray& fileName) const
    {
        return dir.endsWith('/') ? dir + fileName : dir + '/' + fileName;
    }
    // The folder of the daily log files: dir/<name>Log.
    QByteArray logDir() const { return file(name + "Log"); }
    // The name as text, for the caption.
    QString displayName() const { return QString::fromUtf8(name); }
};

// Everything the window needs from the platform.
struct Platform {
    EventLoop& loop;
    SerialPort& port;
    SoundPlayer& sound;
    Dialogs& dialogs;
    WallClock& wallClock;
    ProgramPaths paths;
    QLocale locale;          // the user's number settings
    QByteArray defaultSound; // the alarm sound that comes with the program; empty: none
};

// The one window: every piece of application state, the control model, the
// four timers and the serial port. Handlers are defined in the folder of
// their subsystem (app/, device/, channels/, sampling/, settings/).
class MainForm {
public:
    explicit MainForm(const Platform& platform);
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // --- Form-level variables ------------------------------------------------
    String BPass;
    String DevId;
    Integer RVnr = 0;
    ChannelArray<Single> SetHi{};
    ChannelArray<Single> SetLo{};
    Integer ReInit = kFalse;
    Integer LogOn = 0;
    Integer WavOn = 0;
    ChannelArray<String> OutName{};
    ChannelArray<String> MyLabel{};
    ChannelArray<String> VColor{};
    ChannelArray<Single> Nr1{};
    ChannelArray<Single> Nr2{};
    ChannelArray<Single> VValue{};
    Integer STimerCnt = 0;
    QByteArray IniFile; // a path: bytes
    Integer ComPort = 0;
    String Baud;
    Integer STime = 0;
    Integer SetIdx = 0;
    String RxBuf;

    // --- Controls --------------------------------------------------------------
    // Window
    Control Caption{ControlKind::Window, "MainForm"};
    // Channel panels, 1 to 8
    ChannelArray<Control> frmV1;
    ChannelArray<Control> lblMyLbl1;
    ChannelArray<Control> lblDIS;
    ChannelArray<Control> Led1;
    ChannelArray<Control> lblSetHi;
    ChannelArray<Control> txtSetHi;
    ChannelArray<Control> lblSetLo;
    ChannelArray<Control> txtSetLo;
    ChannelArray<Control> cmdSave;
    // Main window
    Control lblStatus;
    Control lblDevCode;
    Control cmdSet;
    Control cmdHelp;
    // Help panel
    Control frmHelp;
    Control Text1;
    Control cmdCloseHelp;
    // Settings panel
    Control frmSet;
    Control Frame2;
    std::array<Control, 6> txtSet1; // 1 = COM port, 2 = Baud, 3 = ID, 4 = STime, 5 = RVnr
    Control txtBPass;
    Control Chk1;
    Control Chk2;
    Control frmSet2;
    ChannelArray<Control> frmSetV1;
    ChannelArray<Control> txtSetLabel1;
    ChannelArray<Control> txtSetColor1;
    ChannelArray<Control> txtSetNR1;
    ChannelArray<Control> txtSetNR2;
    ChannelArray<Control> txtSetNR3;
    ChannelArray<Control> txtSetNR4;
    ChannelArray<Control> txtSetNR5;
    ChannelArray<Control> txtSetNR6;
    Control cmdExit;
    // Hidden container: only code operates these.
    Control frmNevidi;
    Control cmdInicijalizacija;
    Control cmdIspis;
    Control cmdKasnjenje;
    Control cmdRadni1;
    Control frmOuts;
    ChannelArray<Control> cmdOut;
    Control Frame1;
    ChannelArray<Control> txtOutName;

    // Every control, for binding and observers.
    template <class F>
    void forEachControl(F&& f);

    // --- Timers ------------------------------------------------------------------
    Timer StTimer;  // 1000 ms, sample clock
    Timer Timer1;   // 2500 ms, connection retry
    Timer TimerCom; // 5000 ms, response watchdog
    Timer TimerWav; // 3000 ms, alarm sound

    // --- Application shell (app/) ----------------------------------------------------
    void Form_Load();
    void InitApp();
    void Form_Unload(Integer& cancel);
    // Ends the program as the close question's Yes does: the port closed,
    // then at once, exit status 0. Also run on a termination signal.
    [[noreturn]] void CloseApp();
    void cmdHelp_Click();
    void cmdCloseHelp_Click();
    void cmdSet_Click();
    void cmdExit_Click();
    // SAVE-CLOSE could not be done for `reason` (the chosen port could not be
    // linked): shown as a settings file that cannot be written.
    void saveRefused(const QString& reason);

    // --- Device link (device/) -------------------------------------------------------
    void cmdInicijalizacija_Click();
    void Timer1_Timer();
    void TimerCom_Timer();
    void MSComm1_OnComm();
    void ProcessReply(const String& line);

    // --- Measurement channels (channels/) ---------------------------------------------
    // Returns false when the update failed with an overflow; the caller shows
    // "???" and skips the rest of the reply.
    bool UpdateChannelValue(Integer channel, std::string_view valueText);
    void cmdRadni1_Click();
    void TimerWav_Timer();
    QByteArray alarmSoundFile();
    void PlaySound(const QByteArray& strFileName);
    void cmdSave_Click(Integer index);

    // --- Sampling and logging (sampling/) ----------------------------------------------
    void StTimer_Timer();
    // Returns the time written into the line.
    QDateTime WriteLog();

    // --- Settings (settings/) -----------------------------------------------------------
    void LoadSettings();
    // Returns false when nothing was saved: a box held no valid entry or the
    // file could not be written (the status line says which).
    bool SaveSettings();
    enum class SaveOutcome { Saved, Refused, Unwritable };
    SaveOutcome lastSave() const { return lastSave_; }

    // --- Observers ---------------------------------------------------------------------
    // Hears of every evaluation and link change from now on.
    void addObserver(ReadingObserver* observer) { observers_.push_back(observer); }

    // --- Platform ------------------------------------------------------------------------
    EventLoop& loop() { return loop_; }
    SerialPort& MSComm1() { return port_; }
    const ProgramPaths& paths() const { return paths_; }
    const QLocale& locale() const { return locale_; }

private:
    void receiveBytes(const std::string& bytes);
    void portLost();
    // `lost`: an open port went away (always reported, not once a spell).
    void showPortFailure(int error, bool lost = false);
    QString portDescription() const;
    // Sends the value request of `channel` and starts the watchdog; false
    // when the port took no request.
    bool requestValue(int channel);
    // Ends the sample cycle's wait once the watchdog is off: a reply line
    // came or the device did not answer in time.
    void replyWaitMayBeOver();
    // Tells the observers of the evaluation just made, at `time` (read from
    // the clock when invalid).
    void notifyReading(QDateTime time);
    // Tells the observers of a new link state, once per change.
    void linkIs(const LinkState& state);
    void setTips();
    // Tells the journal and the observers of the link. Any state but
    // "connected" begins a spell of trouble or gives a new reason in it:
    // `text` at warning, each reason once a spell, whatever the retry repeats
    // meanwhile. "connected" (`text` at info) is told at once when nothing
    // was wrong, else once the device has answered for kSteadyMs without a
    // new failure, which ends the spell: a device that fails every other
    // request is one spell, not two lines a cycle.
    void tellLink(const LinkState& state, const QString& text);
    static constexpr Millis kSteadyMs = 60'000;
    // The status line's tooltip: what was found in the settings file, then
    // `portNote` (why the port failed, what to do).
    void showStatusToolTip(const QString& portNote);
    // Takes the 64 settings into the form's variables.
    void useSettings(const SettingsValues& s);
    // Tells the status line's tooltip and the journal, once, why the alarm
    // sound `path` cannot play.
    void soundFailed(const QByteArray& path, const QString& why);

    // The status line's text before a received line, for this port and baud.
    QString statusPrefix_;
    bool statusPrefixSet_ = false;
    Integer statusPrefixPort_ = 0;
    String statusPrefixBaud_;

    SaveOutcome lastSave_ = SaveOutcome::Saved;

    // Characters of an overlong line are dropped up to its end.
    bool rxDiscarding_ = false;

    std::vector<ReadingObserver*> observers_;
    ChannelArray<bool> alarms_{}; // as the lamps show them
    LinkState linkState_;
    std::vector<LinkState> reasonsTold_; // in this spell of trouble
    Millis connectedAt_ = 0;             // the last change to "connected"
    // The port failed in this connection attempt: a watchdog that runs out
    // now had nothing to wait for.
    bool attemptFailed_ = false;
    QStringList settingsNotes_; // what the last load found odd in the file

    EventLoop& loop_;
    SerialPort& port_;
    SoundPlayer& sound_;
    Dialogs& dialogs_;
    WallClock& wallClock_;
    ProgramPaths paths_;
    QByteArray defaultSound_;
    AppendFile logFile_{loop_};
    MalformedLines malformed_{loop_};
    bool logFailing_ = false; // the last line could not be written
    QDate logDay_;            // the day logDir_ and logPath_ were made for
    QByteArray logDir_;
    QByteArray logPath_;
    QLocale locale_;
    SampleCycle sampleCycle_{loop_,
                             {[this](int channel) { return requestValue(channel); },
                              [this] {
                                  STimerCnt = 0;
                                  cmdRadni1_Click();
                              }}};
};

template <class F>
void MainForm::forEachControl(F&& f)
{
    f(Caption);
    for (int i = 1; i <= 8; ++i) {
        for (auto* arr : {&frmV1,        &lblMyLbl1,    &lblDIS,    &Led1,      &lblSetHi,
                          &txtSetHi,     &lblSetLo,     &txtSetLo,  &cmdSave,   &frmSetV1,
                          &txtSetLabel1, &txtSetColor1, &txtSetNR1, &txtSetNR2, &txtSetNR3,
                          &txtSetNR4,    &txtSetNR5,    &txtSetNR6, &cmdOut,    &txtOutName})
            f((*arr)[i]);
    }
    for (int i = 1; i <= 5; ++i)
        f(txtSet1[i]);
    for (auto* c : {&lblStatus, &lblDevCode,   &cmdSet,       &cmdHelp,
                    &frmHelp,   &Text1,        &cmdCloseHelp, &frmSet,
                    &Frame2,    &txtBPass,     &Chk1,         &Chk2,
                    &frmSet2,   &cmdExit,      &frmNevidi,    &cmdInicijalizacija,
                    &cmdIspis,  &cmdKasnjenje, &cmdRadni1,    &frmOuts,
                    &Frame1})
        f(*c);
}

} // namespace qm
