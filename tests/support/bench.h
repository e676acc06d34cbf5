#pragma once

#include "channels/sound_player.h"
#include "sampling/platform.h"
#include "tests/support/printers.h"
#include "tests/support/sim_serial_port.h"

#include <QFile>
#include <QTemporaryDir>

#include <vector>

namespace qm::test {

// What the program runs among, on the simulated clock: the device behind a
// simulated port, a temporary program directory, the wall clock and the
// sound player. Status texts are recorded with the time they were shown.
class Bench : public WallClock, public SoundPlayer {
public:
    explicit Bench(QLocale locale = QLocale::c())
        : locale(locale)
    {
    }
    void send(const std::string& bytes);        // arrives from the device now, handled
    QByteArray file(const QString& name) const; // of the program directory
    void write(const QString& name, const QByteArray& bytes) const;
    QString path(const QString& name) const { return tmp.filePath(name); }
    QByteArray log() const { return file(QStringLiteral("quellmarkLog/250312.txt")); }
    Millis shownAt(const QString& status) const; // first time shown, -1 never
    int timesShown(const QString& status) const;
    QString statusShown() const { return status.empty() ? QString() : status.back().second; }
    ProgramPaths paths() const { return {"quellmark", QFile::encodeName(tmp.path())}; }

    SimEventLoop loop;
    SimSerialPort port{loop};
    QTemporaryDir tmp;
    QLocale locale;
    std::vector<std::pair<Millis, QString>> status; // every status text, when shown
    std::vector<Millis> plays;                      // alarm sounds
    QByteArray soundPath;
    QByteArray defaultSound; // the sound that comes with the program
    QDateTime clockStart{QDate(2025, 3, 12), QTime(8, 15, 0)};

    QDateTime localNow() const override { return clockStart.addMSecs(loop.now()); }
    void play(const QByteArray& path) override
    {
        plays.push_back(loop.now());
        soundPath = path;
    }
    using SoundPlayer::failed; // the audio system's word
};

} // namespace qm::test
