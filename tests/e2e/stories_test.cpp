// The real program as users run it, against the simulated device, under a
// decimal-comma locale: whole stories from start to stop.
#include "tests/e2e/harness.h"

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
// --export-trend: a header, then a line a second, the last values of that
// second).
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
    EXPECT_EQ(locksHeldBy(app.processId()), 1) << "the running program holds its port's lock file";
    const qint64 pid = app.processId();
    EXPECT_EQ(stop(app, SIGTERM), 0);
    EXPECT_EQ(locksHeldBy(pid), 0) << "the port's lock file was left behind";

    ASSERT_EQ(
        QProcess::execute(dir.filePath("quellmark"), {"--export-trend", dir.filePath("trend.csv")}),
        0);
    const QList<QByteArray> exported = readAll(dir.filePath("trend.csv")).split('\n');
    std::map<QByteArray, QByteArray> lastOfSecond;
    for (const QByteArray& line : lines)
        lastOfSecond[line.mid(1, 8)] = line.mid(11).trimmed();
    EXPECT_TRUE(exported.value(0).startsWith("\"time\",\"V01")) << "a header row first";
    ASSERT_EQ(exported.size() - 2, qsizetype(lastOfSecond.size()));
    for (const QByteArray& line : exported.mid(1, exported.size() - 2)) {
        // "2026-03-12T08:15:02+01:00",v1,...,v8; a channel not read is empty.
        QByteArray values;
        for (const QByteArray& field : line.mid(line.indexOf("\",") + 2).trimmed().split(','))
            values += (values.isEmpty() ? "" : ",") + (field.isEmpty() ? "0" : field);
        EXPECT_EQ(values, lastOfSecond[line.mid(12, 8)]) << line.toStdString();
    }
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
    EXPECT_EQ(requests[0].second, "AAT");
    EXPECT_EQ(requests[1].second, "AV01");
    EXPECT_EQ(requests[2].second, "AV02");
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
