// The program as a service runs it: no display, a service manager that waits
// for READY=1 and the watchdog, the journal as standard error, a stop at once.
#include "tests/e2e/harness.h"

#include "app/files.h"
#include "settings/settings_file.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <csignal>
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
                             "WATCHDOG_USEC", "WATCHDOG_PID", "JOURNAL_STREAM"})
        env.remove(QString::fromLatin1(name));
    return env;
}

// Continuous reading, logging on, channel 1 in alarm at any value.
QByteArray alarmSettings()
{
    SettingsValues v = defaultSettings();
    v.STime = 0;
    v.LogOn = 1;
    v.SetHi[1] = -9999;
    return QByteArray::fromStdString(writeSettingsFile(v));
}

class ServiceTest : public E2eTest {
protected:
    // Runs `command` through the shell (bytes stay bytes), standard error
    // into `err`, standard output into `<err>.out`.
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
    // The service manager's end: a datagram socket read at every look, as
    // systemd reads it (a full queue would hold the program).
    const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
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
    const QString err = dir.filePath("err");
    writeAll(err, {});
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(err), &st), 0);
    QProcessEnvironment env = noDisplay();
    env.insert("NOTIFY_SOCKET", QString::fromLatin1(address.sun_path));
    env.insert("WATCHDOG_USEC", "1000000");
    env.insert("JOURNAL_STREAM", QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
    QProcess& app = run("'" QM_APP_PATH "' --headless --instance '" + instance + "'", env, err);

    EXPECT_TRUE(waitUntil([&] { return received().contains("WATCHDOG=1"); }, 10s));
    ASSERT_FALSE(got.isEmpty());
    EXPECT_TRUE(got[0].startsWith("READY=1\n")) << got[0].toStdString();
    const auto logged = [&] {
        received();
        return log("board1", instance).size() >= 3;
    };
    EXPECT_TRUE(waitUntil(logged, 10s));
    EXPECT_TRUE(waitUntil([&] { return readAll(err).contains("<4>quellmark.alarm: V01"); }, 5s))
        << readAll(err).toStdString();
    EXPECT_EQ(stop(app, SIGTERM), 0);
    EXPECT_EQ(received().last(), "STOPPING=1");
    ::close(notify);
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
                 {"-platform offscreen -style fusion", -1, ""},
                 {"--headless -platform offscreen", -1, ""},
                 {"--help-all", 0, "-platform"}};
    int n = 0;
    for (const auto& c : cases) {
        const QString err = dir.filePath(QStringLiteral("err%1").arg(n++));
        QProcess& app =
            run("'" QM_APP_PATH "' --instance '" + path + "' " + c.args, noDisplay(), err);
        if (c.exit < 0) {
            const auto started = [&] {
                return readAll(err).contains("quellmark.service: instance");
            };
            EXPECT_TRUE(waitUntil(started, 10s)) << c.args.toStdString();
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
// before), so a stop while the plugin loads ends it with status 0.
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
