// QtSerialPort on pseudo-terminals: the test holds the master side (the
// "device") and links the slave as <tmp>/ports/com1, as the simulator does.
#include "device/qt_serial_port.h"

#include "app/qt_event_loop.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace qm {
namespace {

// Lets events run until `cond` holds or `ms` have passed; returns `cond()`.
bool pumpUntil(const std::function<bool()>& cond, int ms = 2000)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return cond();
}

void pumpFor(int ms)
{
    pumpUntil([] { return false; }, ms);
}

// One pseudo-terminal; the slave path appears as a COM port of a program dir.
class Pty {
public:
    Pty()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        const char* name = ::ptsname(master_);
        if (name)
            slave_ = QString::fromLocal8Bit(name);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.isEmpty(); }
    int fd() const { return master_; }
    const QString& slave() const { return slave_; }

    bool linkAs(const QString& linkPath) const
    {
        QDir().mkpath(QFileInfo(linkPath).path());
        QFile::remove(linkPath);
        return QFile::link(slave_, linkPath);
    }

    // The device sends.
    void send(const std::string& bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
        }
    }

    // What the program wrote, collected until `count` bytes arrived (events
    // keep running meanwhile, in case the port writes from its notifier).
    std::string receive(std::size_t count, int ms = 2000) const
    {
        std::string got;
        pumpUntil(
            [&] {
                char buf[512];
                for (;;) {
                    const ssize_t n = ::read(master_, buf, sizeof buf);
                    if (n <= 0)
                        break;
                    got.append(buf, static_cast<std::size_t>(n));
                }
                return got.size() >= count;
            },
            ms);
        return got;
    }

    // Line settings of the slave as the program set them (the termios ioctls
    // on a pty master report its slave).
    termios slaveTermios() const
    {
        termios t{};
        ::tcgetattr(master_, &t);
        return t;
    }

    void closeMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    QString slave_;
};

std::string allByteValues()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(static_cast<char>(i));
    return s;
}

class QtSerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal available";
        ASSERT_TRUE(pty_.linkAs(comPath(1)));
    }

    QString comPath(int n) const { return dir_.filePath(QStringLiteral("ports/com%1").arg(n)); }

    // Configured as INIT does, then opened.
    void openLikeInit(QtSerialPort& port)
    {
        ASSERT_EQ(port.setCommPort(1), 0);
        ASSERT_EQ(port.setSettings("9600,n,8,1"), 0);
        ASSERT_EQ(port.setHandshaking(0), 0);
        ASSERT_EQ(port.setPortOpen(true), 0);
        ASSERT_TRUE(port.portOpen());
        ASSERT_EQ(port.setDTREnable(false), 0);
        ASSERT_EQ(port.setRTSEnable(false), 0);
        port.setRThreshold(1);
        port.setInputLen(1);
    }

    QTemporaryDir dir_;
    Pty pty_;
};

// Where the program directory has a ports/ folder, it is the whole map: a
// missing or dangling link is a missing port (never a /dev/ttyS fallback,
// which would hold some other device while the link is briefly gone).
TEST(DevicePathForComPort, PortsFolderIsTheWholeMapElseTtyS)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray d = QFile::encodeName(dir.path());
    EXPECT_EQ(devicePathForComPort(d, 1), "/dev/ttyS0");
    EXPECT_EQ(devicePathForComPort(d, 12), "/dev/ttyS11");

    // Also in a directory whose name is not UTF-8.
    const QByteArray odd = d + "/d\xfe";
    ASSERT_EQ(::mkdir(odd.constData(), 0777), 0);
    for (const QByteArray& program : {d, odd}) {
        ASSERT_EQ(::mkdir((program + "/ports").constData(), 0777), 0);
        ASSERT_EQ(::symlink("/dev/null", (program + "/ports/com3").constData()), 0);
        ASSERT_EQ(::symlink((d + "/gone").constData(), (program + "/ports/com5").constData()), 0);
        EXPECT_EQ(devicePathForComPort(program, 3), "/dev/null");
        EXPECT_EQ(devicePathForComPort(program, 1), QString()) << "absent link";
        EXPECT_EQ(devicePathForComPort(program, 5), QString()) << "dangling link";
    }
}

TEST_F(QtSerialPortTest, OpensThroughTheLinkAsRaw8N1WithoutFlowControl)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    openLikeInit(port);
    const termios t = pty_.slaveTermios();
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & PARENB, 0u);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(port.setPortOpen(false), 0);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.setPortOpen(false), 0); // closing a closed port is harmless
}

TEST_F(QtSerialPortTest, OutputReachesTheDeviceByteExact)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    openLikeInit(port);
    const std::string bytes = std::string("\0\xff\r\nAT\r", 7) + allByteValues();
    ASSERT_EQ(port.output(bytes), 0);
    EXPECT_EQ(pty_.receive(bytes.size()), bytes);
}

TEST_F(QtSerialPortTest, OutputIsOnTheWireWithoutWaitingForTheEventLoop)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    openLikeInit(port);
    ASSERT_EQ(port.output("\rV01\r"), 0);
    pollfd p{pty_.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 200), 1); // no processEvents in between
    char buf[16];
    EXPECT_EQ(::read(pty_.fd(), buf, sizeof buf), 5);
}

TEST_F(QtSerialPortTest, ReceivedBytesRaiseOnCommAndArriveByteExact)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    int events = 0;
    int otherEvents = 0;
    port.setOnComm([&] {
        if (port.commEvent() == comm_event::kReceive)
            ++events;
        else
            ++otherEvents;
    });
    openLikeInit(port);
    port.setInputLen(0);

    const std::string bytes = std::string("\0\xff\r\n", 4) + allByteValues();
    pty_.send(bytes);
    ASSERT_TRUE(pumpUntil([&] { return port.inBufferCount() == static_cast<int>(bytes.size()); }));
    EXPECT_GE(events, 1);
    EXPECT_EQ(otherEvents, 0);
    EXPECT_EQ(port.inputAll(), bytes);
    EXPECT_EQ(port.inBufferCount(), 0);
    EXPECT_EQ(port.input(), "");
}

TEST_F(QtSerialPortTest, InputReturnsAtMostInputLenCharacters)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    std::string collected;
    // As the receive handler reads: one character per read while any wait.
    port.setOnComm([&] {
        if (port.commEvent() != comm_event::kReceive)
            return;
        do {
            const std::string c = port.input();
            EXPECT_LE(c.size(), 1u);
            collected += c;
        } while (port.inBufferCount() != 0);
    });
    openLikeInit(port);
    pty_.send(std::string("OK\r\n\0\xff", 6));
    ASSERT_TRUE(pumpUntil([&] { return collected.size() >= 6; }));
    EXPECT_EQ(collected, std::string("OK\r\n\0\xff", 6));


    // Taken in blocks of InputLen; 0 takes all.
    port.setOnComm({});
    pty_.send("V01=21.5\r");
    ASSERT_TRUE(pumpUntil([&] { return port.inBufferCount() == 9; }));
    port.setInputLen(3);
    EXPECT_EQ(port.input(), "V01");
    EXPECT_EQ(port.input(), "=21");
    EXPECT_EQ(port.inBufferCount(), 3);
    port.setInputLen(0);
    EXPECT_EQ(port.input(), ".5\r");
    EXPECT_EQ(port.input(), "");
}

TEST_F(QtSerialPortTest, NoReceiveEventWhileRThresholdIsZero)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    int events = 0;
    port.setOnComm([&] { ++events; });
    openLikeInit(port);
    port.setRThreshold(0);
    pty_.send("abc");
    ASSERT_TRUE(pumpUntil([&] { return port.inBufferCount() == 3; }));
    pumpFor(20);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(port.inputAll(), "abc");
}

// A receive handler that waits in a nested loop still gets the bytes that
// arrive during its wait (as a nested receive event).
TEST_F(QtSerialPortTest, BytesArrivingWhileTheHandlerWaitsRaiseANestedEvent)
{
    QtEventLoop loop;
    QtSerialPort port(QFile::encodeName(dir_.path()));
    std::string got;
    int depth = 0;
    int nested = 0;
    port.setOnComm([&] {
        if (port.commEvent() != comm_event::kReceive)
            return;
        if (depth > 0)
            ++nested;
        got += port.inputAll();
        if (got == "A") {
            ++depth;
            QTimer::singleShot(20, [&] { pty_.send("B"); });
            loop.runNestedUntil(loop.now() + 1000, [&] { return got.size() >= 2; });
            --depth;
        }
    });
    openLikeInit(port);
    pty_.send("A");
    ASSERT_TRUE(pumpUntil([&] { return got.size() >= 2 && depth == 0; }));
    EXPECT_EQ(got, "AB");
    EXPECT_EQ(nested, 1);
}

TEST_F(QtSerialPortTest, SecondOpenOfAHeldPortGives8005)
{
    QtSerialPort first(QFile::encodeName(dir_.path()));
    openLikeInit(first);
    QtSerialPort second(QFile::encodeName(dir_.path()));
    ASSERT_EQ(second.setCommPort(1), 0);
    EXPECT_EQ(second.setPortOpen(true), comm_error::kPortInUse);
    EXPECT_FALSE(second.portOpen());
    // Released: now it opens.
    ASSERT_EQ(first.setPortOpen(false), 0);
    EXPECT_EQ(second.setPortOpen(true), 0);
}

TEST_F(QtSerialPortTest, MissingDeviceGives8002)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    // No ports/com200 link: /dev/ttyS199, which does not exist.
    ASSERT_EQ(port.setCommPort(200), 0);
    EXPECT_EQ(port.setPortOpen(true), comm_error::kInvalidPort);
    EXPECT_FALSE(port.portOpen());
    // A link to a device that has gone away.
    ASSERT_TRUE(QFile::link(dir_.filePath(QStringLiteral("gone")), comPath(2)));
    ASSERT_EQ(port.setCommPort(2), 0);
    EXPECT_EQ(port.setPortOpen(true), comm_error::kInvalidPort);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.setCommPort(0), comm_error::kInvalidPort);
}

TEST_F(QtSerialPortTest, SettingsTextIsValidated)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    for (const char* good : {"9600,n,8,1", "9600,N,8,1", "115200,e,7,2", "300,o,5,1.5",
                             "19200,m,6,1", "2400,s,8,2", " 9600 , n , 8 , 1 "})
        EXPECT_EQ(port.setSettings(good), 0) << good;
    for (const char* bad :
         {"", "9600", "9600,n,8", "9600,n,8,1,1", "abc,n,8,1", "0,n,8,1", "-9600,n,8,1",
          "96 00,n,8,1", "9600.5,n,8,1", "9600,x,8,1", "9600,,8,1", "9600,no,8,1",
          "9600,n,9,1", "9600,n,4,1", "9600,n,8,3", "9600,n,8,0", "9600,n,8,1,5",
          "99999999999,n,8,1"})
        EXPECT_EQ(port.setSettings(bad), comm_error::kBadSettings) << bad;
}

TEST_F(QtSerialPortTest, SettingsApplyAtOnceWhileOpenAndAtOpenWhileClosed)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    ASSERT_EQ(port.setCommPort(1), 0);
    ASSERT_EQ(port.setSettings("4800,n,8,1"), 0);
    ASSERT_EQ(port.setPortOpen(true), 0);
    termios t = pty_.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
    ASSERT_EQ(port.setSettings("19200,n,8,2"), 0);
    t = pty_.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    // A bad text while open changes nothing.
    EXPECT_EQ(port.setSettings("fast,n,8,1"), comm_error::kBadSettings);
    t = pty_.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    ASSERT_EQ(port.setSettings("9600,N,8,1"), 0);
    t = pty_.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_TRUE(port.portOpen());
}

// The Linux pty driver keeps 8 data bits and no parity whatever it is told;
// QSerialPort reads the settings back and refuses. That is a text this port
// cannot use: 8015, at once while open, at the opening while closed.
TEST_F(QtSerialPortTest, SettingsThePtyCannotDoGive8015)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    ASSERT_EQ(port.setCommPort(1), 0);
    ASSERT_EQ(port.setSettings("9600,e,7,1"), 0); // closed: only checked as text
    EXPECT_EQ(port.setPortOpen(true), comm_error::kBadSettings);
    EXPECT_FALSE(port.portOpen());
    ASSERT_EQ(port.setSettings("9600,n,8,1"), 0);
    ASSERT_EQ(port.setPortOpen(true), 0);
    ASSERT_EQ(port.setSettings("19200,n,8,1"), 0);
    EXPECT_EQ(port.setSettings("2400,e,7,1"), comm_error::kBadSettings);
    EXPECT_TRUE(port.portOpen());
    // Refused as a whole: the previous settings stay in force, also for the
    // next opening.
    termios t = pty_.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    ASSERT_EQ(port.setPortOpen(false), 0);
    ASSERT_EQ(port.setPortOpen(true), 0);
    t = pty_.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
}

TEST_F(QtSerialPortTest, OutputOnAClosedPortGives8018)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    EXPECT_EQ(port.output("AT\r"), comm_error::kPortNotOpen);
    openLikeInit(port);
    ASSERT_EQ(port.setPortOpen(false), 0);
    EXPECT_EQ(port.output("AT\r"), comm_error::kPortNotOpen);
}

TEST_F(QtSerialPortTest, CommPortCannotChangeWhileOpen)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    openLikeInit(port);
    EXPECT_EQ(port.setCommPort(2), comm_error::kPortOpenCannotSet);
    ASSERT_EQ(port.setPortOpen(false), 0);
    EXPECT_EQ(port.setCommPort(2), 0);
}

TEST_F(QtSerialPortTest, ModemLinesOnAPtyAreNotAnError)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    // While closed: remembered for the opening.
    EXPECT_EQ(port.setDTREnable(false), 0);
    EXPECT_EQ(port.setRTSEnable(false), 0);
    openLikeInit(port);
    EXPECT_EQ(port.setDTREnable(false), 0);
    EXPECT_EQ(port.setRTSEnable(false), 0);
    EXPECT_EQ(port.setDTREnable(true), 0);
    EXPECT_EQ(port.setRTSEnable(true), 0);
    EXPECT_TRUE(port.portOpen());
    // The port still works afterwards.
    ASSERT_EQ(port.output("x"), 0);
    EXPECT_EQ(pty_.receive(1), "x");
}

TEST_F(QtSerialPortTest, HandshakingModes)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    openLikeInit(port);
    EXPECT_EQ(port.setHandshaking(2), 0);
    EXPECT_NE(pty_.slaveTermios().c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(port.setHandshaking(0), 0);
    EXPECT_EQ(pty_.slaveTermios().c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(port.setHandshaking(7), comm_error::kBadSettings);
}

TEST_F(QtSerialPortTest, ClosingTheDeviceSideReportsDeviceLostAndClosesThePort)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    std::vector<int> events;
    bool openDuringEvent = true;
    port.setOnComm([&] {
        events.push_back(port.commEvent());
        if (port.commEvent() == comm_event::kDeviceLost)
            openDuringEvent = port.portOpen();
    });
    openLikeInit(port);
    pty_.closeMaster();
    ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<int>{comm_event::kDeviceLost});
    EXPECT_FALSE(openDuringEvent);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.lastError(), comm_error::kDeviceLost);
    EXPECT_EQ(port.output("AT\r"), comm_error::kPortNotOpen);
    // Reported once, and the event loop is quiet again (no error storm).
    pumpFor(30);
    EXPECT_EQ(events.size(), 1u);

    // The device comes back (a new terminal behind the same link): the next
    // opening finds it.
    // (Nothing is opened in between: the old terminal's number may already
    // serve another program.)
    Pty again;
    ASSERT_TRUE(again.ok());
    ASSERT_TRUE(again.linkAs(comPath(1)));
    ASSERT_EQ(port.setPortOpen(true), 0);
    ASSERT_EQ(port.output("AT\r"), 0);
    EXPECT_EQ(again.receive(3), "AT\r");
}

// As the simulated port: characters still waiting when the device is lost
// are dropped with the port.
TEST_F(QtSerialPortTest, WaitingBytesAreDroppedWhenTheDeviceIsLost)
{
    QtSerialPort port(QFile::encodeName(dir_.path()));
    std::vector<int> events;
    port.setOnComm([&] { events.push_back(port.commEvent()); });
    openLikeInit(port);
    port.setRThreshold(0); // nobody is told about the bytes
    pty_.send("V01=1\r");
    ASSERT_TRUE(pumpUntil([&] { return port.inBufferCount() == 6; }));
    pty_.closeMaster();
    ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<int>{comm_event::kDeviceLost});
    EXPECT_EQ(port.inBufferCount(), 0);
    EXPECT_FALSE(port.portOpen());
}

} // namespace
} // namespace qm
