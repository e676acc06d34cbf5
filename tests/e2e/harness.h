#pragma once

// End-to-end harness: the real program, started through a link in a temporary
// program directory, against quellmark-sim on a pseudo-terminal.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace qm::e2e {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// Calls `done` every `step` until it returns true or `timeout` has passed.
// Returns the last result of `done`.
bool waitUntil(const std::function<bool()>& done, Ms timeout, Ms step = 25ms);

// Settings of one program instance, as its settings file holds them.
struct Settings {
    int comPort = 1;
    QString baud = QStringLiteral("9600");
    QString devId;
    int sTime = 0;
    int rvnr = 8;
    bool logOn = true;
    bool wavOn = false;

    // The eight CR LF lines of the settings file; channels keep the defaults
    // (offset 0, factor 1, limits 0 and 99.9).
    QByteArray fileContents() const;
};

// A temporary program directory. Instances are symbolic links to the program
// under test, so each has its own name, settings file and log folder.
class ProgramDir {
public:
    ProgramDir();
    bool isValid() const { return dir_.isValid(); }
    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    // <dir>/ports/com<n>: where COM port n is looked up first.
    QString portPath(int comPort) const;
    // Creates the link <dir>/<name> -> the program and writes <name>.ini.
    // Returns the path to start the instance under.
    QString addInstance(const QString& name, const Settings& settings);
    // <dir>/<name>Log
    QString logDir(const QString& name) const;
    // A folder for the harness's own files (outputs, traces), not the program's.
    QString diagDir() const;

private:
    QTemporaryDir dir_;
};

// One line of the simulator's trace.
struct TraceEntry {
    enum class Kind {
        Received, // a block of bytes as read from the terminal ("rx")
        Request,  // the bytes of one request up to and including its CR
        Sent,     // a line queued for sending, with its CR LF ("tx")
        Event     // open, close, flood N, done, replug
    };
    qint64 ms = 0;
    Kind kind = Kind::Event;
    QByteArray bytes; // Received, Request, Sent
    QString event;    // Event
};

class Sim {
public:
    explicit Sim(QString diagDir);
    ~Sim();
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    // Starts quellmark-sim with `args` and a trace file of its own; waits
    // until its terminal is there (the link of --link, or the path it prints).
    bool start(const QStringList& args);
    bool isRunning() const;
    qint64 pid() const;
    // SIGTERM and wait; SIGKILL if it does not end. Returns the exit code
    // (-1 if it had to be killed or was not running).
    int stop(int signal = SIGTERM);

    // The terminal's slave path (from the link, or what the simulator printed).
    QString slavePath() const { return slavePath_; }
    QString stderrText() const;
    QString tracePath() const { return tracePath_; }
    std::vector<TraceEntry> trace() const;
    // Only the entries of one kind.
    std::vector<TraceEntry> trace(TraceEntry::Kind kind) const;
    // The lines the simulator sent, without CR LF, in order.
    std::vector<QByteArray> sentLines() const;
    // Waits for "done" on stderr (the end of --count).
    bool waitForDone(Ms timeout) const;

private:
    QString diagDir_;
    QString tracePath_;
    QString stderrPath_;
    QString link_;
    QString slavePath_;
    QProcess process_;
    int serial_ = 0;
};

class App {
public:
    // The instance `name` of `dir` (see ProgramDir::addInstance).
    App(const ProgramDir& dir, QString name);
    // The program started under `startPath`, bytes as the file system has
    // them; its output goes to `diagDir`.
    App(QByteArray startPath, const QString& diagDir, QString name);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    bool start();
    bool isRunning() const;
    qint64 pid() const;
    // VmRSS and VmHWM (peak) of /proc/<pid>/status in kB.
    std::optional<long> residentKb() const;
    std::optional<long> peakResidentKb() const;
    void stop();
    // Sends `signal` and waits: the exit code, or -1 when the program did not
    // end normally (killed by the signal).
    int stop(int signal);
    QString outputText() const;
    QString name() const { return name_; }

private:
    std::optional<long> statusField(const char* field) const;

    QByteArray startPath_;
    QString name_;
    QString outputPath_;
    QString workDir_;
    QProcess process_;
};

// The log lines of an instance: every file of its log folder in name order,
// each line with its CR LF. A folder that does not exist gives no lines.
struct Log {
    QStringList files;
    std::vector<QByteArray> lines;
    QByteArray trailing; // bytes after the last CR LF (a line being written)
};
Log readLog(const QByteArray& logDir);
inline Log readLog(const QString& logDir)
{
    return readLog(QFile::encodeName(logDir));
}
// Counts the lines only (cheap enough to poll).
inline int countLogLines(const QString& logDir)
{
    return static_cast<int>(readLog(logDir).lines.size());
}

// One log line taken apart. False if the line is not exactly
// "hh:mm:ss" in quotes, eight numbers in the log's number form, CR LF.
struct LogLine {
    int secondsOfDay = 0;
    std::array<double, 9> values{}; // element 0 unused
};
bool parseLogLine(const QByteArray& line, LogLine& out);

// The channel values a device line leaves behind: replays value lines
// ("<id>V0n=text") and returns the values after each of them.
std::vector<std::array<double, 9>> valuesAfterEachLine(const std::vector<QByteArray>& lines,
                                                       const QByteArray& id = {});

// The values match within the display's rounding to one decimal.
::testing::AssertionResult valuesMatch(const std::array<double, 9>& logged,
                                       const std::array<double, 9>& sent);

// A client on the simulator's terminal, as a program would open the port.
class PortClient {
public:
    ~PortClient();
    bool open(const QString& path);
    void close();
    bool write(const QByteArray& bytes);
    // Reads what arrives within `timeout` (until `enough` returns true).
    QByteArray read(Ms timeout, const std::function<bool(const QByteArray&)>& enough = {});
    // True when the other side has hung up.
    bool hungUp() const;

private:
    int fd_ = -1;
};

// Base fixture: a program directory, started processes stopped at the end,
// and their outputs printed when a test failed.
class E2eTest : public ::testing::Test {
protected:
    void TearDown() override;
    Sim& startSim(const QStringList& args);
    App& startApp(const QString& name, const Settings& settings);

    ProgramDir dir;
    std::vector<std::unique_ptr<Sim>> sims;
    std::vector<std::unique_ptr<App>> apps;
};

} // namespace qm::e2e
