#include "device/tty_serial_port.h"

#include "base/files.h"

#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qm {

namespace {

// A hang-up or an error condition on the descriptor right now.
bool hungUp(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

int openErrorNumber(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return comm_error::kInvalidPort;
    case EACCES:
    case EPERM:
    case EROFS:
        return comm_error::kPermission;
    case EBUSY:
        return comm_error::kPortInUse;
    default:
        return comm_error::kOpenFailed;
    }
}

// Why COM `number` leads to no device: the device path that is not there,
// or the link of the ports folder and where it leads.
QString missingDeviceText(const QByteArray& programDir, int number, const QByteArray& device)
{
    if (!device.isEmpty())
        return QFile::decodeName(device) + QStringLiteral(" does not exist");
    const QByteArray link = "ports/com" + QByteArray::number(number);
    const QString linkName = QFile::decodeName(link);
    char target[4096];
    const ssize_t n = ::readlink((programDir + '/' + link).constData(), target, sizeof target);
    if (n >= 0 && n < static_cast<ssize_t>(sizeof target))
        return QStringLiteral("%1 leads to %2, which does not exist")
            .arg(linkName, QFile::decodeName(QByteArray(target, n)));
    if (n < 0 && errno == ENOENT)
        return QStringLiteral("there is no link %1 in the program's folder").arg(linkName);
    return QStringLiteral("%1 cannot be followed: %2")
        .arg(linkName, QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENAMETOOLONG)));
}

} // namespace

QByteArray devicePathBytes(const QByteArray& programDir, int number)
{
    const QByteArray ports = programDir + "/ports";
    struct stat st {};
    if (::stat(ports.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "/dev/ttyS" + QByteArray::number(number - 1);
    // The device itself, by its own name: its lock file then has the name
    // every other serial program uses for it.
    // Empty when absent or dangling: this port does not exist.
    return realPath(ports + "/com" + QByteArray::number(number));
}

QString devicePathForComPort(const QByteArray& programDir, int number)
{
    return QFile::decodeName(devicePathBytes(programDir, number));
}

TtySerialPort::TtySerialPort(QByteArray programDir)
    : programDir_(std::move(programDir))
{
    readGate_.setSingleShot(true);
    readGate_.setTimerType(Qt::PreciseTimer);
    connect(&readGate_, &QTimer::timeout, this, [this] { onReadable(true); });
}

TtySerialPort::~TtySerialPort()
{
    closeDevice();
}

int TtySerialPort::setCommPort(int number)
{
    if (fd_.valid())
        return comm_error::kPortOpenCannotSet;
    if (number < 1)
        return comm_error::kInvalidPort;
    commPort_ = number;
    return comm_error::kNone;
}

int TtySerialPort::setSettings(const std::string& text)
{
    LineSettings parsed;
    if (!parseLineSettings(text, parsed))
        return comm_error::kBadSettings;
    if (fd_.valid() && !applyLineSettings(fd_.get(), parsed, flow_)) {
        // The open device refused it: the previous settings stay in force.
        applyLineSettings(fd_.get(), line_, flow_);
        return comm_error::kBadSettings;
    }
    line_ = parsed;
    return comm_error::kNone;
}

int TtySerialPort::setHandshaking(int mode)
{
    FlowControl flow = FlowControl::None;
    switch (mode) {
    case 0: // comNone
        break;
    case 1: // comXOnXoff
        flow = FlowControl::XonXoff;
        break;
    case 2: // comRTS
    case 3: // comRTSXOnXOff: RTS/CTS only
        flow = FlowControl::RtsCts;
        break;
    default:
        return comm_error::kBadSettings;
    }
    if (fd_.valid() && !applyLineSettings(fd_.get(), line_, flow)) {
        applyLineSettings(fd_.get(), line_, flow_);
        return comm_error::kBadSettings;
    }
    flow_ = flow;
    return comm_error::kNone;
}

bool TtySerialPort::portOpen() const
{
    return fd_.valid();
}

int TtySerialPort::setPortOpen(bool open)
{
    if (open == fd_.valid())
        return comm_error::kNone;
    if (!open) {
        closeDevice();
        return comm_error::kNone;
    }
    const int error = openDevice();
    if (error)
        closeDevice();
    return error;
}

int TtySerialPort::openDevice()
{
    devicePath_ = devicePathBytes(programDir_, commPort_);
    failureDetail_.clear();
    struct stat st {};
    if (devicePath_.isEmpty() || ::stat(devicePath_.constData(), &st) != 0) {
        failureDetail_ = missingDeviceText(programDir_, commPort_, devicePath_);
        return comm_error::kInvalidPort;
    }
    if (!lock_.acquire(devicePath_)) {
        failureDetail_ = lock_.refusal();
        return comm_error::kPortInUse;
    }
    fd_.reset(::open(devicePath_.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_.valid() && errno == EBUSY) {
        const QString device = QFile::decodeName(devicePath_);
        failureDetail_ =
            hungUp_ != 0 && st.st_rdev == hungUp_
                ? device + QStringLiteral(" was hung up while this program held it, and the "
                                          "kernel keeps it exclusive until its other end closes: "
                                          "restart the program that provides it")
                : device + QStringLiteral(" is held exclusively by another program");
    }
    if (!fd_.valid())
        return openErrorNumber(errno);
    termios t{};
    if (::tcgetattr(fd_.get(), &t) != 0)
        return comm_error::kOpenFailed; // not a terminal
    if (::ioctl(fd_.get(), TIOCEXCL) != 0)
        return comm_error::kOpenFailed;
    if (!applyLineSettings(fd_.get(), line_, flow_))
        return errno == EIO ? comm_error::kOpenFailed : comm_error::kBadSettings;
    // The lines as last set (inactive unless enabled); absent lines are fine.
    applyModemLine(TIOCM_DTR, dtr_);
    applyModemLine(TIOCM_RTS, rts_);
    pending_.clear();
    outgoing_.clear();
    lastError_ = comm_error::kNone;
    hungUp_ = 0;
    readNotifier_ = std::make_unique<QSocketNotifier>(fd_.get(), QSocketNotifier::Read);
    connect(readNotifier_.get(), &QSocketNotifier::activated, this, [this] { onReadable(false); });
    writeNotifier_ = std::make_unique<QSocketNotifier>(fd_.get(), QSocketNotifier::Write);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_.get(), &QSocketNotifier::activated, this, &TtySerialPort::onWritable);
    return comm_error::kNone;
}

void TtySerialPort::closeDevice()
{
    readGate_.stop();
    readNotifier_.reset();
    writeNotifier_.reset();
    if (fd_.valid()) {
        // A pseudo-terminal keeps the flag after the close. A hung-up
        // terminal refuses this (EIO), and nothing else can clear it then.
        ::ioctl(fd_.get(), TIOCNXCL);
        fd_.reset();
    }
    lock_.release();
    pending_.clear();
    outgoing_.clear();
}

int TtySerialPort::applyModemLine(int line, bool on)
{
    if (!fd_.valid())
        return comm_error::kNone; // applied at the next opening
    const int error = setModemLine(fd_.get(), line, on);
    // Pseudo-terminals and some adapters have no modem-control lines.
    if (error == 0 || error == ENOTTY || error == EINVAL)
        return comm_error::kNone;
    if (hungUp(fd_.get())) {
        deviceLost();
        return comm_error::kDeviceLost;
    }
    return comm_error::kOpenFailed;
}

int TtySerialPort::setDTREnable(bool on)
{
    dtr_ = on;
    return applyModemLine(TIOCM_DTR, on);
}

int TtySerialPort::setRTSEnable(bool on)
{
    rts_ = on;
    return applyModemLine(TIOCM_RTS, on);
}

void TtySerialPort::setRThreshold(int count)
{
    rThreshold_ = count < 0 ? 0 : count;
}

void TtySerialPort::setInputLen(int count)
{
    inputLen_ = count < 0 ? 0 : count;
}

int TtySerialPort::output(const std::string& bytes)
{
    if (!fd_.valid())
        return comm_error::kPortNotOpen;
    if (bytes.empty())
        return comm_error::kNone;
    outgoing_.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (!flushOutput())
        return comm_error::kWriteFailed;
    // A request was sent: its reply is read as soon as it comes.
    if (!delivering_) {
        readGate_.stop();
        readNotifier_->setEnabled(true);
    }
    return comm_error::kNone;
}

bool TtySerialPort::flushOutput()
{
    while (!outgoing_.isEmpty()) {
        const ssize_t n =
            ::write(fd_.get(), outgoing_.constData(), static_cast<size_t>(outgoing_.size()));
        if (n > 0) {
            outgoing_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break; // the terminal's buffer is full: the rest when it drains
        deviceLost();
        return false;
    }
    writeNotifier_->setEnabled(!outgoing_.isEmpty());
    return true;
}

void TtySerialPort::onWritable()
{
    if (fd_.valid())
        flushOutput();
}

std::string TtySerialPort::input()
{
    const qsizetype n =
        inputLen_ <= 0 ? pending_.size() : std::min<qsizetype>(pending_.size(), inputLen_);
    std::string out(pending_.constData(), static_cast<std::size_t>(n));
    pending_.remove(0, n);
    return out;
}

std::string TtySerialPort::inputAll()
{
    std::string out(pending_.constData(), static_cast<std::size_t>(pending_.size()));
    pending_.clear();
    return out;
}

int TtySerialPort::inBufferCount() const
{
    return static_cast<int>(std::min<qsizetype>(pending_.size(), INT_MAX));
}

int TtySerialPort::commEvent() const
{
    return commEvent_;
}

int TtySerialPort::lastError() const
{
    return lastError_;
}

bool TtySerialPort::readRound(qsizetype& got)
{
    char buf[16384];
    while (got < kReadRound) {
        const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
        if (n > 0) {
            pending_.append(buf, n);
            got += n;
            continue;
        }
        if (n == 0)
            return false; // hung up: VMIN is 1, so an empty line reads EAGAIN
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return false; // EIO and the like: the device is gone
        // Woken with nothing to read: an error condition shows in poll().
        return got > 0 || !hungUp(fd_.get());
    }
    return true;
}

void TtySerialPort::onReadable(bool gated)
{
    if (!fd_.valid())
        return;
    readNotifier_->setEnabled(false);
    qsizetype got = 0;
    const bool alive = readRound(got);
    // Bytes close behind the last ones: the device sends line after line.
    const bool streaming =
        got > 0 && (gated || (lastBytes_.isValid() && lastBytes_.elapsed() < kReadGateMs));
    if (got > 0)
        lastBytes_.start();
    if (got > 0)
        deliverReceive();
    if (!fd_.valid())
        return; // closed by the core meanwhile
    if (!alive) {
        deviceLost();
        return;
    }
    // A device that sends more than a trickle is read again at the next
    // round, so that the terminal's buffer (4 kB) never fills while the gate
    // is shut: 1 kB in 42 ms is about 2,500 lines a second. A line after a
    // quiet spell shuts no gate: the next one is read as soon as it comes.
    if (!streaming || replyAwaited())
        readNotifier_->setEnabled(true);
    else
        readGate_.start(got >= kTrickle ? 0 : kReadGateMs);
}

void TtySerialPort::deliverReceive()
{
    if (rThreshold_ <= 0 || pending_.size() < rThreshold_ || delivering_)
        return;
    commEvent_ = comm_event::kReceive;
    delivering_ = true;
    raiseOnComm();
    delivering_ = false;
}

void TtySerialPort::deviceLost()
{
    if (!fd_.valid())
        return;
    struct stat st {};
    hungUp_ = ::fstat(fd_.get(), &st) == 0 ? st.st_rdev : 0;
    closeDevice();
    lastError_ = comm_error::kDeviceLost;
    // Reported from the queue, so a caller in the middle of a write hears
    // of it after its own call returned.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (fd_.valid())
                return; // reopened meanwhile: that loss is over
            commEvent_ = comm_event::kDeviceLost;
            raiseOnComm();
        },
        Qt::QueuedConnection);
}

} // namespace qm
