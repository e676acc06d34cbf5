// The device simulator itself, talked to directly on its terminal: the
// end-to-end tests of the program rely on it behaving like the device.

#include "tests/e2e/harness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <set>
#include <thread>
#include <unistd.h>

namespace qm::e2e {
namespace {

class SimTest : public E2eTest {
protected:
    // Starts the simulator linked as COM1 and opens its terminal.
    Sim& startLinked(QStringList args)
    {
        args << QStringLiteral("--link") << dir.portPath(1);
        Sim& sim = startSim(args);
        EXPECT_TRUE(port.open(dir.portPath(1)));
        return sim;
    }

    // Lines (without CR LF) in `data`; a part without its CR LF is left out.
    static QList<QByteArray> lines(const QByteArray& data)
    {
        QList<QByteArray> l = data.split('\n');
        l.removeLast();
        for (QByteArray& s : l) {
            EXPECT_TRUE(s.endsWith('\r')) << "line without CR LF: " << s.toStdString();
            s.chop(1);
        }
        return l;
    }

    static auto untilLines(int n)
    {
        return [n](const QByteArray& d) { return d.count("\r\n") >= n; };
    }

    PortClient port;
};

const QRegularExpression kValueText(QStringLiteral("^-?[0-9]+\\.[0-9]{1,2}$"));

struct RequestCase {
    const char* id;
    QByteArray request;
    QList<QByteArray> answer; // each line; a "*" after "=" stands for any value text
};

TEST_F(SimTest, AnswersEachRequestAsTheDeviceDoes)
{
    const std::vector<RequestCase> cases = {
        {"", "AT\r", {"OK"}},
        {"", "\rV01\r", {"V01=*"}},
        {"", "\rV08\r", {"V08=*"}},
        {"", "\rOA\r", {"V01=*", "V02=*", "V03=*", "V04=*", "V05=*", "V06=*", "V07=*", "V08=*"}},
        {"", "\rO5H\r", {}},
        {"", "\rO5L\r", {}},
        {"", "\rV09\r", {}},
        {"", "\rV1\r", {}},
        {"", "\rat\r", {}},
        {"", "\r\r\r", {}},
        {"", "\rAAT\r", {}},
        {"A", "AAT\r", {"AOK"}},
        {"A", "\rAV03\r", {"AV03=*"}},
        {"A", "\rAOA\r", {"AV01=*", "AV02=*", "AV03=*", "AV04=*", "AV05=*", "AV06=*", "AV07=*", "AV08=*"}},
        {"A", "AT\r", {}},
        {"A", "\rV01\r", {}},
        {"AB", "ABAT\r", {"ABOK"}},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(std::string("id '") + c.id + "' request " + c.request.toHex(' ').toStdString());
        port.close();
        for (auto& s : sims)
            s->stop();
        sims.clear();
        startLinked({QStringLiteral("--id"), QString::fromLatin1(c.id)});
        ASSERT_TRUE(port.write(c.request));
        const int expected = static_cast<int>(c.answer.size());
        // Enough time for an answer that should not come.
        QByteArray got = expected ? port.read(2000ms, untilLines(expected)) : QByteArray();
        got += port.read(100ms); // nothing more comes
        const QList<QByteArray> l = lines(got);
        ASSERT_EQ(l.size(), expected) << got.toStdString();
        for (int i = 0; i < expected; ++i) {
            const QByteArray& want = c.answer[i];
            if (want.endsWith("=*")) {
                const QByteArray prefix = want.left(want.size() - 1);
                ASSERT_TRUE(l[i].startsWith(prefix)) << l[i].toStdString();
                EXPECT_TRUE(kValueText.match(QString::fromLatin1(l[i].mid(prefix.size()))).hasMatch())
                    << l[i].toStdString();
            } else {
                EXPECT_EQ(l[i], want);
            }
        }
    }
}

TEST_F(SimTest, TraceHoldsTheBytesOfEveryRequestWithItsTime)
{
    Sim& sim = startLinked({});
    ASSERT_TRUE(port.write("AT\r"));
    port.read(300ms, untilLines(1));
    ASSERT_TRUE(port.write("\rV02"));
    port.read(200ms);
    ASSERT_TRUE(port.write("\r"));
    port.read(1000ms, untilLines(1));

    const auto requests = sim.trace(TraceEntry::Kind::Request);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].bytes, QByteArray("AT\r"));
    EXPECT_EQ(requests[1].bytes, QByteArray("\r"));
    EXPECT_EQ(requests[2].bytes, QByteArray("V02\r"));
    // A request is traced when its CR arrives.
    EXPECT_NEAR(requests[2].ms - requests[1].ms, 200, 50);

    QByteArray received;
    for (const TraceEntry& e : sim.trace(TraceEntry::Kind::Received))
        received += e.bytes;
    EXPECT_EQ(received, QByteArray("AT\r\rV02\r"));

    const std::vector<QByteArray> sent = sim.sentLines();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], QByteArray("OK"));
    EXPECT_TRUE(sent[1].startsWith("V02="));
}

TEST_F(SimTest, UnansweredChannelsStaySilentAndDelayedAnswersComeLate)
{
    startLinked({QStringLiteral("--unanswered"), QStringLiteral("2,5"), QStringLiteral("--delay"),
                 QStringLiteral("300")});
    for (const int channel : {1, 2, 3, 5, 8}) {
        SCOPED_TRACE(channel);
        const bool answered = channel != 2 && channel != 5;
        const auto sentAt = std::chrono::steady_clock::now();
        ASSERT_TRUE(port.write("\rV0" + QByteArray::number(channel) + "\r"));
        const QByteArray got = port.read(answered ? 2000ms : 700ms, untilLines(1));
        const auto took = std::chrono::steady_clock::now() - sentAt;
        if (!answered) {
            EXPECT_TRUE(got.isEmpty()) << got.toStdString();
            continue;
        }
        ASSERT_EQ(lines(got).size(), 1);
        EXPECT_TRUE(got.startsWith("V0" + QByteArray::number(channel) + "="));
        EXPECT_GE(took, 290ms);
        EXPECT_LT(took, 700ms);
    }
}

TEST_F(SimTest, SilentDeviceNeverSendsButStillTraces)
{
    Sim& sim = startLinked({QStringLiteral("--silent"), QStringLiteral("--continuous"),
                            QStringLiteral("100"), QStringLiteral("--flood"), QStringLiteral("1000")});
    ASSERT_TRUE(port.write("AT\r\rV01\r\rOA\r"));
    EXPECT_TRUE(port.read(600ms).isEmpty());
    EXPECT_EQ(sim.trace(TraceEntry::Kind::Request).size(), 5u); // AT, CR, V01, CR, OA
}

TEST_F(SimTest, ContinuousSendingStopsAfterTheCountAndSaysDone)
{
    Sim& sim = startLinked({QStringLiteral("--continuous"), QStringLiteral("0"), QStringLiteral("--count"),
                            QStringLiteral("3000"), QStringLiteral("--channels"), QStringLiteral("3")});
    const QByteArray got = port.read(10s, untilLines(3000));
    EXPECT_TRUE(sim.waitForDone(5s));
    const QByteArray more = port.read(300ms);
    EXPECT_TRUE(more.isEmpty()) << "sent after the count: " << more.left(100).toStdString();

    const QList<QByteArray> l = lines(got);
    ASSERT_EQ(l.size(), 3000);
    for (int i = 0; i < l.size(); ++i) {
        const QByteArray prefix = "V0" + QByteArray::number(i % 3 + 1) + "=";
        ASSERT_TRUE(l[i].startsWith(prefix)) << i << ": " << l[i].toStdString();
        ASSERT_TRUE(kValueText.match(QString::fromLatin1(l[i].mid(4))).hasMatch()) << l[i].toStdString();
    }
    // The trace holds the same lines.
    const std::vector<QByteArray> sent = sim.sentLines();
    ASSERT_EQ(sent.size(), 3000u);
    EXPECT_EQ(sent.back(), l.back());

    // Requests are still answered.
    ASSERT_TRUE(port.write("AT\r"));
    EXPECT_EQ(port.read(2s, untilLines(1)), QByteArray("OK\r\n"));
}

TEST_F(SimTest, ContinuousSendingKeepsItsRate)
{
    startLinked({QStringLiteral("--continuous"), QStringLiteral("50")});
    port.read(200ms); // settle
    const QByteArray got = port.read(1000ms);
    const qsizetype n = got.count("\r\n");
    EXPECT_GE(n, 40);
    EXPECT_LE(n, 60);
}

TEST_F(SimTest, FloodIsPrintableWithoutLineEndThenValuesFollow)
{
    constexpr int kFlood = 200000;
    startLinked({QStringLiteral("--flood"), QString::number(kFlood), QStringLiteral("--continuous"),
                 QStringLiteral("0"), QStringLiteral("--count"), QStringLiteral("16")});
    const QByteArray got = port.read(10s, [](const QByteArray& d) { return d.count("\r\n") >= 16; });
    ASSERT_GT(got.size(), kFlood);
    const QByteArray flood = got.left(kFlood);
    for (const char c : flood)
        ASSERT_TRUE(c >= 0x21 && c <= 0x7E) << "byte " << int(static_cast<unsigned char>(c));
    const QList<QByteArray> l = lines(got.mid(kFlood));
    ASSERT_EQ(l.size(), 16);
    EXPECT_TRUE(l[0].startsWith("V01="));
    EXPECT_TRUE(l[15].startsWith("V08="));
}

TEST_F(SimTest, MalformedShareIsAsAskedAndLinesStayFramed)
{
    startLinked({QStringLiteral("--malformed"), QStringLiteral("40"), QStringLiteral("--continuous"),
                 QStringLiteral("0"), QStringLiteral("--count"), QStringLiteral("2000"),
                 QStringLiteral("--seed"), QStringLiteral("11")});
    const QByteArray got = port.read(10s, untilLines(2000));
    const QList<QByteArray> l = lines(got);
    ASSERT_EQ(l.size(), 2000);
    static const QRegularExpression wellFormed(QStringLiteral("^V0[1-8]=-?[0-9]+\\.[0-9]{1,2}$"));
    int good = 0;
    bool overlong = false;
    bool binary = false;
    for (const QByteArray& s : l) {
        if (wellFormed.match(QString::fromLatin1(s)).hasMatch())
            ++good;
        overlong = overlong || s.size() > 40;
        binary = binary || std::any_of(s.begin(), s.end(), [](char c) { return c < 0x20 || c > 0x7E; });
    }
    EXPECT_GT(good, 2000 * 50 / 100);
    EXPECT_LT(good, 2000 * 70 / 100);
    EXPECT_TRUE(overlong);
    EXPECT_TRUE(binary);
}

TEST_F(SimTest, ValuesMoveAndNowAndThenLeaveTheDefaultLimits)
{
    startLinked({QStringLiteral("--seed"), QStringLiteral("5")});
    std::set<QByteArray> distinct;
    int outside = 0;
    for (int round = 0; round < 24; ++round) {
        ASSERT_TRUE(port.write("\rOA\r"));
        const QList<QByteArray> l = lines(port.read(2s, untilLines(8)));
        ASSERT_EQ(l.size(), 8);
        for (const QByteArray& s : l) {
            distinct.insert(s);
            const double v = s.mid(4).toDouble();
            if (v < 0 || v > 99.9)
                ++outside;
        }
    }
    EXPECT_GT(distinct.size(), 24u * 2);
    // Every few rounds one channel leaves 0..99.9, for a round or two.
    EXPECT_GE(outside, 3);
    EXPECT_LE(outside, 24);
}

TEST_F(SimTest, TerminationRemovesTheLink)
{
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(7)});
        ASSERT_TRUE(QFileInfo(dir.portPath(7)).isSymLink());
        EXPECT_EQ(sim.stop(sig), 0);
        EXPECT_FALSE(QFileInfo(dir.portPath(7)).isSymLink());
    }
}

TEST_F(SimTest, LinkReplacesAnExistingOneAndWithoutLinkThePathIsPrinted)
{
    // A link left behind by an earlier run.
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("ports"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent"), dir.portPath(1)));
    Sim& linked = startSim({QStringLiteral("--link"), dir.portPath(1)});
    EXPECT_EQ(QFileInfo(dir.portPath(1)).symLinkTarget(), linked.slavePath());
    EXPECT_TRUE(linked.slavePath().startsWith(QStringLiteral("/dev/pts/")));

    Sim& plain = startSim({});
    ASSERT_TRUE(plain.slavePath().startsWith(QStringLiteral("/dev/")));
    ASSERT_TRUE(port.open(plain.slavePath()));
    ASSERT_TRUE(port.write("AT\r"));
    EXPECT_EQ(port.read(2s, untilLines(1)), QByteArray("OK\r\n"));
}

TEST_F(SimTest, ReplugHangsUpAndPutsANewTerminalBehindTheLink)
{
    Sim& sim = startLinked({QStringLiteral("--replug-after"), QStringLiteral("500")});
    const QString before = sim.slavePath();
    ASSERT_TRUE(port.write("AT\r"));
    EXPECT_EQ(port.read(2s, untilLines(1)), QByteArray("OK\r\n"));
    ASSERT_TRUE(waitUntil([&] { return port.hungUp(); }, 3s));
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(dir.portPath(1)).symLinkTarget() != before; }, 3s));
    ASSERT_TRUE(port.open(dir.portPath(1)));
    ASSERT_TRUE(port.write("AT\r"));
    EXPECT_EQ(port.read(2s, untilLines(1)), QByteArray("OK\r\n"));
}

// Process CPU time in clock ticks, from /proc/<pid>/stat.
long cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name in parentheses: utime and stime are 14 and 15.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong();
}

TEST_F(SimTest, IdleSimulatorUsesNoCpu)
{
    // Waiting for a program to open the port, and connected without traffic.
    Sim& sim = startSim({QStringLiteral("--link"), dir.portPath(1)});
    const long t0 = cpuTicks(sim.pid());
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(port.open(dir.portPath(1)));
    std::this_thread::sleep_for(1s);
    const long t1 = cpuTicks(sim.pid());
    ASSERT_GE(t0, 0);
    const long hz = ::sysconf(_SC_CLK_TCK);
    EXPECT_LE(t1 - t0, hz / 20) << "CPU ticks in 2 s idle";
}

} // namespace
} // namespace qm::e2e
