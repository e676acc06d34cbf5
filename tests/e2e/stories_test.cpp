// The real program as users run it, against the simulated device, under a
// decimal-comma locale: whole stories from start to stop.
#include "tests/e2e/harness.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <map>

#include <clocale>
#include <csignal>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qm::e2e {
namespace {

// The serial lock files naming `pid` as their owner.
int locksHeldBy(qint64 pid)
{
    int n = 0;
    QSet<QString> seen; // /var/lock is often a link to /run/lock
    for (const char* folder : {"/var/lock", "/run/lock", "/tmp", "/var/tmp"}) {
        const QDir d(QString::fromLatin1(folder));
        if (!d.exists() || seen.contains(d.canonicalPath()))
            continue;
        seen.insert(d.canonicalPath());
        for (const QString& name : d.entryList({QStringLiteral("LCK..*")}, QDir::Files)) {
            QFile f(d.filePath(name));
            n += f.open(QIODevice::ReadOnly) && f.readLine().trimmed().toLongLong() == pid;
        }
    }
    return n;
}

// Every line the device sends is one log line, in the file format ("." and
// nine fields, though the C library writes ","), holding the values received
// so far; SIGTERM then closes the port (its lock file goes) with status 0.
TEST_F(E2eTest, ContinuousLinesAreLoggedOneForOneAndSigtermEndsCleanly)
{
    ASSERT_NE(std::setlocale(LC_NUMERIC, ""), nullptr) << "the test locale is missing";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << "not run under the decimal-comma locale";
    startSim({"--link", port(1), "--continuous", "40", "--count", "24", "--seed", "1"});
    QProcess& app = startApp("quellmark", {});
    ASSERT_TRUE(waitUntil([&] { return log("quellmark").size() >= 24; }, 15s));
    const auto sent = trace(0, true);
    const std::vector<QByteArray> lines = log("quellmark");
    ASSERT_EQ(lines.size(), sent.size());
    std::array<double, 9> values{};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        values[sent[i].second[2] - '0'] = sent[i].second.mid(4).toDouble();
        const auto logged = parseLogLine(lines[i]);
        ASSERT_TRUE(logged) << lines[i].toStdString();
        for (int c = 1; c <= 8; ++c)
            EXPECT_NEAR((*logged)[c], values[c], 0.0501) << lines[i].toStdString();
    }
    const QByteArray today = QDate::currentDate().toString("yyMMdd").toLatin1() + ".txt";
    EXPECT_TRUE(QFile::exists(dir.filePath("quellmarkLog/" + today)));

    EXPECT_EQ(locksHeldBy(app.processId()), 1);
    const qint64 pid = app.processId();
    EXPECT_EQ(stop(app, SIGTERM), 0);
    EXPECT_EQ(locksHeldBy(pid), 0) << "the port's lock file was left behind";
}

// The devices restart (their links vanish for a moment and come back): the
// program finds them again in both modes, never holding another port
// meanwhile; SIGINT and SIGHUP end it as SIGTERM does.
TEST_F(E2eTest, RestartedDevicesAreFoundAgainAndSignalsEndCleanly)
{
    QProcess* app[2] = {};
    for (int round = 0; round < 2; ++round) {
        startSim({"--link", port(1), "--continuous", "10"});
        startSim({"--link", port(2), "--id", "A", "--unanswered", "2"});
        if (round == 0) {
            app[0] = &startApp("continuous", {});
            app[1] = &startApp("sampled", {2, 1, 3, "A"});
        }
        const std::size_t before[] = {log("continuous").size(), log("sampled").size()};
        EXPECT_TRUE(waitUntil([&] { return log("continuous").size() > before[0] + 1; }, 15s)) << round;
        EXPECT_TRUE(waitUntil([&] { return log("sampled").size() > before[1] + 1; }, 15s)) << round;
        if (round == 0) {
            for (auto& sim : sims)
                stop(*sim, SIGTERM);
            std::this_thread::sleep_for(3500ms); // the program retries while the links are gone
        }
    }
    EXPECT_EQ(stop(*app[0], SIGINT), 0);
    EXPECT_EQ(stop(*app[1], SIGHUP), 0);
    // Sampled on the wire: recognised, then each value asked for in turn (the
    // unanswered one after the watchdog), in every cycle.
    const auto requests = trace(1, false);
    ASSERT_GE(requests.size(), 5u);
    EXPECT_EQ(requests[0].second, "AAT");
    for (std::size_t i = 1; i < 5; ++i)
        EXPECT_EQ(requests[i].second, "AV0" + QByteArray::number((i - 1) % 3 + 1));
    EXPECT_NEAR(requests[3].first - requests[2].first, 5500, 300);
    const auto line = parseLogLine(log("sampled").at(0));
    ASSERT_TRUE(line);
    EXPECT_EQ((*line)[2], 0); // the silent channel
}

// A restart keeps the trend: the program started again holds the readings
// of before (written out here by its --export-trend), one line a second with
// the last values of that second.
TEST_F(E2eTest, TheTrendHoldsTheReadingsOfBeforeARestart)
{
    startSim({"--link", port(1), "--continuous", "8", "--count", "24"});
    QProcess& app = startApp("quellmark", {});
    ASSERT_TRUE(waitUntil([&] { return log("quellmark").size() >= 24; }, 15s));
    stop(app, SIGTERM);
    const QString csv = dir.filePath("trend.csv");
    ASSERT_EQ(QProcess::execute(dir.filePath("quellmark"), {"--export-trend", csv}), 0);
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> exported = f.readAll().split('\n');
    std::map<QByteArray, QByteArray> lastOfSecond; // the log's lines, the last of each second
    for (const QByteArray& line : log("quellmark"))
        lastOfSecond[line.mid(1, 8)] = line.mid(10);
    ASSERT_EQ(exported.size() - 1, qsizetype(lastOfSecond.size()));
    for (const QByteArray& line : exported.mid(0, exported.size() - 1))
        EXPECT_EQ(line.mid(21) + '\n', lastOfSecond[line.mid(12, 8)]) << line.toStdString();
}

// Noise, broken and endless lines, a missing port that appears later, a port
// held by another instance: the program goes on, and logs only good lines.
TEST_F(E2eTest, FaultsNeverStopTheProgram)
{
    startApp("late", {3});
    std::this_thread::sleep_for(3s); // COM3 missing: retried
    startSim({"--link", port(3), "--continuous", "0", "--count", "20000", "--malformed", "40", "--flood",
              "1000000", "--seed", "3"});
    QProcess& second = startApp("second", {3});
    ASSERT_TRUE(waitUntil([&] { return log("late").size() > 1000; }, 30s));
    std::this_thread::sleep_for(1s);
    for (const QByteArray& line : log("late"))
        ASSERT_TRUE(parseLogLine(line)) << line.toStdString();
    EXPECT_TRUE(log("second").empty()) << "two instances on one port";
    EXPECT_EQ(second.state(), QProcess::Running);
    EXPECT_EQ(apps[0]->state(), QProcess::Running);
}

// Installed in a folder it may not write (as /usr/bin): the instance keeps
// its files in $XDG_DATA_HOME/quellmark, named after the program. (As root,
// who writes anywhere, it runs as nobody.)
TEST_F(E2eTest, AnInstalledProgramKeepsItsFilesInTheUsersDataFolder)
{
    const QByteArray bin = path + "/bin", home = path + "/data/quellmark";
    ASSERT_EQ(::mkdir(bin, 0755) | ::mkdir(path + "/data", 0777), 0);
    ASSERT_EQ(::symlink(QM_APP_PATH, bin + "/pump"), 0);
    ASSERT_EQ(::chmod(bin, 0555) | ::chmod(path, 0755), 0);
    startSim({"--link", QFile::decodeName(home + "/ports/com1"), "--continuous", "20"});
    QFile ini(QFile::decodeName(home + "/pump.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(settingsFile({}));
    ini.close();
    for (const QByteArray& p : {path + "/data", home, home + "/ports", home + "/pump.ini"})
        ::chmod(p, 0777);
    ::chmod(QFile::encodeName(QFileInfo(QFile::decodeName(home + "/ports/com1")).symLinkTarget()), 0666);
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", QFile::decodeName(path + "/data"));
    app.setProcessEnvironment(env);
    if (::geteuid() == 0)
        app.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", QFile::decodeName(bin + "/pump")});
    else
        app.start(QFile::decodeName(bin + "/pump"));
    EXPECT_TRUE(waitUntil([&] { return log("pump", home).size() >= 3; }, 10s));
    stop(app, SIGTERM);
    EXPECT_EQ(::access(bin + "/pumpLog", F_OK), -1);
}

// A folder and a program name that are not UTF-8 keep their settings file,
// port map and log.
TEST_F(E2eTest, ANameAndFolderThatAreNotUtf8StillFindTheirFiles)
{
    const QByteArray folder = path + "/d\xfe";
    ASSERT_EQ(::mkdir(folder, 0777), 0);
    ASSERT_EQ(::mkdir(folder + "/ports", 0777), 0);
    QByteArray terminal;
    startSim({"--continuous", "20"}, &terminal);
    ASSERT_EQ(::symlink(terminal, folder + "/ports/com3"), 0);
    startApp("q\xff m", {3}, folder);
    EXPECT_TRUE(waitUntil([&] { return log("q\xff m", folder).size() >= 3; }, 10s));
}

} // namespace
} // namespace qm::e2e
