// The real program as users run it, against the simulated device, under a
// decimal-comma locale: whole stories from start to stop.
#include "tests/e2e/harness.h"

#include "base/files.h"
#include "sampling/log_record.h"

#include <QFile>
#include <QSet>

#include <clocale>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::e2e {
namespace {

// Under a name and folder that are not UTF-8, every line the device sends is
// one log line with "." (though the C library writes ","), holding the values
// received so far; after SIGTERM (status 0) the trend read back from the log
// is exported (--export-trend, to a name that is not UTF-8): a header, then a
// row for every line.
TEST_F(E2eTest, ContinuousLinesAreLoggedOneForOneAndTheTrendKeepsThemAcrossARestart)
{
    ASSERT_NE(std::setlocale(LC_NUMERIC, ""), nullptr) << "the test locale is missing";
    const QByteArray folder = path + "/d\xfe", name = "q\xff m";
    ASSERT_EQ(::mkdir(folder, 0777), 0);
    ASSERT_EQ(::mkdir(folder + "/ports", 0777), 0);
    QByteArray terminal;
    startSim({"--continuous", "40", "--count", "24", "--seed", "1"}, &terminal);
    ASSERT_EQ(::symlink(terminal, folder + "/ports/com1"), 0);
    QProcess& app = startApp(name, {}, folder);
    ASSERT_TRUE(waitUntil([&] { return log(name, folder).size() >= 24; }, 15s));
    const auto byDevice = sent(0);
    const std::vector<QByteArray> lines = log(name, folder);
    ASSERT_EQ(lines.size(), byDevice.size());
    std::array<double, 9> values{};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        values[byDevice[i].second[2] - '0'] = byDevice[i].second.mid(4).toDouble();
        const auto logged = parseLogRecord(lines[i].toStdString()); // the log's exact form
        ASSERT_TRUE(logged) << lines[i];
        for (int c = 1; c <= 8; ++c)
            EXPECT_NEAR(logged->values[c], values[c], 0.0501) << lines[i];
    }
    EXPECT_EQ(stop(app, SIGTERM), 0);

    const QByteArray csv = path + "/trend\xff.csv";
    QProcess& exporter =
        run("'" + folder + '/' + name + "' --export-trend '" + csv + "'", dir.filePath("exp"));
    ASSERT_TRUE(exporter.waitForFinished(10000));
    ASSERT_EQ(exporter.exitCode(), 0) << readAll(dir.filePath("exp"));
    const QList<QByteArray> exported =
        QByteArray::fromStdString(readRegularFile(csv, 1 << 20).value_or("")).split('\n');
    EXPECT_TRUE(exported.value(0).startsWith("\"time\",\"V01")) << "a header row first";
    EXPECT_EQ(exported.size() - 2, qsizetype(lines.size())) << "a row for every line logged";
}

// The devices restart (their links vanish and come back): the program finds
// them again in both modes; SIGINT and SIGHUP end it as SIGTERM does.
TEST_F(E2eTest, RestartedDevicesAreFoundAgainAndSignalsEndCleanly)
{
    for (int round = 0; round < 2; ++round) {
        startSim({"--link", port(1), "--continuous", "10"});
        startSim({"--link", port(2), "--id", "A"});
        if (round == 0) {
            startApp("continuous", {});
            startApp("sampled", {2, 1, 3, "A"});
        }
        const std::size_t before = log("continuous").size();
        EXPECT_TRUE(waitUntil([&] { return log("continuous").size() > before; }, 10s)) << round;
        EXPECT_TRUE(waitUntil([&] { return sent(2 * round + 1).size() >= 3; }, 10s))
            << "the sampled device answered three requests in round " << round;
        if (round == 0) {
            stop(*sims[0], SIGTERM);
            stop(*sims[1], SIGTERM);
            for (const char* out : {"continuous.out", "sampled.out"})
                EXPECT_TRUE(
                    waitUntil([&] { return readAll(dir.filePath(out)).contains("Lost COM"); }, 5s))
                    << out << " reports the device lost";
        }
    }
    EXPECT_EQ(stop(*apps[0], SIGINT), 0);
    EXPECT_EQ(stop(*apps[1], SIGHUP), 0);
}

} // namespace
} // namespace qm::e2e
