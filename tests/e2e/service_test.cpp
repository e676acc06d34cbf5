// The program as a service runs it: without a display, under a service
// manager that waits for READY=1 and the watchdog, with the journal as
// standard error, stopped at any moment.
#include "tests/e2e/harness.h"

#include "app/files.h"
#include "settings/settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <atomic>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace qm::e2e {
namespace {

// The service manager's end of NOTIFY_SOCKET: a datagram socket of the test's
// own, read all the time as systemd does (a full queue would block the
// sender).
class NotifySocket {
public:
    explicit NotifySocket(const QByteArray& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.constData());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
        reader_ = std::thread([this] {
            char buf[4096];
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 20) != 1)
                    continue;
                const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
                const std::lock_guard lock(mutex_);
                if (n > 0)
                    got_.append(QByteArray(buf, n));
            }
        });
    }
    ~NotifySocket()
    {
        stop_ = true;
        reader_.join();
        ::close(fd_);
    }
    // Every message so far, in order.
    QByteArrayList messages()
    {
        const std::lock_guard lock(mutex_);
        return got_;
    }

private:
    int fd_ = -1;
    std::atomic<bool> stop_ = false;
    std::mutex mutex_;
    QByteArrayList got_;
    std::thread reader_;
};

class ServiceTest : public E2eTest {
protected:
    // The environment of a board without a screen.
    static QProcessEnvironment noDisplay()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NOTIFY_SOCKET",
                                 "WATCHDOG_USEC", "WATCHDOG_PID", "JOURNAL_STREAM"})
            env.remove(QString::fromLatin1(name));
        return env;
    }
    // Runs `command` (shell words: bytes stay bytes) with standard error
    // into `err` and standard output into `<err>.out`.
    QProcess& run(const QByteArray& command, const QProcessEnvironment& env, const QString& err)
    {
        const QString script = dir.filePath(QStringLiteral("run%1").arg(apps.size()));
        writeAll(script, "exec " + command + "\n");
        auto& p = *apps.emplace_back(std::make_unique<QProcess>());
        p.setProcessEnvironment(env);
        p.setStandardErrorFile(err);
        p.setStandardOutputFile(err + ".out");
        p.start(QStringLiteral("/bin/sh"), {script});
        EXPECT_TRUE(p.waitForStarted(5000));
        return p;
    }
    static bool started(const QString& err)
    {
        return readAll(err).contains("quellmark.service: instance");
    }
    // Settings with logging on and channel 1 in alarm at any value.
    static QByteArray alarmSettings()
    {
        SettingsValues v = defaultSettings();
        v.STime = 0;
        v.LogOn = 1;
        v.SetHi[1] = -9999;
        return QByteArray::fromStdString(writeSettingsFile(v));
    }
};

// --headless --instance DIR, the way the unit starts it: no display, READY=1
// once it runs, then WATCHDOG=1; each line on standard error carries its
// priority for the journal; the log goes on; SIGTERM ends it with status 0.
// Its trend then goes to a file whose name is not UTF-8, byte for byte.
TEST_F(ServiceTest, HeadlessInstanceTellsTheServiceManagerAndTheJournal)
{
    startSim({"--link", port(1), "--continuous", "20"});
    const QByteArray instance = path + "/board1";
    ASSERT_EQ(::mkdir(instance, 0755), 0);
    ASSERT_EQ(::mkdir(instance + "/ports", 0755), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(port(1)), instance + "/ports/com1"), 0);
    writeAll(QFile::decodeName(instance + "/board1.ini"), alarmSettings());
    NotifySocket notify(path + "/notify");
    const QString err = dir.filePath("err");
    writeAll(err, {});
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(err), &st), 0);
    QProcessEnvironment env = noDisplay();
    env.insert("NOTIFY_SOCKET", QFile::decodeName(path + "/notify"));
    env.insert("WATCHDOG_USEC", "200000");
    env.insert("JOURNAL_STREAM", QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
    QProcess& app = run("'" QM_APP_PATH "' --headless --instance '" + instance + "'", env, err);

    EXPECT_TRUE(waitUntil([&] { return notify.messages().size() >= 3; }, 10s));
    const QByteArrayList got = notify.messages();
    ASSERT_FALSE(got.isEmpty());
    EXPECT_TRUE(got[0].startsWith("READY=1\n")) << got[0].toStdString();
    EXPECT_TRUE(got.contains("WATCHDOG=1")) << got.join('|').toStdString();
    EXPECT_TRUE(waitUntil([&] { return log("board1", instance).size() >= 3; }, 10s));
    EXPECT_TRUE(waitUntil([&] { return readAll(err).contains("<4>quellmark.alarm: V01"); }, 5s))
        << readAll(err).toStdString();
    EXPECT_EQ(stop(app, SIGTERM), 0);
    EXPECT_EQ(notify.messages().last(), "STOPPING=1");
    EXPECT_TRUE(readAll(err).contains("<6>quellmark.service: stopping on a signal"))
        << readAll(err).toStdString();

    const QByteArray csv = path + "/exp\xff.csv";
    QProcess& exporter =
        run("'" QM_APP_PATH "' --instance '" + instance + "' --export-trend '" + csv + "'", env,
            dir.filePath("export"));
    ASSERT_TRUE(exporter.waitForFinished(10000));
    EXPECT_EQ(exporter.exitCode(), 0) << readAll(dir.filePath("export")).toStdString();
    EXPECT_TRUE(readRegularFile(csv, 1 << 20)) << "no file with the name's exact bytes";
    ::unlink(csv); // a name QTemporaryDir cannot remove
}

// Without a display and without --headless: one line that says what to do,
// status 1. Qt's own options pass: -platform chooses a display.
TEST_F(ServiceTest, WithoutADisplayTheProgramSaysSoUnlessToldWhereToShowItself)
{
    const struct {
        QByteArray args;
        int exit; // -1: runs until stopped, then 0
        QByteArray says;
    } cases[] = {{"", 1, ": no display to show the window on; start with --headless"},
                 {"-platform offscreen", -1, ""},
                 {"-style fusion -platform offscreen -reverse", -1, ""},
                 {"--headless -platform offscreen", -1, ""},
                 {"--help-all", 0, "-platform"},
                 {"-plat", 2, "Unknown option 'plat'"}};
    int n = 0;
    for (const auto& c : cases) {
        const QString err = dir.filePath(QStringLiteral("err%1").arg(n++));
        QProcess& app = run("'" QM_APP_PATH "' " + c.args, noDisplay(), err);
        if (c.exit < 0) {
            EXPECT_TRUE(waitUntil([&] { return started(err); }, 10s)) << c.args.toStdString();
            EXPECT_EQ(stop(app, SIGTERM), 0) << c.args.toStdString();
            continue;
        }
        ASSERT_TRUE(app.waitForFinished(10000));
        EXPECT_EQ(app.exitCode(), c.exit) << c.args.toStdString();
        const QByteArray said = readAll(err) + readAll(err + ".out");
        EXPECT_TRUE(said.contains(c.says)) << c.args.toStdString() << ": " << said.toStdString();
    }
    EXPECT_EQ(readAll(dir.filePath("err0")).count('\n'), 1) << "one line";
}

// A service manager may stop the instance as soon as it has started it. The
// program catches the stop before anything slow (it loads no platform plugin
// before), and a stop at any moment after that ends it with status 0.
TEST_F(ServiceTest, StoppedWhileItStartsItStillEndsWithStatusZero)
{
    const QString trace = dir.filePath("trace");
    QProcess traced;
    traced.setProcessEnvironment(noDisplay());
    traced.start("strace", {"-o", trace, "-e", "trace=rt_sigaction,openat", QM_APP_PATH,
                            "--instance", dir.path(), "-platform", "offscreen"});
    const auto opened = [&] { return readAll(trace).indexOf("/libqoffscreen.so\""); };
    ASSERT_TRUE(waitUntil([&] { return opened() >= 0; }, 10s)) << "not run under strace";
    const qsizetype caught = readAll(trace).indexOf("rt_sigaction(SIGTERM, {sa_handler=0x");
    EXPECT_GE(caught, 0);
    EXPECT_LT(caught, opened()) << "the platform plugin was loaded before SIGTERM was caught";
    const qint64 program =
        readAll(QStringLiteral("/proc/%1/task/%1/children").arg(traced.processId()))
            .trimmed()
            .toLongLong();
    ASSERT_GT(program, 0);
    ::kill(static_cast<pid_t>(program), SIGTERM);
    ASSERT_TRUE(traced.waitForFinished(10000));

    const QString exe = QFileInfo(QM_APP_PATH).canonicalFilePath();
    for (const int delayMs : {0, 30}) {
        QProcess app;
        app.setProcessEnvironment(noDisplay());
        app.start(QM_APP_PATH, {"--instance", dir.path(), "-platform", "offscreen"});
        ASSERT_TRUE(app.waitForStarted(5000));
        const pid_t pid = static_cast<pid_t>(app.processId());
        const QString proc = QStringLiteral("/proc/%1/").arg(pid);
        const auto catchesTerm = [&] {
            if (QFile::symLinkTarget(proc + "exe") != exe)
                return false; // not yet the program
            for (const QByteArray& line : readAll(proc + "status").split('\n'))
                if (line.startsWith("SigCgt:"))
                    return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1) & 1) !=
                           0;
            return false;
        };
        ASSERT_TRUE(waitUntil(catchesTerm, 5s));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        EXPECT_EQ(stop(app, SIGTERM), 0) << "stopped " << delayMs << " ms after it caught SIGTERM";
    }
}

// Root starting a copy that lies in a system folder (/opt) writes nothing
// there: the instance lives in root's data folder.
TEST_F(ServiceTest, RootWritesNothingIntoASystemFolder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    char tmpl[] = "/opt/quellmark-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const QByteArray system(tmpl), data = path + "/data", home = data + "/quellmark";
    const auto cleanUp = qScopeGuard([&] { QDir(QFile::decodeName(system)).removeRecursively(); });
    ASSERT_TRUE(QFile::copy(QM_APP_PATH, QFile::decodeName(system + "/qm")));
    ASSERT_EQ(::mkdir(data, 0700) | ::mkdir(home, 0700) | ::mkdir(home + "/ports", 0700), 0);
    startSim({"--link", QFile::decodeName(home + "/ports/com1"), "--continuous", "20"});
    writeAll(QFile::decodeName(home + "/qm.ini"), alarmSettings());
    QProcessEnvironment env = noDisplay();
    env.insert("XDG_DATA_HOME", QFile::decodeName(data));
    QProcess& app = run("'" + system + "/qm' --headless", env, dir.filePath("err"));
    EXPECT_TRUE(waitUntil([&] { return log("qm", home).size() >= 2; }, 10s));
    EXPECT_EQ(stop(app, SIGTERM), 0);
    EXPECT_EQ(QDir(QFile::decodeName(system)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"qm"});
}

} // namespace
} // namespace qm::e2e
