// The program as a service runs it: no display, a service manager that waits
// for READY=1 and the watchdog, the journal as standard error, a stop at once,
// a device unplugged under it.
#include "tests/e2e/harness.h"

#include "settings/settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qm::e2e {
namespace {

// The environment of a board without a screen.
QProcessEnvironment noDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NOTIFY_SOCKET",
                             "WATCHDOG_USEC", "WATCHDOG_PID", "JOURNAL_STREAM", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    return env;
}

using ServiceTest = E2eTest;

// CPU seconds a process has used so far.
double cpuSecondsOf(qint64 pid)
{
    const QList<QByteArray> f =
        readAll(QStringLiteral("/proc/%1/stat").arg(pid)).split(')').value(1).split(' ');
    // utime and stime, the 12th and 13th after the name
    return static_cast<double>(f.value(12).toLongLong() + f.value(13).toLongLong()) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// --headless --instance DIR, as the unit starts it: READY=1, then WATCHDOG=1;
// journal lines with their priority. The terminal then hangs up
// as an unplugged adapter's does (TIOCVHANGUP, as root: reads of 0 bytes):
// the device is reported gone once, the program does not spin and reads
// again. The alarm sound writes nothing under $HOME. SIGTERM ends it with
// status 0.
TEST_F(ServiceTest, HeadlessInstanceTellsTheServiceManagerAndTheJournalOfAHangUp)
{
    startSim({"--link", port(1), "--continuous", "20", "--seed", "5"});
    const QByteArray name = QFile::encodeName(QFileInfo(dir.path()).fileName()); // as the folder
    SettingsValues v = defaultSettings();
    v.sampleTime = 0;
    v.logOn = 1;
    v.setHi[1] = -9999; // channel 1 in alarm at any value
    v.soundOn = 1;
    writeAll(QFile::decodeName(path + '/' + name + ".ini"),
             QByteArray::fromStdString(writeSettingsFile(v)));
    const char wav[] = "RIFF\x2c\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0"
                       "\x01\0\x08\0data\x08\0\0\0\x80\x80\x80\x80\x80\x80\x80\x80";
    writeAll(dir.filePath("a1.wav"), QByteArray(wav, sizeof wav - 1));
    const QString home = dir.filePath("home");
    ASSERT_TRUE(QDir().mkdir(home));
    // The service manager's end, read at every look (a full queue would block).
    const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const auto closeNotify = qScopeGuard([&] { ::close(notify); });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/notify", path.constData());
    ASSERT_EQ(::bind(notify, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    QByteArrayList got;
    const auto received = [&] {
        char buf[512];
        for (ssize_t n; (n = ::recv(notify, buf, sizeof buf, 0)) > 0;)
            got.append(QByteArray(buf, n));
        return got;
    };
    const auto until = [&](const std::function<bool()>& done, std::chrono::milliseconds timeout) {
        return waitUntil(
            [&] {
                received();
                return done();
            },
            timeout);
    };
    const QString err = dir.filePath("err");
    writeAll(err, {});
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(err), &st), 0);
    QProcessEnvironment env = noDisplay();
    env.insert("NOTIFY_SOCKET", QString::fromLatin1(address.sun_path));
    env.insert("WATCHDOG_USEC", "1000000");
    env.insert("JOURNAL_STREAM", QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
    env.insert("HOME", home);
    QProcess& app = run("'" QM_APP_PATH "' --headless --instance '" + path + "'", err, env);

    ASSERT_TRUE(until([&] { return got.contains("WATCHDOG=1"); }, 10s));
    EXPECT_TRUE(got[0].startsWith("READY=1\n")) << got[0];
    ASSERT_TRUE(until([&] { return log(name).size() >= 5; }, 10s));
    EXPECT_TRUE(until([&] { return readAll(err).contains("<4>quellmark.alarm: V01"); }, 5s))
        << readAll(err);

    const double cpuBefore = cpuSecondsOf(app.processId());
    const auto hungUpAt = std::chrono::steady_clock::now();
    const int terminal =
        ::open(QFile::encodeName(port(1)).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int hangUp = terminal < 0 || ::ioctl(terminal, TIOCVHANGUP) != 0 ? errno : 0;
    ::close(terminal);
    if (hangUp == 0) {
        const char* lost = "<4>quellmark.device: Lost COM1";
        ASSERT_TRUE(until([&] { return readAll(err).contains(lost); }, 5s)) << readAll(err);
        const std::size_t atLoss = log(name).size();
        ASSERT_TRUE(until([&] { return log(name).size() >= atLoss + 5; }, 10s))
            << "no lines after the reconnection";
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - hungUpAt).count();
        EXPECT_LT(cpuSecondsOf(app.processId()) - cpuBefore, 0.25 * seconds)
            << "CPU seconds in the " << seconds << " s from the hang-up to lines again";
        EXPECT_EQ(readAll(err).count(lost), 1) << readAll(err);
    }
    const QString runtime = QFile::decodeName(path + '/' + name + "Run");
    EXPECT_TRUE(until([&] { return QFileInfo::exists(runtime + "/pulse"); }, 10s))
        << "the audio library was not tried, or not in the instance's runtime folder";
    EXPECT_EQ(stop(app, SIGTERM), 0);
    EXPECT_EQ(received().last(), "STOPPING=1");
    EXPECT_TRUE(QDir(home).isEmpty()) << "written under $HOME";
    if (hangUp != 0) // EBUSY (held exclusively) or EPERM unless root
        GTEST_SKIP() << "cannot hang the terminal up here: " << std::strerror(hangUp);
}

// Without a display (none named, or none where named) and without
// --headless: one line that says what to do, status 1; --help-all lists Qt's
// own options.
TEST_F(ServiceTest, WithoutADisplayTheProgramSaysSoUnlessToldWhereToShowItself)
{
    const QByteArray noDisplayLine = ": no display to show the window on; start with --headless";
    const struct {
        QString display;
        QByteArray args;
        int exit;
        QByteArray says;
    } cases[] = {{"", "", 1, noDisplayLine},
                 {":113", "", 1, noDisplayLine},
                 {"", "--help-all", 0, "-platform"}};
    for (const auto& c : cases) {
        QProcessEnvironment env = noDisplay();
        if (!c.display.isEmpty())
            env.insert("DISPLAY", c.display);
        const QString out = dir.filePath("out" + c.display + c.args);
        QProcess& app = run("'" QM_APP_PATH "' --instance '" + path + "' " + c.args, out, env);
        ASSERT_TRUE(app.waitForFinished(10000));
        EXPECT_EQ(app.exitCode(), c.exit) << c.display << ' ' << c.args;
        EXPECT_TRUE(readAll(out).contains(c.says)) << c.args << ": " << readAll(out);
        if (c.exit == 1) {
            EXPECT_EQ(readAll(out).count('\n'), 1) << "lines without display " << c.display;
        }
    }
}

// A stop as soon as it started (while the platform plugin loads) ends it
// with status 0: SIGTERM is caught before anything slow; -platform is taken.
TEST_F(ServiceTest, StoppedWhileItStartsItStillEndsWithStatusZero)
{
    const QString trace = dir.filePath("trace");
    QProcess traced; // strace ends with the status of the program it runs
    traced.setProcessEnvironment(noDisplay());
    traced.start("strace", {"-o", trace, "-e", "trace=rt_sigaction,openat", QM_APP_PATH,
                            "--instance", dir.path(), "-platform", "offscreen"});
    const auto opened = [&] { return readAll(trace).indexOf("/libqoffscreen.so\""); };
    ASSERT_TRUE(waitUntil([&] { return opened() >= 0; }, 10s)) << "not run under strace";
    const qsizetype program =
        readAll(QStringLiteral("/proc/%1/task/%1/children").arg(traced.processId()))
            .trimmed()
            .toLongLong();
    ASSERT_GT(program, 0);
    ::kill(static_cast<pid_t>(program), SIGTERM);
    ASSERT_TRUE(traced.waitForFinished(10000));
    EXPECT_EQ(traced.exitStatus(), QProcess::NormalExit) << "killed by SIGTERM";
    EXPECT_EQ(traced.exitCode(), 0);
    const qsizetype caught = readAll(trace).indexOf("rt_sigaction(SIGTERM, {sa_handler=0x");
    EXPECT_GE(caught, 0);
    EXPECT_LT(caught, opened()) << "the platform plugin was loaded before SIGTERM was caught";
}

// Root starting a copy in a system folder (/opt) writes nothing there.
TEST_F(ServiceTest, RootWritesNothingIntoASystemFolder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    char tmpl[] = "/opt/quellmark-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const QByteArray system(tmpl), data = path + "/data", home = data + "/quellmark";
    const auto cleanUp = qScopeGuard([&] { QDir(QFile::decodeName(system)).removeRecursively(); });
    ASSERT_TRUE(QFile::copy(QM_APP_PATH, QFile::decodeName(system + "/qm")));
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(home + "/ports")));
    startSim({"--link", QFile::decodeName(home + "/ports/com1"), "--continuous", "20"});
    writeAll(QFile::decodeName(home + "/qm.ini"), settingsFile({}));
    QProcessEnvironment env = noDisplay();
    env.insert("XDG_DATA_HOME", QFile::decodeName(data));
    QProcess& app = run("'" + system + "/qm' --headless", dir.filePath("err"), env);
    EXPECT_TRUE(waitUntil([&] { return log("qm", home).size() >= 2; }, 10s));
    EXPECT_EQ(stop(app, SIGTERM), 0);
    EXPECT_EQ(QDir(QFile::decodeName(system)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"qm"});
}

} // namespace
} // namespace qm::e2e
