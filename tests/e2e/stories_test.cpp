// The real program as users run it, against the simulated device, under a
// decimal-comma locale: whole stories from start to stop.
#include "tests/e2e/harness.h"

#include <QDate>
#include <QDir>
#include <QFile>
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
        for (const QString& name : d.entryList({QStringLiteral("LCK..*")}, QDir::Files))
            n += readAll(d.filePath(name)).split('\n').value(0).trimmed().toLongLong() == pid;
    }
    return n;
}

// Every line the device sends is one log line, in the file format ("." and
// nine fields, though the C library writes ","), holding the values received
// so far; SIGTERM then closes the port (its lock file goes) with status 0;
// started again, its trend holds those readings (written out here by
// --export-trend: a line a second, the last values of that second).
TEST_F(E2eTest, ContinuousLinesAreLoggedOneForOneAndTheTrendKeepsThemAcrossARestart)
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

    ASSERT_EQ(
        QProcess::execute(dir.filePath("quellmark"), {"--export-trend", dir.filePath("trend.csv")}),
        0);
    const QList<QByteArray> exported = readAll(dir.filePath("trend.csv")).split('\n');
    std::map<QByteArray, QByteArray> lastOfSecond;
    for (const QByteArray& line : lines)
        lastOfSecond[line.mid(1, 8)] = line.mid(10);
    ASSERT_EQ(exported.size() - 1, qsizetype(lastOfSecond.size()));
    for (const QByteArray& line : exported.mid(0, exported.size() - 1))
        EXPECT_EQ(line.mid(21) + '\n', lastOfSecond[line.mid(12, 8)]) << line.toStdString();
}

// Killed at any moment, every line in the log is whole; the day's file
// moved away while the device floods is followed by a new one at its path.
TEST_F(E2eTest, KilledWhileFloodedEveryLogLineIsWholeAndAMovedLogIsFollowed)
{
    startSim({"--link", port(1), "--continuous", "0", "--seed", "3"});
    QProcess& app = startApp("quellmark", {});
    const QString day =
        dir.filePath("quellmarkLog/" + QDate::currentDate().toString("yyMMdd") + ".txt");
    const QString moved = dir.filePath("quellmarkLog/0-moved.txt"); // sorts first
    ASSERT_TRUE(waitUntil([&] { return log("quellmark").size() >= 2000; }, 15s));
    ASSERT_TRUE(QFile::rename(day, moved));
    ASSERT_TRUE(waitUntil([&] { return readAll(day).count('\n') >= 2000; }, 15s));
    stop(app, SIGKILL);
    for (const QString& file : {moved, day})
        EXPECT_TRUE(readAll(file).endsWith("\r\n")) << file.toStdString();
    for (const QByteArray& line : log("quellmark"))
        ASSERT_TRUE(parseLogLine(line)) << line.toStdString();
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
        EXPECT_TRUE(waitUntil([&] { return log("continuous").size() > before[0] + 1; }, 15s))
            << round;
        EXPECT_TRUE(waitUntil([&] { return log("sampled").size() > before[1] + 1; }, 15s)) << round;
        if (round == 0) {
            for (auto& sim : sims)
                stop(*sim, SIGTERM);
            std::this_thread::sleep_for(3500ms); // the program retries while the links are gone
        }
    }
    EXPECT_EQ(stop(*app[0], SIGINT), 0);
    EXPECT_EQ(stop(*app[1], SIGHUP), 0);
    // Sampled on the wire: recognised, then each value asked for in turn.
    const auto requests = trace(1, false);
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(std::tuple(requests[0].second, requests[1].second, requests[2].second),
              std::tuple("AAT", "AV01", "AV02"));
    const auto line = parseLogLine(log("sampled").at(0));
    ASSERT_TRUE(line);
    EXPECT_EQ((*line)[2], 0); // the silent channel
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
