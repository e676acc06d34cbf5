// The Qt layer's own services: the serial port on real pseudo-terminals,
// linked as COM ports of a program directory.
#include "app/qt_event_loop.h"
#include "app/qt_wall_clock.h"
#include "device/qt_serial_port.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace qm::test {
namespace {

bool pumpUntil(const std::function<bool()>& cond, int ms = 2000)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return cond();
}

// A pseudo-terminal whose slave is COM1 of a temporary program directory.
class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        ASSERT_EQ(::mkdir(dir + "/ports", 0777), 0);
        ASSERT_EQ(::symlink(::ptsname(master), dir + "/ports/com1"), 0);
        port.setOnComm([this] {
            events.push_back(port.commEvent());
            received += port.inputAll();
        });
    }
    void TearDown() override { ::close(master); }

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

    QTemporaryDir tmp;
    QByteArray dir = QFile::encodeName(tmp.path());
    int master = -1;
    QtSerialPort port{dir};
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
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u) << "raw";
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));

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
    for (const char* bad : {"", "9600", "abc,n,8,1", "0,n,8,1", "9600,x,8,1", "9600,n,9,1",
                            "9600,n,8,3", "1234567890,n,8,1", "9600,n,8,1,1", "9600,nn,8,1"})
        EXPECT_EQ(port.setSettings(bad), comm_error::kBadSettings) << bad;
    for (const char* good :
         {" 9600 , N , 8 , 1 ", "300,e,7,2", "115200,o,5,1.5", "9600,m,6,1", "9600,s,8,1"})
        EXPECT_EQ(port.setSettings(good), 0) << good;
    EXPECT_EQ(port.setHandshaking(4), comm_error::kBadSettings);
    EXPECT_EQ(port.setCommPort(0), comm_error::kInvalidPort);

    ASSERT_EQ(port.setSettings("9600,e,8,1"), 0);
    ASSERT_EQ(port.setCommPort(1), 0);
    // a pty does no parity: refused at open
    EXPECT_EQ(port.setPortOpen(true), comm_error::kBadSettings);
    EXPECT_FALSE(port.portOpen());

    open();
    QtSerialPort second(dir); // another program holds it
    ASSERT_EQ(second.setCommPort(1), 0);
    EXPECT_EQ(second.setPortOpen(true), comm_error::kPortInUse);
    ASSERT_EQ(second.setCommPort(2), 0);
    EXPECT_EQ(second.setPortOpen(true), comm_error::kInvalidPort);
}

// The master closed: on Linux the terminal hangs up, as an unplugged USB
// adapter's does (the end-to-end tests hang one up with TIOCVHANGUP).
TEST_F(SerialPortTest, ADeviceThatGoesAwayClosesThePortAndIsReported)
{
    open();
    ASSERT_EQ(::write(master, "V01=1\r", 6), 6);
    ASSERT_TRUE(pumpUntil([&] { return received == "V01=1\r"; }));
    ::close(master); // the adapter is pulled out
    master = -1;
    ASSERT_TRUE(pumpUntil([&] { return events.back() == comm_event::kDeviceLost; }));
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.lastError(), comm_error::kDeviceLost);
}

// The device's UUCP lock file: a stale one (of a process that no longer
// runs) taken over with this process's id, removed at closing, and a running
// owner's honoured.
TEST_F(SerialPortTest, TheDevicesLockFileIsTakenHonouredAndRemoved)
{
    const QByteArray device = ::ptsname(master);
    const QString lock = "/var/lock/LCK.." + device.mid(5).replace('/', '_');
    const auto lockOf = [&](pid_t pid) {
        QFile f(lock);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray::number(pid).rightJustified(10, ' ') + '\n');
    };
    const pid_t child = ::fork();
    if (child == 0)
        ::pause();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    lockOf(child);
    open();
    QFile held(lock);
    ASSERT_TRUE(held.open(QIODevice::ReadOnly));
    EXPECT_EQ(held.readAll(), QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n');
    ASSERT_EQ(port.setPortOpen(false), 0);
    EXPECT_FALSE(QFile::exists(lock)) << "removed at closing";
    lockOf(1); // init, which always runs
    EXPECT_EQ(port.setPortOpen(true), comm_error::kPortInUse);
    QFile::remove(lock);
}

// Where the program directory has a ports/ folder, it is the whole map: a
// missing or dangling link is a missing port (never a /dev/ttyS fallback,
// which would hold some other device while the link is briefly gone).
TEST(DevicePathForComPort, PortsFolderIsTheWholeMapElseTtyS)
{
    QTemporaryDir tmp;
    const QByteArray d = QFile::encodeName(tmp.path());
    EXPECT_EQ(devicePathForComPort(d, 1), "/dev/ttyS0");
    EXPECT_EQ(devicePathForComPort(d, 12), "/dev/ttyS11");
    const QByteArray odd = d + "/d\xfe"; // not UTF-8
    ASSERT_EQ(::mkdir(odd, 0777), 0);
    for (const QByteArray& program : {d, odd}) {
        ASSERT_EQ(::mkdir(program + "/ports", 0777), 0);
        ASSERT_EQ(::symlink("/dev/null", program + "/ports/com3"), 0);
        ASSERT_EQ(::symlink(d + "/gone", program + "/ports/com5"), 0);
        EXPECT_EQ(devicePathForComPort(program, 3), "/dev/null");
        EXPECT_EQ(devicePathForComPort(program, 1), QString()) << "absent link";
        EXPECT_EQ(devicePathForComPort(program, 5), QString()) << "dangling link";
    }
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
