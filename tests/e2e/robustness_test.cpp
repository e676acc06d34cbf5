// What a long, unattended run meets: the device restarting, the service
// manager stopping the program, names that are not UTF-8.

#include "tests/e2e/harness.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qm::e2e {
namespace {

Settings continuous()
{
    Settings s;
    s.sTime = 0;
    return s;
}

// The serial lock files that name `pid` as their owner.
int locksHeldBy(qint64 pid)
{
    int n = 0;
    QSet<QString> seen; // /var/lock is often a link to /run/lock
    for (const char* folder : {"/var/lock", "/run/lock", "/tmp", "/var/tmp"}) {
        const QDir d(QString::fromLatin1(folder));
        if (seen.contains(d.canonicalPath()))
            continue;
        seen.insert(d.canonicalPath());
        for (const QString& name : d.entryList({QStringLiteral("LCK..*")}, QDir::Files)) {
            QFile f(d.filePath(name));
            if (f.open(QIODevice::ReadOnly) && f.readLine().trimmed().toLongLong() == pid)
                ++n;
        }
    }
    return n;
}

class RobustnessTest : public E2eTest {};

TEST_F(RobustnessTest, TerminationSignalsCloseThePortAndExitWithZero)
{
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--continuous"),
                         QStringLiteral("20")});
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        const QString name = QStringLiteral("pump%1").arg(signal);
        App& app = startApp(name, continuous());
        ASSERT_TRUE(waitUntil([&] { return countLogLines(dir.logDir(name)) > 0; }, 10s));
        const qint64 pid = app.pid();
        EXPECT_EQ(locksHeldBy(pid), 1);
        EXPECT_EQ(app.stop(signal), 0);
        EXPECT_EQ(locksHeldBy(pid), 0) << "the port's lock file was left behind";
    }
    EXPECT_TRUE(sim.isRunning());
}

// The device restarts (its link vanishes for a moment and comes back): the
// program finds it again, in both modes, and never holds another port.
TEST_F(RobustnessTest, ARestartedDeviceIsFoundAgainThroughItsLink)
{
    const QStringList device{QStringLiteral("--continuous"), QStringLiteral("10")};
    Settings sampled;
    sampled.comPort = 2;
    sampled.sTime = 1;
    sampled.rvnr = 2;
    for (int round = 0; round < 2; ++round) {
        startSim(QStringList{QStringLiteral("--link"), dir.portPath(1)} + device);
        startSim(QStringList{QStringLiteral("--link"), dir.portPath(2)} + device);
        if (round == 0) {
            startApp(QStringLiteral("continuous"), continuous());
            startApp(QStringLiteral("sampled"), sampled);
        }
        const int before[] = {countLogLines(dir.logDir(QStringLiteral("continuous"))),
                              countLogLines(dir.logDir(QStringLiteral("sampled")))};
        for (int i = 0; i < 2; ++i) {
            const QString name = i == 0 ? QStringLiteral("continuous") : QStringLiteral("sampled");
            EXPECT_TRUE(waitUntil([&] { return countLogLines(dir.logDir(name)) > before[i] + 1; },
                                  15s))
                << name.toStdString() << " in round " << round;
        }
        if (round == 0) {
            for (auto& sim : sims)
                sim->stop();
            std::this_thread::sleep_for(3500ms); // the program retries while the links are gone
        }
    }
}

// A folder and a program name that are not UTF-8: the settings file, the
// port map and the log are still the instance's own.
TEST_F(RobustnessTest, ANameAndFolderThatAreNotUtf8StillFindTheirFiles)
{
    const QByteArray folder = QFile::encodeName(dir.path()) + "/d\xfe";
    const QByteArray program = folder + "/q\xff m";
    ASSERT_EQ(::mkdir(folder.constData(), 0777), 0);
    ASSERT_EQ(::mkdir((folder + "/ports").constData(), 0777), 0);
    Sim& sim = startSim({QStringLiteral("--continuous"), QStringLiteral("20")});
    ASSERT_EQ(::symlink(QFile::encodeName(sim.slavePath()).constData(),
                        (folder + "/ports/com3").constData()),
              0);
    ASSERT_EQ(::symlink(QM_APP_PATH, program.constData()), 0);
    Settings s = continuous();
    s.comPort = 3;
    const QByteArray ini = s.fileContents();
    const int fd = ::open((program + ".ini").constData(), O_CREAT | O_WRONLY, 0666);
    ASSERT_EQ(::write(fd, ini.constData(), ini.size()), ini.size());
    ::close(fd);

    apps.push_back(std::make_unique<App>(program, dir.diagDir(), QStringLiteral("odd")));
    ASSERT_TRUE(apps.back()->start());
    EXPECT_TRUE(waitUntil([&] { return readLog(program + "Log").lines.size() >= 3; }, 10s));
}

} // namespace
} // namespace qm::e2e
