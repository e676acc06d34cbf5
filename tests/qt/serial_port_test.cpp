// The serial port on real pseudo-terminals, and the wall clock.
#include "app/qt_wall_clock.h"
#include "device/tty_line.h"
#include "device/tty_serial_port.h"
#include "tests/support/pty.h"

#include <ctime>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <vector>

namespace qm::test {
namespace {

class SerialPortTest : public PtyTest {
protected:
    void SetUp() override
    {
        PtyTest::SetUp();
        port.setOnComm([this] {
            events.push_back(port.commEvent());
            received += port.inputAll();
        });
    }

    void open()
    {
        ASSERT_EQ(port.setCommPort(1), 0);
        ASSERT_EQ(port.setSettings("9600,n,8,1"), 0);
        ASSERT_EQ(port.setHandshaking(0), 0);
        ASSERT_EQ(port.setPortOpen(true), 0);
        ASSERT_EQ(port.setDTREnable(false), 0); // a pty has no modem lines: no error
        ASSERT_EQ(port.setRTSEnable(false), 0);
        port.setRThreshold(1);
    }
    std::string fromProgram()
    {
        char buf[512];
        const ssize_t n = ::read(master, buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }

    TtySerialPort port{dir};
    std::vector<int> events;
    std::string received;
};

TEST_F(SerialPortTest, OpensRaw8N1AndCarriesEveryByteBothWays)
{
    open();
    termios t{};
    ::tcgetattr(master, &t);
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8)) << "8N1, no RTS/CTS";
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u) << "no XON/XOFF, no CR translation";

    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(port.output(all), 0);
    EXPECT_EQ(fromProgram(), all) << "not on the wire before the event loop ran";
    ASSERT_EQ(::write(master, all.data(), all.size()), 256);
    EXPECT_TRUE(pumpUntil([&] { return received.size() >= 256; }));
    EXPECT_EQ(received, all);
    EXPECT_EQ(events.front(), comm_event::kReceive);

    EXPECT_EQ(port.setCommPort(2), comm_error::kPortOpenCannotSet);
    EXPECT_EQ(port.setSettings("19200,N,8,1"), 0); // applies while open
    ::tcgetattr(master, &t);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(port.setSettings("250000,n,8,1"), 0) << "a rate without a Bxxx constant";
    EXPECT_EQ(port.setPortOpen(false), 0);
    EXPECT_EQ(port.output("x"), comm_error::kPortNotOpen);
}

TEST_F(SerialPortTest, SettingsTextsAndOpenFailuresHaveTheirNumbers)
{
    for (const char* bad : {"9600", "abc,n,8,1", "0,n,8,1", "9600,x,8,1", "9600,n,9,1",
                            "9600,n,8,3", "1234567890,n,8,1", "9600,n,8,1,1", "9600,nn,8,1"})
        EXPECT_EQ(port.setSettings(bad), comm_error::kBadSettings) << bad;
    for (const char* good : {" 9600 , N , 8 , 1 ", "300,e,7,2", "115200,o,5,1.5", "9600,s,6,1"})
        EXPECT_EQ(port.setSettings(good), 0) << good;
    EXPECT_EQ(port.setHandshaking(4), comm_error::kBadSettings);
    EXPECT_EQ(port.setCommPort(0), comm_error::kInvalidPort);

    ASSERT_EQ(port.setSettings("9600,e,8,1"), 0);
    ASSERT_EQ(port.setCommPort(1), 0);
    // a pty does no parity: refused at open
    EXPECT_EQ(port.setPortOpen(true), comm_error::kBadSettings);
    EXPECT_FALSE(port.portOpen());

    open();
    TtySerialPort second(dir); // another program holds it
    ASSERT_EQ(second.setCommPort(1), 0);
    EXPECT_EQ(second.setPortOpen(true), comm_error::kPortInUse);
    ASSERT_EQ(second.setCommPort(2), 0);
    EXPECT_EQ(second.setPortOpen(true), comm_error::kInvalidPort);
    ASSERT_EQ(::symlink("/dev/ttyUSB77", dir + "/ports/com2"), 0);
    EXPECT_EQ(second.setPortOpen(true), comm_error::kInvalidPort);
    EXPECT_EQ(second.failureDetail(), "ports/com2 leads to /dev/ttyUSB77, which does not exist");
}

// The master closed: the slave reads EIO (the end-to-end tests hang up).
TEST_F(SerialPortTest, ADeviceThatGoesAwayClosesThePortAndIsReported)
{
    open();
    ASSERT_EQ(::write(master, "V01=1\r", 6), 6);
    ASSERT_TRUE(pumpUntil([&] { return received == "V01=1\r"; }));
    ::close(master); // the adapter is pulled out
    master = -1;
    EXPECT_EQ(port.output("V01\r"), comm_error::kWriteFailed) << "a write to a hung-up terminal";
    ASSERT_TRUE(pumpUntil([&] { return events.back() == comm_event::kDeviceLost; }));
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.lastError(), comm_error::kDeviceLost);
}

// A pseudo-terminal drops PARENB (so the call fails) but keeps PARODD and CMSPAR.
TEST_F(SerialPortTest, OddMarkAndSpaceParityAreSetAsTheTextSays)
{
    const struct {
        char parity;
        bool odd, stick;
    } cases[] = {{'e', false, false}, {'o', true, false}, {'m', true, true}, {'s', false, true}};
    const int fd = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << "the terminal's slave side";
    for (const auto& c : cases) {
        applyLineSettings(fd, {9600, c.parity, 8, 2}, FlowControl::None);
        termios t{};
        ::tcgetattr(fd, &t);
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.odd) << "PARODD for " << c.parity;
        EXPECT_EQ((t.c_cflag & CMSPAR) != 0, c.stick) << "CMSPAR for " << c.parity;
    }
    ::close(fd);
}

// A running owner's lock is honoured: `second` in SettingsTextsAndOpenFailures...
TEST_F(SerialPortTest, AStaleUucpLockFileIsTakenOver)
{
    const QByteArray device = ::ptsname(master);
    const QString lock = "/var/lock/LCK.." + device.mid(5).replace('/', '_');
    QFile stale(lock);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray::number(INT_MAX) + '\n'); // above pid_max: never runs
    stale.close();
    open();
    QFile held(lock);
    ASSERT_TRUE(held.open(QIODevice::ReadOnly));
    EXPECT_EQ(held.readAll(), QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n');
}

// As a service runs it: as nobody (no CAP_SYS_ADMIN), umask 027.
TEST_F(SerialPortTest, AsAnotherUserThePortReopensAndAStaleForeignLockIsNamed)
{
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root, to be nobody";
    const QByteArray device = ::ptsname(master), lock = "/var/lock/" + DeviceLock::fileName(device);
    ASSERT_EQ(::chmod(device, 0666), 0);
    ASSERT_EQ(::chmod(dir, 0755), 0);
    // Two openings (the lock's mode), or why one failed.
    const auto asNobody = [&] {
        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::umask(027);
            TtySerialPort port(dir);
            std::string said = ::setgid(nobody->pw_gid) || ::setuid(nobody->pw_uid) ? "root " : "";
            for (int round = 0; round < 2 && port.setPortOpen(true) == 0; ++round) {
                struct stat st {};
                said += std::to_string(::stat(lock, &st) ? 0 : st.st_mode & 0777) + ' ';
                port.setPortOpen(false);
            }
            said += port.failureDetail().toStdString();
            ::_exit(::write(out[1], said.data(), said.size()) < 0);
        }
        ::close(out[1]);
        char buf[1024];
        const ssize_t n = std::max<ssize_t>(::read(out[0], buf, sizeof buf), 0);
        ::close(out[0]);
        ::waitpid(child, nullptr, 0);
        return std::string(buf, static_cast<std::size_t>(n));
    };
    EXPECT_EQ(asNobody(), "420 420 ") << "opened twice, the lock file's mode 0644 (420)";

    QFile stale(QString::fromLatin1(lock));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write(QByteArray::number(INT_MAX) + '\n'); // root's, of a process gone
    stale.close();
    EXPECT_EQ(asNobody(), "the lock file " + lock.toStdString() +
                              " (owner root) names process 2147483647, which no longer runs, and "
                              "user nobody may not remove it (Operation not permitted): remove it "
                              "with sudo rm " +
                              lock.toStdString());
    stale.remove();
}

// With a ports/ folder, a dangling link is a missing port, never /dev/ttyS.
TEST(DevicePathForComPort, PortsFolderIsTheWholeMapElseTtyS)
{
    QTemporaryDir tmp;
    const QByteArray d = QFile::encodeName(tmp.path());
    EXPECT_EQ(devicePathForComPort(d, 12), "/dev/ttyS11");
    ASSERT_EQ(::mkdir(d + "/ports", 0777), 0);
    ASSERT_EQ(::symlink("/dev/null", d + "/ports/com3"), 0);
    EXPECT_EQ(devicePathForComPort(d, 3), "/dev/null");
}

TEST(SystemWallClock, IsTheLocalTimeWithItsOffset)
{
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "XYZ-5:30"); // 5 h 30 ahead of UTC
    ::tzset();
    const QDateTime now = SystemWallClock().localNow(), local = QDateTime::currentDateTime();
    EXPECT_EQ(now.offsetFromUtc(), 5 * 3600 + 1800);
    EXPECT_LT(std::abs(now.msecsTo(local)), 1000);
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    ::tzset();
}

} // namespace
} // namespace qm::test
