// The serial port's read gate on the real clock; bounds come from what the
// run measured.
#include "device/tty_serial_port.h"
#include "tests/support/pty.h"

#include <QTest>
#include <QTimer>

namespace qm::test {
namespace {

class SerialPortTiming : public PtyTest {
protected:
    void SetUp() override
    {
        PtyTest::SetUp();
        ASSERT_EQ(port.setPortOpen(true), 0);
        port.setRThreshold(1);
        clock.start();
    }
    void send(const std::string& s)
    {
        ASSERT_EQ(::write(master, s.data(), s.size()), ssize_t(s.size()));
    }

    TtySerialPort port{dir};
    QElapsedTimer clock;
    std::string received;
};

// A line every millisecond, then a lone line after a pause.
TEST_F(SerialPortTiming, LinesAreTakenInGatheredBlocksSoonAfterTheyCame)
{
    std::vector<qint64> sentAt, blockAt;
    qint64 worst = 0, newest = 0, late = 0;
    std::size_t taken = 0;
    port.setOnComm([&] {
        received += port.inputAll();
        blockAt.push_back(clock.elapsed());
        worst = std::max(worst, blockAt.back() - sentAt.at(taken));
        taken = received.size() / 6;
        newest = blockAt.back() - sentAt.at(taken - 1);
    });
    QTimer writer;
    writer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&writer, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (!sentAt.empty() && sentAt.size() < 200)
            late = std::max(late, now - sentAt.back() - 1);
        if (sentAt.size() < 200 || (sentAt.size() == 200 && now > sentAt.back() + 100)) {
            sentAt.push_back(now);
            send("V01=1\r");
        }
    });
    writer.start(1);
    ASSERT_TRUE(pumpUntil([&] { return received.size() == 201 * 6; })) << received.size();
    const qint64 burst = blockAt[blockAt.size() - 2] - blockAt.front();
    EXPECT_LE(blockAt.size() - 2, std::size_t(burst / TtySerialPort::kReadGateMs + 1))
        << "blocks in the " << burst << " ms of the burst";
    EXPECT_LE(worst, TtySerialPort::kReadGateMs + 2 * late + 5)
        << "writer up to " << late << " ms late";
    EXPECT_LE(newest, 2 * late + 5) << "the lone line";
}

// Best of five tries.
TEST_F(SerialPortTiming, AReplyInTwoPiecesIsTakenAsSoonAsItsLastPieceComes)
{
    bool awaiting = false;
    qint64 lastPieceAt = 0, takenAt = 0, best = INT64_MAX;
    port.setReplyAwaited([&] { return awaiting; });
    port.setOnComm([&] {
        received += port.inputAll();
        if (received.ends_with('\r')) {
            awaiting = false; // as the reply interpreter stops the watchdog
            takenAt = clock.elapsed();
        }
    });
    for (int attempt = 0; attempt < 5; ++attempt) {
        received.clear();
        awaiting = true;
        ASSERT_EQ(port.output("V01\r"), 0);
        send("V01=");
        ASSERT_TRUE(pumpUntil([&] { return received == "V01="; }));
        QTimer::singleShot(3, Qt::PreciseTimer, [&] {
            lastPieceAt = clock.elapsed();
            send("21.5\r");
        });
        ASSERT_TRUE(pumpUntil([&] { return !awaiting; }));
        best = std::min(best, takenAt - lastPieceAt);
    }
    EXPECT_LT(best, TtySerialPort::kReadGateMs - 3) << "ms from the last piece to its delivery";
}

// Best of five tries: a line after a quiet spell shuts no gate, so the next
// one, close behind it, is taken as soon as it comes too.
TEST_F(SerialPortTiming, TheLineBehindALoneLineIsTakenAtOnce)
{
    qint64 secondSentAt = 0, best = INT64_MAX;
    port.setOnComm([&] {
        received += port.inputAll();
        if (received.size() == 12)
            best = std::min(best, clock.elapsed() - secondSentAt);
    });
    for (int attempt = 0; attempt < 5; ++attempt) {
        received.clear();
        QTest::qWait(TtySerialPort::kReadGateMs * 3); // a quiet spell
        send("V01=1\r");
        ASSERT_TRUE(pumpUntil([&] { return received.size() == 6; }));
        QTest::qWait(3);
        secondSentAt = clock.elapsed();
        send("V01=2\r");
        ASSERT_TRUE(pumpUntil([&] { return received.size() == 12; }));
    }
    EXPECT_LT(best, TtySerialPort::kReadGateMs / 2) << "ms from the second line to its delivery";
}

} // namespace
} // namespace qm::test
