// The program against the simulated device in continuous mode: the device
// is found, every line it sends reaches the log file, and the port is handled
// sensibly when it is missing or held by another instance.

#include "tests/e2e/harness.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <algorithm>
#include <clocale>
#include <thread>

namespace qm::e2e {
namespace {

Settings continuousLogging(int comPort = 1)
{
    Settings s;
    s.comPort = comPort;
    s.sTime = 0;
    s.logOn = true;
    return s;
}

// Seconds between two times of day, across midnight too.
int secondsBetween(int from, int to)
{
    return ((to - from) % 86400 + 86400) % 86400;
}

class DeviceLinkTest : public E2eTest {};

TEST_F(DeviceLinkTest, ContinuousValuesReachTheLogFileInTheExactLineFormat)
{
    // The program runs where the C library writes a decimal comma; the log
    // must still hold "." and nine fields.
    ASSERT_NE(std::setlocale(LC_NUMERIC, ""), nullptr) << "the test locale is missing";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << "not run under the decimal-comma locale";
    const QDate dayAtStart = QDate::currentDate();
    const int startSecond = QTime::currentTime().msecsSinceStartOfDay() / 1000;
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--continuous"),
                         QStringLiteral("40"), QStringLiteral("--count"), QStringLiteral("24"),
                         QStringLiteral("--seed"), QStringLiteral("1")});
    App& app = startApp(QStringLiteral("quellmark"), continuousLogging());
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    ASSERT_TRUE(sim.waitForDone(15s)) << "the program never opened the port";
    ASSERT_TRUE(waitUntil([&] { return countLogLines(logDir) >= 24; }, 10s))
        << countLogLines(logDir) << " log lines";
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(app.isRunning());

    const Log log = readLog(logDir);
    const QDate dayAtEnd = QDate::currentDate();
    const int endSecond = QTime::currentTime().msecsSinceStartOfDay() / 1000;

    // One file named after the day (two, if the test ran across midnight).
    ASSERT_FALSE(log.files.isEmpty());
    for (const QString& name : log.files) {
        EXPECT_TRUE(name == dayAtStart.toString(QStringLiteral("yyMMdd")) + QStringLiteral(".txt")
                    || name == dayAtEnd.toString(QStringLiteral("yyMMdd")) + QStringLiteral(".txt"))
            << name.toStdString();
    }
    EXPECT_TRUE(log.trailing.isEmpty()) << "bytes after the last CR LF: " << log.trailing.toStdString();

    // One line per line the device sent, each holding the values received so far.
    const std::vector<QByteArray> sent = sim.sentLines();
    ASSERT_EQ(sent.size(), 24u);
    ASSERT_EQ(log.lines.size(), sent.size());
    const auto expected = valuesAfterEachLine(sent);
    const int span = secondsBetween(startSecond, endSecond);
    for (std::size_t i = 0; i < log.lines.size(); ++i) {
        SCOPED_TRACE("log line " + std::to_string(i + 1) + ": " + log.lines[i].toStdString());
        LogLine line;
        ASSERT_TRUE(parseLogLine(log.lines[i], line)) << "not in the log line format";
        EXPECT_LE(secondsBetween(startSecond, line.secondsOfDay), span) << "time outside the test";
        EXPECT_TRUE(valuesMatch(line.values, expected[i]));
    }
}

TEST_F(DeviceLinkTest, TenThousandLinesGiveTenThousandLogLines)
{
    constexpr int kLines = 10000;
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--continuous"),
                         QStringLiteral("0"), QStringLiteral("--count"), QString::number(kLines),
                         QStringLiteral("--seed"), QStringLiteral("2")});
    App& app = startApp(QStringLiteral("quellmark"), continuousLogging());
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    // The simulator writes only as fast as the program reads.
    ASSERT_TRUE(sim.waitForDone(40s)) << countLogLines(logDir) << " log lines";
    ASSERT_TRUE(waitUntil([&] { return countLogLines(logDir) >= kLines; }, 20s, 50ms))
        << countLogLines(logDir) << " log lines";
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(app.isRunning());

    const Log log = readLog(logDir);
    ASSERT_EQ(log.lines.size(), static_cast<std::size_t>(kLines));
    EXPECT_TRUE(log.trailing.isEmpty());
    const std::vector<QByteArray> sent = sim.sentLines();
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kLines));
    const auto expected = valuesAfterEachLine(sent);
    int bad = 0;
    for (std::size_t i = 0; i < log.lines.size() && bad < 5; ++i) {
        LogLine line;
        if (!parseLogLine(log.lines[i], line)) {
            ADD_FAILURE() << "line " << i + 1 << " not in the log format: " << log.lines[i].toStdString();
            ++bad;
            continue;
        }
        const auto match = valuesMatch(line.values, expected[i]);
        if (!match) {
            ADD_FAILURE() << "line " << i + 1 << ": " << match.message();
            ++bad;
        }
    }
}

TEST_F(DeviceLinkTest, MemoryStaysBoundedWhileTheDeviceSendsAMillionBytesWithoutLineEnd)
{
    constexpr long kLimitKb = 100 * 1024;
    constexpr int kAfter = 80; // value lines after the flood
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--flood"),
                         QStringLiteral("1000000"), QStringLiteral("--continuous"), QStringLiteral("0"),
                         QStringLiteral("--count"), QString::number(kAfter), QStringLiteral("--seed"),
                         QStringLiteral("3")});
    App& app = startApp(QStringLiteral("quellmark"), continuousLogging());
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    long highest = 0;
    auto sample = [&] {
        if (const auto kb = app.residentKb())
            highest = std::max(highest, *kb);
    };
    // The flood and the lines after it are sent only as fast as the program reads.
    const bool done = waitUntil(
        [&] {
            sample();
            return sim.stderrText().contains(QStringLiteral("done"));
        },
        30s, 20ms);
    ASSERT_TRUE(done) << "the program did not take the flood";
    waitUntil(
        [&] {
            sample();
            return countLogLines(logDir) >= kAfter - 1;
        },
        10s, 20ms);
    std::this_thread::sleep_for(300ms);
    sample();
    ASSERT_TRUE(app.isRunning());
    EXPECT_LT(highest, kLimitKb) << "resident kB while flooded";
    if (const auto peak = app.peakResidentKb()) {
        EXPECT_LT(*peak, kLimitKb) << "peak resident kB";
    }

    // The line the flood ran into is lost; every later one is read and logged.
    const Log log = readLog(logDir);
    ASSERT_GE(log.lines.size(), static_cast<std::size_t>(kAfter - 1));
    EXPECT_LE(log.lines.size(), static_cast<std::size_t>(kAfter));
    for (const QByteArray& l : log.lines) {
        LogLine line;
        EXPECT_TRUE(parseLogLine(l, line)) << l.left(200).toStdString();
    }
    LogLine last;
    ASSERT_TRUE(parseLogLine(log.lines.back(), last));
    EXPECT_TRUE(valuesMatch(last.values, valuesAfterEachLine(sim.sentLines()).back()));
}

TEST_F(DeviceLinkTest, MissingPortIsFoundWhenTheDeviceAppears)
{
    // COM99: no ports/com99 yet, and the fallback /dev/ttyS98 does not exist either.
    constexpr int kCom = 99;
    if (QFileInfo::exists(QStringLiteral("/dev/ttyS98")))
        GTEST_SKIP() << "/dev/ttyS98 exists on this machine";
    App& app = startApp(QStringLiteral("quellmark"), continuousLogging(kCom));
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    // The first attempts (every 2.5 s) find nothing.
    std::this_thread::sleep_for(3500ms);
    ASSERT_TRUE(app.isRunning());
    EXPECT_EQ(countLogLines(logDir), 0);

    startSim({QStringLiteral("--link"), dir.portPath(kCom), QStringLiteral("--continuous"),
              QStringLiteral("20")});
    EXPECT_TRUE(waitUntil([&] { return countLogLines(logDir) >= 5; }, 10s))
        << "no values from the device that appeared";
    EXPECT_TRUE(app.isRunning());
}

TEST_F(DeviceLinkTest, UnpluggedAdapterIsFoundAgainWhenItComesBack)
{
    // The terminal vanishes 4 s after start (the program has it open by then)
    // and a new one appears behind the same link.
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--continuous"),
                         QStringLiteral("40"), QStringLiteral("--replug-after"), QStringLiteral("4000")});
    App& app = startApp(QStringLiteral("quellmark"), continuousLogging());
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    auto events = [&] {
        QStringList e;
        for (const TraceEntry& t : sim.trace(TraceEntry::Kind::Event))
            e << t.event;
        return e;
    };
    ASSERT_TRUE(waitUntil([&] { return events().contains(QStringLiteral("replug")); }, 10s));
    ASSERT_TRUE(events().startsWith(QStringLiteral("open"))) << "not connected before the replug: "
                                                             << events().join(' ').toStdString();
    const int before = countLogLines(logDir);
    EXPECT_GT(before, 0);
    // The program notices the loss and its retry opens the new terminal.
    ASSERT_TRUE(waitUntil([&] { return events().count(QStringLiteral("open")) >= 2; }, 8s))
        << events().join(' ').toStdString();
    EXPECT_TRUE(waitUntil([&] { return countLogLines(logDir) >= before + 20; }, 5s))
        << "no values after the device came back";
    EXPECT_TRUE(app.isRunning());
}

TEST_F(DeviceLinkTest, OnlyOneOfTwoInstancesGetsThePort)
{
    startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--continuous"),
              QStringLiteral("40")});
    // Two instances of one program directory, both set to COM1.
    App& a = startApp(QStringLiteral("pumpa"), continuousLogging());
    App& b = startApp(QStringLiteral("pumpb"), continuousLogging());
    const QString logA = dir.logDir(QStringLiteral("pumpa"));
    const QString logB = dir.logDir(QStringLiteral("pumpb"));

    ASSERT_TRUE(waitUntil([&] { return countLogLines(logA) + countLogLines(logB) >= 10; }, 15s))
        << "neither instance logs";
    // Long enough for the other instance to retry the port at least once more.
    std::this_thread::sleep_for(3s);
    const int linesA = countLogLines(logA);
    const int linesB = countLogLines(logB);
    EXPECT_TRUE((linesA > 0) != (linesB > 0)) << "pumpa " << linesA << " lines, pumpb " << linesB;
    EXPECT_GE(std::max(linesA, linesB), 100);
    EXPECT_TRUE(a.isRunning());
    EXPECT_TRUE(b.isRunning());
    // The instance without the port has not even created its log folder.
    EXPECT_FALSE(QDir(linesA > 0 ? logB : logA).exists());
}

} // namespace
} // namespace qm::e2e
