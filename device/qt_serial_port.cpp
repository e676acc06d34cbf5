#include "device/qt_serial_port.h"

#include <QFileInfo>
#include <QMetaObject>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#ifndef Q_OS_WIN
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qm {

namespace {

std::string trimmed(const std::string& s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::vector<std::string> splitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        fields.push_back(trimmed(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos)
            return fields;
        start = comma + 1;
    }
}

#ifndef Q_OS_WIN
// Poll flags of the open descriptor right now, without waiting.
short pollNow(qintptr fd, short events)
{
    if (fd < 0)
        return POLLNVAL;
    pollfd p{static_cast<int>(fd), events, 0};
    if (::poll(&p, 1, 0) < 0)
        return 0;
    return p.revents;
}

bool hungUp(qintptr fd)
{
    return (pollNow(fd, POLLIN) & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
#endif

} // namespace

QString devicePathForComPort(const QByteArray& programDir, int number)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programDir);
    return QStringLiteral("COM%1").arg(number);
#else
    const QByteArray ports = programDir + "/ports";
    struct stat st {};
    if (::stat(ports.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("/dev/ttyS%1").arg(number - 1);
    // The device itself, by its own name: the program directory's name may be
    // bytes that Qt's text paths cannot carry, and the device's lock file
    // then has the name every other serial program uses for it.
    char* real = ::realpath((ports + "/com" + QByteArray::number(number)).constData(), nullptr);
    if (!real)
        return {}; // absent or dangling: this port does not exist
    const QString path = QFile::decodeName(real);
    std::free(real);
    return path;
#endif
}

QtSerialPort::QtSerialPort(QByteArray programDir)
    : programDir_(std::move(programDir))
{
    readGate_.setSingleShot(true);
    readGate_.setTimerType(Qt::PreciseTimer);
    connect(&readGate_, &QTimer::timeout, this, &QtSerialPort::readAfterGate);
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onPortError);
}

QtSerialPort::~QtSerialPort()
{
    disconnect(&port_, nullptr, this, nullptr);
    if (port_.isOpen())
        port_.close();
}

int QtSerialPort::setCommPort(int number)
{
    if (port_.isOpen())
        return comm_error::kPortOpenCannotSet;
    if (number < 1)
        return comm_error::kInvalidPort;
    commPort_ = number;
    return comm_error::kNone;
}

bool QtSerialPort::parseSettings(const std::string& text, LineSettings& out)
{
    const std::vector<std::string> f = splitFields(text);
    if (f.size() != 4)
        return false;

    // Baud rate: a positive decimal integer.
    const std::string& baud = f[0];
    if (baud.empty() || baud.size() > 9)
        return false;
    qint32 rate = 0;
    for (const char c : baud) {
        if (c < '0' || c > '9')
            return false;
        rate = rate * 10 + (c - '0');
    }
    if (rate <= 0)
        return false;

    LineSettings s;
    s.baud = rate;

    if (f[1].size() != 1)
        return false;
    switch (std::tolower(static_cast<unsigned char>(f[1][0]))) {
    case 'n':
        s.parity = QSerialPort::NoParity;
        break;
    case 'e':
        s.parity = QSerialPort::EvenParity;
        break;
    case 'o':
        s.parity = QSerialPort::OddParity;
        break;
    case 'm':
        s.parity = QSerialPort::MarkParity;
        break;
    case 's':
        s.parity = QSerialPort::SpaceParity;
        break;
    default:
        return false;
    }

    if (f[2] == "5")
        s.dataBits = QSerialPort::Data5;
    else if (f[2] == "6")
        s.dataBits = QSerialPort::Data6;
    else if (f[2] == "7")
        s.dataBits = QSerialPort::Data7;
    else if (f[2] == "8")
        s.dataBits = QSerialPort::Data8;
    else
        return false;

    if (f[3] == "1")
        s.stopBits = QSerialPort::OneStop;
    else if (f[3] == "1.5")
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (f[3] == "2")
        s.stopBits = QSerialPort::TwoStop;
    else
        return false;

    out = s;
    return true;
}

bool QtSerialPort::applyLineSettings()
{
    // While closed these only store the values (setPortOpen applies them).
    bool ok = port_.setBaudRate(line_.baud);
    ok = port_.setDataBits(line_.dataBits) && ok;
    ok = port_.setParity(line_.parity) && ok;
    ok = port_.setStopBits(line_.stopBits) && ok;
    ok = port_.setFlowControl(flow_) && ok;
    return ok;
}

int QtSerialPort::setSettings(const std::string& text)
{
    LineSettings parsed;
    if (!parseSettings(text, parsed))
        return comm_error::kBadSettings;
    const LineSettings previous = line_;
    line_ = parsed;
    if (!applyLineSettings()) {
        // The open device refused it: the previous settings stay in force.
        line_ = previous;
        applyLineSettings();
        port_.clearError();
        return comm_error::kBadSettings;
    }
    return comm_error::kNone;
}

int QtSerialPort::setHandshaking(int mode)
{
    const QSerialPort::FlowControl previous = flow_;
    switch (mode) {
    case 0:
        flow_ = QSerialPort::NoFlowControl;
        break; // comNone
    case 1:
        flow_ = QSerialPort::SoftwareControl;
        break; // comXOnXoff
    case 2:    // comRTS
    case 3:
        flow_ = QSerialPort::HardwareControl;
        break; // comRTSXOnXOff: RTS/CTS only
    default:
        return comm_error::kBadSettings;
    }
    if (!port_.setFlowControl(flow_)) {
        flow_ = previous;
        port_.setFlowControl(flow_);
        port_.clearError();
        return comm_error::kBadSettings;
    }
    return comm_error::kNone;
}

bool QtSerialPort::portOpen() const
{
    return port_.isOpen();
}

int QtSerialPort::openErrorNumber(QSerialPort::SerialPortError error, const QString& path) const
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return comm_error::kInvalidPort;
    case QSerialPort::PermissionError:
        // QSerialPort says PermissionError both for a device held by another
        // program (its lock file, or EBUSY from TIOCEXCL) and for EACCES.
#ifndef Q_OS_WIN
        if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return comm_error::kPermission;
#else
        Q_UNUSED(path);
#endif
        return comm_error::kPortInUse;
    default:
        return comm_error::kOpenFailed;
    }
}

int QtSerialPort::setPortOpen(bool open)
{
    if (open == port_.isOpen())
        return comm_error::kNone;

    if (!open) {
        readGate_.stop();
        readNotifier_.clear();
        port_.close();
        port_.clearError();
        pending_.clear();
        return comm_error::kNone;
    }

    const QString path = devicePathForComPort(programDir_, commPort_);
#ifndef Q_OS_WIN
    if (path.isEmpty() || !QFileInfo::exists(path))
        return comm_error::kInvalidPort;
#endif
    port_.setPortName(path);
    // Opened on plain 9600 8N1 without flow control (O_NONBLOCK, raw termios),
    // then given the line settings: a device that refuses them (a
    // pseudo-terminal does only 8 bits without parity) is then told apart
    // from one that does not open at all.
    port_.setBaudRate(9600);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.clearError();
    if (!port_.open(QIODevice::ReadWrite)) {
        const int number = openErrorNumber(port_.error(), path);
        port_.clearError();
        return number;
    }
    if (!applyLineSettings()) {
        port_.close();
        port_.clearError();
        return comm_error::kBadSettings;
    }
    pending_.clear();
    lastError_ = comm_error::kNone;
    findReadNotifier();
    // The lines as last set (inactive unless enabled); absent lines are fine.
    applyModemLine(true, dtr_);
    applyModemLine(false, rts_);
    port_.clearError();
    return port_.isOpen() ? comm_error::kNone : comm_error::kOpenFailed;
}

int QtSerialPort::applyModemLine(bool dtr, bool on)
{
    if (!port_.isOpen())
        return comm_error::kNone; // applied at the next opening
    port_.clearError();
    const bool ok = dtr ? port_.setDataTerminalReady(on) : port_.setRequestToSend(on);
    if (ok)
        return comm_error::kNone;
    const QSerialPort::SerialPortError error = port_.error();
    port_.clearError();
    // Pseudo-terminals and some adapters have no modem-control lines: ENOTTY
    // or EINVAL, which QSerialPort reports as UnsupportedOperationError.
    if (error == QSerialPort::UnsupportedOperationError)
        return comm_error::kNone;
    if (!port_.isOpen() || error == QSerialPort::ResourceError)
        return comm_error::kDeviceLost;
    return comm_error::kOpenFailed;
}

int QtSerialPort::setDTREnable(bool on)
{
    dtr_ = on;
    return applyModemLine(true, on);
}

int QtSerialPort::setRTSEnable(bool on)
{
    rts_ = on;
    return applyModemLine(false, on);
}

void QtSerialPort::setRThreshold(int count)
{
    rThreshold_ = count < 0 ? 0 : count;
}

void QtSerialPort::setInputLen(int count)
{
    inputLen_ = count < 0 ? 0 : count;
}

int QtSerialPort::output(const std::string& bytes)
{
    if (!port_.isOpen())
        return comm_error::kPortNotOpen;
    if (bytes.empty())
        return comm_error::kNone;
    port_.clearError();
    const qint64 size = static_cast<qint64>(bytes.size());
    if (port_.write(bytes.data(), size) != size)
        return comm_error::kWriteFailed;
#ifndef Q_OS_WIN
    // Hand the bytes to the driver now rather than at the next event-loop
    // round. flush() never blocks, but a non-blocking write into a full
    // buffer fails with EAGAIN, which QSerialPort reports as a ResourceError;
    // so flush only when the device takes data, else the write notifier
    // finishes the job.
    const short revents = pollNow(port_.handle(), POLLOUT);
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
        deviceLost();
        return comm_error::kWriteFailed;
    }
    if (revents & POLLOUT)
        port_.flush();
#else
    port_.flush();
#endif
    if (!port_.isOpen())
        return comm_error::kWriteFailed;
    const QSerialPort::SerialPortError error = port_.error();
    if (error == QSerialPort::WriteError || error == QSerialPort::ResourceError)
        return comm_error::kWriteFailed;
    return comm_error::kNone;
}

std::string QtSerialPort::input()
{
    const qsizetype n =
        inputLen_ <= 0 ? pending_.size() : std::min<qsizetype>(pending_.size(), inputLen_);
    std::string out(pending_.constData(), static_cast<std::size_t>(n));
    pending_.remove(0, n);
    return out;
}

std::string QtSerialPort::inputAll()
{
    std::string out(pending_.constData(), static_cast<std::size_t>(pending_.size()));
    pending_.clear();
    return out;
}

int QtSerialPort::inBufferCount() const
{
    return static_cast<int>(std::min<qsizetype>(pending_.size(), INT_MAX));
}

int QtSerialPort::commEvent() const
{
    return commEvent_;
}

int QtSerialPort::lastError() const
{
    return lastError_;
}

void QtSerialPort::onReadyRead()
{
    const QByteArray data = port_.readAll();
    if (data.isEmpty())
        return;
    pending_.append(data);
    if (receivePosted_ || delivering_) {
        postReceiveEvent();
        return;
    }
    // Delivered at once: a line that arrives on its own costs one wake-up,
    // not a second event-loop round. QSerialPort does not emit readyRead
    // again while this slot runs, so should the core's handler ever wait in a
    // nested loop, what arrived meanwhile is taken afterwards, from the queue.
    delivering_ = true;
    deliverReceive();
    delivering_ = false;
    if (!port_.isOpen())
        return;
    if (port_.bytesAvailable() > 0) {
        pending_.append(port_.readAll());
        postReceiveEvent();
    }
    closeReadGate();
}

void QtSerialPort::closeReadGate()
{
    if (readNotifier_ && readNotifier_->socket() == port_.handle()) {
        readNotifier_->setEnabled(false);
        readGate_.start(kReadGateMs);
    }
}

void QtSerialPort::readAfterGate()
{
#ifndef Q_OS_WIN
    if (!port_.isOpen() || !readNotifier_ || readNotifier_->socket() != port_.handle())
        return;
    // What came meanwhile is read here, from the descriptor, in this round:
    // QSerialPort's own reading would switch its notifier back on. With
    // nothing waiting, the next arrival is read when it comes.
    QByteArray data;
    char buf[4096];
    ssize_t n = 0;
    do {
        n = ::read(static_cast<int>(port_.handle()), buf, sizeof buf);
        if (n > 0)
            data.append(buf, n);
    } while ((n > 0 && data.size() < kReadRound) || (n < 0 && errno == EINTR));
    if (data.isEmpty()) {
        // A terminal in raw mode reads 0 bytes when it has none; a hang-up
        // (adapter unplugged, pseudo-terminal closed) shows in poll().
        if (n == 0 ? hungUp(port_.handle()) : errno != EAGAIN && errno != EWOULDBLOCK)
            deviceLost();
        else
            readNotifier_->setEnabled(true);
        return;
    }
    pending_.append(data);
    if (receivePosted_) {
        postReceiveEvent();
    } else {
        delivering_ = true;
        deliverReceive();
        delivering_ = false;
    }
    // A device that sends more than a trickle is read again at the next
    // round, so that the terminal's buffer (4 kB) never fills while the gate
    // is shut: 1 kB in 20 ms is about 5,000 lines a second.
    if (port_.isOpen())
        readGate_.start(data.size() >= kTrickle ? 0 : kReadGateMs);
#endif
}

void QtSerialPort::findReadNotifier()
{
    // QSerialPort reads through a socket notifier of its own, its child. The
    // read gate switches it off and on; without one (another Qt) every
    // arrival is read at once.
    readNotifier_.clear();
    for (QSocketNotifier* n : port_.findChildren<QSocketNotifier*>())
        if (n->type() == QSocketNotifier::Read && n->socket() == port_.handle() && n->isEnabled())
            readNotifier_ = n;
}

void QtSerialPort::deliverReceive()
{
    if (rThreshold_ > 0 && pending_.size() >= rThreshold_) {
        commEvent_ = comm_event::kReceive;
        raiseOnComm();
    }
}

void QtSerialPort::postReceiveEvent()
{
    if (rThreshold_ <= 0 || pending_.size() < rThreshold_ || receivePosted_)
        return;
    receivePosted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            receivePosted_ = false;
            deliverReceive();
        },
        Qt::QueuedConnection);
}

void QtSerialPort::onPortError(QSerialPort::SerialPortError error)
{
    if (!port_.isOpen())
        return;
    if (error == QSerialPort::ResourceError) {
        deviceLost();
        return;
    }
#ifndef Q_OS_WIN
    // A read of 0 bytes (hang-up: adapter unplugged, pseudo-terminal master
    // closed) is reported as ReadError, and again on every event-loop round.
    if (error == QSerialPort::ReadError && hungUp(port_.handle()))
        deviceLost();
#endif
}

void QtSerialPort::deviceLost()
{
    if (!port_.isOpen())
        return;
    readGate_.stop();
    readNotifier_.clear();
    port_.close();
    port_.clearError();
    lastError_ = comm_error::kDeviceLost;
    // Raised from the queue, after any receive event already queued, so the
    // bytes that came before the loss are delivered first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (port_.isOpen())
                return; // reopened meanwhile: that loss is over
            pending_.clear();
            commEvent_ = comm_event::kDeviceLost;
            raiseOnComm();
        },
        Qt::QueuedConnection);
}

} // namespace qm
