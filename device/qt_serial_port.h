#pragma once

#include "device/serial_port.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

namespace qm {

// COM port number n as a device path. Where the program directory has a
// ports/ folder, that folder is the whole map: COM n is the device that
// ports/com<n> (usually a symbolic link) leads to, and an absent or dangling
// link gives an empty path (no such port). Without the folder COM n is
// /dev/ttyS<n-1>.
QString devicePathForComPort(const QByteArray& programDir, int number);

// The serial layer over QSerialPort. Received bytes raise the port's event on
// the thread of the event loop. After bytes have been taken, the port is not
// read again for kReadGateMs: a device that sends line after line then wakes
// the program once for all the lines of that time instead of once a line.
// With the window's own frame (25 ms) a line is on screen within 50 ms.
class QtSerialPort final : public QObject, public SerialPort {
    Q_OBJECT
public:
    static constexpr int kReadGateMs = 20;
    static constexpr qsizetype kTrickle = 1024;    // more in one gate: read every round
    static constexpr qsizetype kReadRound = 32768; // bytes read in one round

    explicit QtSerialPort(QByteArray programDir);
    ~QtSerialPort() override;

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

private:
    // The four fields of a settings text, parsed.
    struct LineSettings {
        qint32 baud = 9600;
        QSerialPort::Parity parity = QSerialPort::NoParity;
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    };
    static bool parseSettings(const std::string& text, LineSettings& out);
    // Hands the line settings and flow control to port_ (stored while closed,
    // applied at once while open). False if the open device refused one.
    bool applyLineSettings();
    // Sets a modem-control line; a device without one is not an error.
    int applyModemLine(bool dtr, bool on);
    int openErrorNumber(QSerialPort::SerialPortError error, const QString& path) const;

    void onReadyRead();
    void onPortError(QSerialPort::SerialPortError error);
    void postReceiveEvent();
    void deliverReceive();
    void deviceLost();
    void findReadNotifier();
    void closeReadGate();
    void readAfterGate();

    QByteArray programDir_;
    QSerialPort port_;
    QByteArray pending_; // received, not yet taken by the core
    int commPort_ = 1;
    int inputLen_ = 0;
    int commEvent_ = 0;
    int lastError_ = 0;

    LineSettings line_;
    QSerialPort::FlowControl flow_ = QSerialPort::NoFlowControl;
    bool dtr_ = false;
    bool rts_ = false;
    int rThreshold_ = 0;                     // 0 = no receive events (as the MSComm control)
    bool receivePosted_ = false;             // a receive event is queued and has not run yet
    bool delivering_ = false;                // the core's handler runs from readyRead
    QPointer<QSocketNotifier> readNotifier_; // QSerialPort's own, while open
    QTimer readGate_;
};

} // namespace qm
