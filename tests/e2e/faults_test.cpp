// What real serial setups do to a program left running for weeks: the adapter
// unplugged and plugged back in, a device that babbles, goes quiet or answers
// late, a log folder that cannot be written. The program never stops, and
// logs again as soon as it can.

#include "tests/e2e/harness.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <thread>
#include <unistd.h>

namespace qm::e2e {
namespace {

Settings sampled(int sTime, int rvnr)
{
    Settings s;
    s.sTime = sTime;
    s.rvnr = rvnr;
    s.logOn = true;
    return s;
}

Settings continuous()
{
    Settings s;
    s.sTime = 0;
    s.logOn = true;
    return s;
}

QStringList events(const Sim& sim)
{
    QStringList e;
    for (const TraceEntry& t : sim.trace(TraceEntry::Kind::Event))
        e << t.event;
    return e;
}

// Every line in the log's format. A value that overflowed the scaling is
// kept as an infinity and logged as INF or -INF.
void expectWellFormed(const Log& log)
{
    for (const QByteArray& l : log.lines) {
        QByteArray numbers = l;
        numbers.replace(",-INF", ",0").replace(",INF", ",0");
        LogLine line;
        ASSERT_TRUE(parseLogLine(numbers, line)) << l.toStdString();
    }
}

class FaultTest : public E2eTest {};

TEST_F(FaultTest, SampledReadingResumesAfterTheAdapterIsPluggedBackIn)
{
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--replug-after"),
                         QStringLiteral("5000")});
    App& app = startApp(QStringLiteral("quellmark"), sampled(1, 1));
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    ASSERT_TRUE(waitUntil([&] { return events(sim).contains(QStringLiteral("replug")); }, 10s));
    const int before = countLogLines(logDir);
    EXPECT_GT(before, 0) << "no cycle before the adapter went away";
    // Found again by the retry, recognised, and sampled again.
    ASSERT_TRUE(waitUntil([&] { return events(sim).count(QStringLiteral("open")) >= 2; }, 10s))
        << events(sim).join(' ').toStdString();
    EXPECT_TRUE(waitUntil([&] { return countLogLines(logDir) >= before + 2; }, 10s))
        << "no samples after the device came back";
    int recognitions = 0;
    for (const TraceEntry& r : sim.trace(TraceEntry::Kind::Request))
        recognitions += r.bytes == "AT\r";
    EXPECT_GE(recognitions, 2);
    EXPECT_TRUE(app.isRunning());
    expectWellFormed(readLog(logDir));
}

TEST_F(FaultTest, NoiseAndBrokenLinesNeverStopTheProgram)
{
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--continuous"),
                         QStringLiteral("0"), QStringLiteral("--count"), QStringLiteral("20000"),
                         QStringLiteral("--malformed"), QStringLiteral("40"), QStringLiteral("--flood"),
                         QStringLiteral("100000"), QStringLiteral("--seed"), QStringLiteral("3")});
    App& app = startApp(QStringLiteral("quellmark"), continuous());
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    ASSERT_TRUE(sim.waitForDone(60s));
    // Quiet for a moment: everything sent has been read.
    int lines = -1;
    ASSERT_TRUE(waitUntil(
        [&] {
            const int now = countLogLines(logDir);
            const bool still = now == lines;
            lines = now;
            return still;
        },
        20s, 500ms));
    EXPECT_TRUE(app.isRunning());
    EXPECT_GT(lines, 1000);
    EXPECT_LE(lines, 20000);
    expectWellFormed(readLog(logDir));
}

TEST_F(FaultTest, ADeviceThatFallsSilentLeavesTheLastValuesAndTheProgramRunning)
{
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--continuous"),
                         QStringLiteral("50"), QStringLiteral("--count"), QStringLiteral("40")});
    App& app = startApp(QStringLiteral("quellmark"), continuous());
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    ASSERT_TRUE(sim.waitForDone(15s));
    ASSERT_TRUE(waitUntil([&] { return countLogLines(logDir) == 40; }, 10s));
    std::this_thread::sleep_for(6s); // past the watchdog and two retries' worth
    EXPECT_EQ(countLogLines(logDir), 40);
    EXPECT_TRUE(app.isRunning());
    // Not searched for again: the port stays open, it was opened once.
    EXPECT_EQ(events(sim).count(QStringLiteral("open")), 1);
}

TEST_F(FaultTest, SilentChannelsKeepTheirOldValuesInTheSampleLog)
{
    // Channel 1 answers, channel 2 never does: each cycle takes 0.5 + 0.5 + 5 s.
    startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--unanswered"),
              QStringLiteral("2")});
    App& app = startApp(QStringLiteral("quellmark"), sampled(1, 2));
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    ASSERT_TRUE(waitUntil([&] { return countLogLines(logDir) >= 2; }, 25s));
    const Log log = readLog(logDir);
    expectWellFormed(log);
    for (const QByteArray& l : log.lines) {
        LogLine line;
        ASSERT_TRUE(parseLogLine(l, line));
        EXPECT_EQ(line.values[2], 0.0) << "channel 2 never answered";
    }
    EXPECT_TRUE(app.isRunning());
}

TEST_F(FaultTest, LateAnswersLandInTheirOwnChannels)
{
    // Every answer comes 5.2 s late: after the watchdog gave up, during the
    // pause before the next request.
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--delay"),
                         QStringLiteral("5200"), QStringLiteral("--seed"), QStringLiteral("5")});
    App& app = startApp(QStringLiteral("quellmark"), sampled(1, 2));
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));

    ASSERT_TRUE(waitUntil([&] { return countLogLines(logDir) >= 2; }, 40s));
    EXPECT_TRUE(app.isRunning());
    // The answer to V01 arrived after its wait, but was stored in channel 1.
    QByteArray v01;
    for (const QByteArray& s : sim.sentLines())
        if (s.startsWith("V01="))
            v01 = s.mid(4);
    ASSERT_FALSE(v01.isEmpty());
    const Log log = readLog(logDir);
    LogLine last;
    ASSERT_TRUE(parseLogLine(log.lines.back(), last));
    EXPECT_NEAR(last.values[1], std::round(v01.toDouble() * 10) / 10, 0.051);
}

TEST_F(FaultTest, ALogFolderThatCannotBeWrittenLosesOnlyThoseLines)
{
    startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--continuous"),
              QStringLiteral("50")});
    // A file where the log folder should be: no line can be written.
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));
    {
        QFile blocker(logDir);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    App& app = startApp(QStringLiteral("quellmark"), continuous());
    std::this_thread::sleep_for(4s); // connected and receiving by now
    EXPECT_TRUE(app.isRunning());
    ASSERT_TRUE(QFile::remove(logDir));
    EXPECT_TRUE(waitUntil([&] { return countLogLines(logDir) >= 20; }, 10s))
        << "logging did not resume";
    expectWellFormed(readLog(logDir));
}

} // namespace
} // namespace qm::e2e

namespace qm::e2e {
namespace {

// The log folder on a tiny file system of its own that fills up.
class DiskFullTest : public E2eTest {
protected:
    void TearDown() override
    {
        E2eTest::TearDown();
        if (mounted_)
            QProcess::execute(QStringLiteral("umount"), {mountPoint_});
    }
    bool mountTiny(const QString& path, const QString& size)
    {
        QDir().mkpath(path);
        mountPoint_ = path;
        mounted_ = QProcess::execute(QStringLiteral("mount"),
                                     {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                      QStringLiteral("size=") + size, QStringLiteral("tmpfs"), path}) == 0;
        return mounted_;
    }

private:
    QString mountPoint_;
    bool mounted_ = false;
};

TEST_F(DiskFullTest, AFullDiskLosesLinesWholeAndLoggingResumesWhenThereIsRoom)
{
    const QString logDir = dir.logDir(QStringLiteral("quellmark"));
    if (::geteuid() != 0 || !mountTiny(logDir, QStringLiteral("16k")))
        GTEST_SKIP() << "needs root to mount a small file system";
    // Leave room for a few dozen lines only.
    {
        QFile filler(logDir + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        filler.write(QByteArray(12 * 1024, 'x'));
    }
    startSim({QStringLiteral("--link"), dir.portPath(1), QStringLiteral("--continuous"),
              QStringLiteral("100")});
    App& app = startApp(QStringLiteral("quellmark"), continuous());

    auto logLines = [&] {
        Log log = readLog(logDir);
        std::vector<QByteArray> lines;
        for (auto& l : log.lines)
            if (l.startsWith('"'))
                lines.push_back(l);
        return std::pair{lines, log.trailing};
    };
    // Full: the line count stops growing.
    int lines = -1;
    ASSERT_TRUE(waitUntil(
        [&] {
            const int now = static_cast<int>(logLines().first.size());
            const bool still = now == lines && now > 0;
            lines = now;
            return still;
        },
        20s, 700ms));
    EXPECT_TRUE(app.isRunning());
    // No line was cut in half by the full disk. (A line that does not fit is
    // taken out again; while it is tried, its first part may show briefly.)
    for (const QByteArray& l : logLines().first) {
        LogLine parsed;
        EXPECT_TRUE(parseLogLine(l, parsed)) << l.toStdString();
    }
    // Room again: the next lines arrive.
    ASSERT_TRUE(QFile::remove(logDir + QStringLiteral("/filler")));
    EXPECT_TRUE(waitUntil([&] { return static_cast<int>(logLines().first.size()) > lines + 20; }, 10s))
        << lines << " lines when full, " << logLines().first.size() << " now";
    expectWellFormed(readLog(logDir));
}

} // namespace
} // namespace qm::e2e
