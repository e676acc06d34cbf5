#pragma once

#include "channels/sound_player.h"
#include "device/serial_port.h"
#include "tests/support/printers.h"
#include "tests/support/sim_event_loop.h"
#include "ui/monitor_presenter.h"

#include <QTemporaryDir>

#include <array>
#include <deque>
#include <memory>
#include <ostream>
#include <vector>

namespace qm::test {

// The settings file as the first save writes it, and with another first line.
extern const QByteArray kDefaultSettingsFile;
QByteArray settingsWithFirstLine(const QByteArray& firstLine);

using Writes = std::vector<std::pair<Millis, std::string>>;

// A serial port on the simulated clock with the device behind it. While
// `answering`, it answers "<id>AT" with "<id>OK" and "<id>V0n" with
// "<id>V0n=<values[n]>" after 30 ms.
class SimSerialPort final : public SerialPort {
public:
    explicit SimSerialPort(SimEventLoop& loop)
        : loop_(loop)
    {
    }
    int setCommPort(int number) override;
    int setSettings(const std::string& text) override;
    int setHandshaking(int mode) override
    {
        handshaking = mode;
        return 0;
    }
    bool portOpen() const override { return open_; }
    int setPortOpen(bool open) override;
    int setDTREnable(bool on) override
    {
        dtr = on;
        return 0;
    }
    int setRTSEnable(bool on) override
    {
        rts = on;
        return 0;
    }
    void setRThreshold(int count) override { rThreshold = count; }
    void setInputLen(int) override {}
    int output(const std::string& bytes) override;
    std::string input() override { return inputAll(); }
    std::string inputAll() override { return std::exchange(pending_, {}); }
    int inBufferCount() const override { return static_cast<int>(pending_.size()); }
    int commEvent() const override { return commEvent_; }
    int lastError() const override { return comm_error::kDeviceLost; }
    QByteArray devicePath() const override
    {
        return "/dev/ttyS" + QByteArray::number(commPort - 1);
    }
    QString failureDetail() const override { return detail; }

    void receiveAt(Millis at, std::string bytes);
    void loseDeviceAt(Millis at); // the adapter is unplugged: closed and reported
    Writes valueRequests() const; // (time, "V0n")

    bool answering = false;
    std::string id;
    std::array<std::string, 9> values{"", "1", "2", "3", "4", "5", "6", "7", "8"};
    int openError = 0, settingsError = 0; // what the next calls give
    QString detail;                       // of their failures
    int commPort = 0, handshaking = -1, rThreshold = 0, openCount = 0;
    std::string settings;
    bool dtr = true, rts = true;
    Writes writes;

private:
    SimEventLoop& loop_;
    bool open_ = false;
    std::string pending_;
    int commEvent_ = 0;
};

// The application on the simulated clock in a temporary program directory.
class AppFixture : public Dialogs, public WallClock, public SoundPlayer, public ControlObserver {
public:
    explicit AppFixture(QLocale locale = QLocale::c())
        : locale(locale)
    {
    }
    // Writes the settings file (raw bytes, unless empty) and runs load.
    MonitorPresenter& start(const QByteArray& settings = {});
    // Starts with the default file's first line replaced; the device answers.
    MonitorPresenter& startWith(const QByteArray& firstLine);
    void send(const std::string& bytes);        // arrives from the device now, handled
    QByteArray file(const QString& name) const; // of the program directory
    void write(const QString& name, const QByteArray& bytes) const;
    QString path(const QString& name) const { return tmp.filePath(name); }
    QByteArray log() const { return file(QStringLiteral("quellmarkLog/250312.txt")); }
    Millis shownAt(const QString& status) const; // first time shown, -1 never
    int timesShown(const QString& status) const;

    SimEventLoop loop;
    SimSerialPort port{loop};
    QTemporaryDir tmp;
    QLocale locale;
    std::unique_ptr<MonitorPresenter> form;
    std::vector<std::pair<Millis, QString>> status; // every status text, when shown
    std::vector<Millis> plays;                      // alarm sounds
    QByteArray soundPath;
    QByteArray defaultSound;    // the sound that comes with the program
    std::deque<Answer> answers; // to the close question; then Cancel
    int questions = 0;
    QDateTime clockStart{QDate(2025, 3, 12), QTime(8, 15, 0)};

    Answer askYesNoCancel(const QString& prompt, const QString& title) override;
    QDateTime localNow() const override { return clockStart.addMSecs(loop.now()); }
    void play(const QByteArray& path) override
    {
        plays.push_back(loop.now());
        soundPath = path;
    }
    void controlChanged(const Control& c) override { status.push_back({loop.now(), c.text()}); }
    using SoundPlayer::failed; // the audio system's word
};

} // namespace qm::test
