#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

namespace qm {

class EventLoop;
class SerialPort;
class SoundPlayer;

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

// Everything the monitor needs from the platform.
struct Platform {
    EventLoop& loop;
    SerialPort& port;
    SoundPlayer& sound;
    WallClock& wallClock;
    ProgramPaths paths;
    QLocale locale;          // the user's number settings
    QByteArray defaultSound; // the alarm sound that comes with the program; empty: none
};

} // namespace qm
