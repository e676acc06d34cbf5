#pragma once

#include "app/main_form.h"
#include "channels/sound_player.h"
#include "tests/support/sim_event_loop.h"
#include "tests/support/qt_printers.h"
#include "tests/support/sim_serial_port.h"

#include <QByteArray>
#include <QDateTime>
#include <QTemporaryDir>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace qm::test {

class RecordingSoundPlayer final : public SoundPlayer {
public:
    explicit RecordingSoundPlayer(SimEventLoop& loop) : loop_(loop) {}
    void play(const QByteArray& path) override { plays.push_back({loop_.now(), QString::fromUtf8(path)}); }
    struct Play {
        Millis at;
        QString path;
    };
    std::vector<Play> plays;

private:
    SimEventLoop& loop_;
};

class ScriptedDialogs final : public Dialogs {
public:
    Answer askYesNoCancel(const QString& prompt, const QString& title) override
    {
        asked.push_back(prompt + QStringLiteral(" | ") + title);
        if (answers.empty())
            return Answer::Cancel;
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<Answer> answers;
    std::vector<QString> asked;
};

// Local time that follows the simulated clock from a fixed start.
class SimWallClock final : public WallClock {
public:
    explicit SimWallClock(SimEventLoop& loop) : loop_(loop) {}
    QDateTime localNow() const override { return start.addMSecs(loop_.now()); }
    QDateTime start{QDate(2025, 3, 12), QTime(8, 15, 0)};

private:
    SimEventLoop& loop_;
};

// Every text the status line showed, in order, with the time it was shown.
class StatusRecorder final : public ControlObserver {
public:
    explicit StatusRecorder(SimEventLoop& loop) : loop_(loop) {}
    void controlChanged(const Control& c) override
    {
        texts.push_back({loop_.now(), c.text(), c.backColor()});
    }
    struct Entry {
        Millis at;
        QString text;
        Rgb back;
    };
    std::vector<Entry> texts;
    // The texts shown, without times.
    std::vector<QString> shown() const;
    bool contains(const QString& text) const;
    // How often the status line changed to `text`.
    int count(const QString& text) const;

private:
    SimEventLoop& loop_;
};

// The C library's locale is de_DE.UTF-8 (decimal comma) for the scope, as a
// user's environment sets it in the program; the locale comes from the build
// tree.
class DecimalCommaLocale {
public:
    DecimalCommaLocale();
    ~DecimalCommaLocale();
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;
    // Whether the C library now writes ",".
    bool active() const;

private:
    std::string previous_;
};

// A whole application on the simulated clock, in a temporary program
// directory, with a simulated port.
class AppFixture {
public:
    explicit AppFixture(QString programName = QStringLiteral("quellmark"),
                        QLocale locale = QLocale::c());
    ~AppFixture();

    // Writes the settings file of this program (raw bytes).
    void writeSettings(const QByteArray& bytes);
    QString settingsPath() const;
    QString dir() const { return tmp.path(); }

    // Builds the window; start() also runs Form_Load.
    MainForm& create();
    MainForm& start();

    SimEventLoop loop;
    SimSerialPort port{loop};
    RecordingSoundPlayer sound{loop};
    ScriptedDialogs dialogs;
    SimWallClock wallClock{loop};
    StatusRecorder status{loop};
    QTemporaryDir tmp;
    QString programName;
    QLocale locale;
    std::unique_ptr<MainForm> form;
};

} // namespace qm::test
