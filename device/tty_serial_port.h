#pragma once

#include "base/files.h"

#include "device/lock_file.h"
#include "device/serial_port.h"
#include "device/tty_line.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <memory>
#include <sys/types.h>

namespace qm {

// COM port number n as a device path. Where the program directory has a
// ports/ folder, that folder is the whole map: COM n is the device that
// ports/com<n> (usually a symbolic link) leads to, and an absent or dangling
// link gives an empty path (no such port). Without the folder COM n is
// /dev/ttyS<n-1>.
QByteArray devicePathBytes(const QByteArray& programDir, int number);
QString devicePathForComPort(const QByteArray& programDir, int number);

// The serial line on a terminal's file descriptor: opened non-blocking and
// exclusive, under the device's UUCP lock file, in raw mode through termios,
// read and written through notifiers of its own. Received bytes raise the
// port's event on the thread of the event loop.
//
// While bytes come close together (within kReadGateMs of the last ones), the
// port is not read again for kReadGateMs after taking them, unless the core
// awaits a reply: a device that sends line after line then wakes the program
// once for all the lines of that time instead of once a line, while a reply
// is taken as soon as its last byte comes, and so is a line after a quiet
// spell. The window shows what a read brought in the same round when its own
// frame (40 ms) has passed, so a line is on screen about 42 ms after it came
// at the latest, with the time the read and the repaint take.
//
// A read of 0 bytes (a hung-up terminal: an adapter unplugged), EIO, POLLHUP
// or POLLERR is the device gone: what was read before it is delivered, then
// the port closes and reports kDeviceLost.
//
// The exclusive use (TIOCEXCL) is given up before every close: on a
// pseudo-terminal the kernel keeps the flag after the close, and every later
// open by a user without CAP_SYS_ADMIN would fail.
class TtySerialPort final : public QObject, public SerialPort {
    Q_OBJECT
public:
    static constexpr int kReadGateMs = 42;
    static constexpr qsizetype kTrickle = 1024;    // more in one gate: read every round
    static constexpr qsizetype kReadRound = 32768; // bytes read in one round

    explicit TtySerialPort(QByteArray programDir);
    ~TtySerialPort() override;

    int setCommPort(int number) override;
    int setSettings(const std::string& text) override;
    int setHandshaking(int mode) override;
    bool portOpen() const override;
    int setPortOpen(bool open) override;
    int setDTREnable(bool on) override;
    int setRTSEnable(bool on) override;
    void setRThreshold(int count) override;
    void setInputLen(int count) override;
    int output(const std::string& bytes) override;
    std::string input() override;
    std::string inputAll() override;
    int inBufferCount() const override;
    int commEvent() const override;
    int lastError() const override;
    QByteArray devicePath() const override { return devicePath_; }
    QString failureDetail() const override { return failureDetail_; }

private:
    int openDevice();
    void closeDevice();
    int applyModemLine(int line, bool on);
    // Reads what the terminal holds (up to kReadRound) into pending_. False
    // when the device is gone.
    bool readRound(qsizetype& got);
    // `gated`: the read gate has run out (not the notifier).
    void onReadable(bool gated);
    void onWritable();
    void afterRead(qsizetype got, bool alive);
    void deliverReceive();
    void postReceiveEvent();
    void deviceLost();
    bool flushOutput();

    QByteArray programDir_;
    QByteArray devicePath_;
    QString failureDetail_;
    dev_t hungUp_ = 0; // the terminal last lost through a hang-up
    FileDescriptor fd_;
    DeviceLock lock_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    QTimer readGate_;
    QElapsedTimer lastBytes_; // since bytes were last read
    QByteArray pending_;      // received, not yet taken by the core
    QByteArray outgoing_;     // written by the core, not yet taken by the terminal
    int commPort_ = 1;
    int inputLen_ = 0;
    int commEvent_ = 0;
    int lastError_ = 0;
    LineSettings line_;
    FlowControl flow_ = FlowControl::None;
    bool dtr_ = false;
    bool rts_ = false;
    int rThreshold_ = 0;         // 0 = no receive events (as the MSComm control)
    bool receivePosted_ = false; // a receive event is queued and has not run yet
    bool delivering_ = false;    // the core's handler runs
};

} // namespace qm
