// An adapter unplugged under the real program, the simulated device sending.
#include "tests/e2e/harness.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qm::e2e {
namespace {

// CPU seconds a process has used so far.
double cpuSecondsOf(qint64 pid)
{
    const QList<QByteArray> f =
        readAll(QStringLiteral("/proc/%1/stat").arg(pid)).split(')').value(1).split(' ');
    // utime and stime: fields 14 and 15, the 12th and 13th after the name
    return static_cast<double>(f.value(12).toLongLong() + f.value(13).toLongLong()) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The terminal hangs up as an unplugged USB adapter's does (TIOCVHANGUP, as
// root): it reads 0 bytes with POLLIN|POLLHUP. In continuous mode, with no
// request pending, the program reports the device gone once, logs every line
// sent before, does not spin, and reads the lines again once it reopened.
TEST_F(E2eTest, AHungUpTerminalIsReportedAndReopenedWithoutSpinning)
{
    startSim({"--link", port(1), "--continuous", "20", "--seed", "5"});
    QProcess& app = startApp("quellmark", {});
    ASSERT_TRUE(waitUntil([&] { return log("quellmark").size() >= 5; }, 15s));
    const double cpuBefore = cpuSecondsOf(app.processId());
    const auto hungUpAt = std::chrono::steady_clock::now();
    const int terminal =
        ::open(QFile::encodeName(port(1)).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (terminal < 0 || ::ioctl(terminal, TIOCVHANGUP) != 0) {
        const int error = errno; // EBUSY (held exclusively) or EPERM unless root
        ::close(terminal);
        GTEST_SKIP() << "cannot hang the terminal up here: " << std::strerror(error);
    }
    ::close(terminal);

    const QString out = dir.filePath(QStringLiteral("quellmark.out"));
    ASSERT_TRUE(waitUntil([&] { return readAll(out).contains("Lost COM1"); }, 5s))
        << readAll(out).toStdString();
    const std::size_t atLoss = log("quellmark").size();
    ASSERT_TRUE(waitUntil([&] { return log("quellmark").size() >= atLoss + 5; }, 10s))
        << "no lines after the reconnection";
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - hungUpAt).count();
    EXPECT_LT(cpuSecondsOf(app.processId()) - cpuBefore, 0.25 * seconds)
        << "CPU seconds in the " << seconds << " s from the hang-up to lines again";

    // All lines sent before the hang-up, but for what the kernel held in that
    // moment (it discards a hung-up terminal's input), are in the log.
    qint64 closedAt = -1;
    for (const QByteArray& line : readAll(dir.filePath(QStringLiteral("sim0"))).split('\n'))
        if (line.endsWith(" close") && closedAt < 0)
            closedAt = line.split(' ')[0].toLongLong();
    ASSERT_GE(closedAt, 0) << "the simulator saw no disconnection";
    std::size_t sentBefore = 0;
    for (const auto& [at, text] : trace(0, true))
        sentBefore += at < closedAt - 100;
    EXPECT_GE(atLoss, sentBefore) << "lines sent at least 100 ms before the hang-up";
    EXPECT_EQ(readAll(out).count("Lost COM1"), 1) << readAll(out).toStdString();
}

} // namespace
} // namespace qm::e2e
