#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>

namespace qm {

// Error numbers of the serial layer, shown to the user in the status line.
// 8002 and 8005 have fixed meanings; the others are this layer's own and are
// listed in the README.
namespace comm_error {
inline constexpr int kNone = 0;
inline constexpr int kInvalidPort = 8002;       // the mapped device does not exist
inline constexpr int kPortInUse = 8005;         // another program holds the port
inline constexpr int kPermission = 8010;        // no permission to open the device
inline constexpr int kBadSettings = 8015;       // a line-settings text the port cannot use
inline constexpr int kPortNotOpen = 8018;       // operation valid only while the port is open
inline constexpr int kPortOpenCannotSet = 8019; // port number changed while the port is open
inline constexpr int kWriteFailed = 8020;       // the device did not take the bytes
inline constexpr int kDeviceLost = 8021;        // I/O error on an open port (adapter unplugged)
inline constexpr int kOpenFailed = 8029;        // any other failure to open the device
} // namespace comm_error

// Communication event codes reported by commEvent().
namespace comm_event {
inline constexpr int kReceive = 2;       // characters received
inline constexpr int kDeviceLost = 1021; // the layer closed the port after an I/O error
} // namespace comm_event

// The serial port as the core uses it. Every operation that can fail returns
// 0 on success or an error number from comm_error.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // The port the next opening uses (1 = first port). Only while closed.
    virtual int setCommPort(int number) = 0;
    // "<baud>,<parity>,<data bits>,<stop bits>", e.g. "9600,n,8,1". Accepted
    // while open too, effective at once.
    virtual int setSettings(const std::string& text) = 0;
    // 0 = no flow control.
    virtual int setHandshaking(int mode) = 0;

    virtual bool portOpen() const = 0;
    virtual int setPortOpen(bool open) = 0;

    // Modem-control lines. A device without them is not an error.
    virtual int setDTREnable(bool on) = 0;
    virtual int setRTSEnable(bool on) = 0;

    // Receive event as soon as this many characters wait (1).
    virtual void setRThreshold(int count) = 0;
    // The most characters one input() returns; 0 = all waiting.
    virtual void setInputLen(int count) = 0;

    // Writes the bytes in order, one byte per character.
    virtual int output(const std::string& bytes) = 0;
    // Removes and returns waiting characters, at most InputLen of them.
    virtual std::string input() = 0;
    // Removes and returns every waiting character. Same result as calling
    // input() until inBufferCount() is 0.
    virtual std::string inputAll() = 0;
    virtual int inBufferCount() const = 0;

    // Code of the event being reported (comm_event).
    virtual int commEvent() const = 0;
    // The error number behind a kDeviceLost event.
    virtual int lastError() const = 0;
    // The device the last opening tried (or holds), for messages; empty when
    // the port number leads to no device.
    virtual QByteArray devicePath() const = 0;
    // More on the last failure to open, for messages: what the port number
    // leads to when there is no device, what holds a device in use. Empty
    // when there is nothing more to say.
    virtual QString failureDetail() const { return {}; }

    // The port's event, raised on the event-loop thread, one at a time.
    void setOnComm(std::function<void()> handler) { onComm_ = std::move(handler); }
    // Asked by the port whether the core awaits a reply right now: while it
    // does, received bytes are taken as soon as they come.
    void setReplyAwaited(std::function<bool()> awaited) { replyAwaited_ = std::move(awaited); }

protected:
    void raiseOnComm()
    {
        if (onComm_)
            onComm_();
    }
    bool replyAwaited() const { return replyAwaited_ && replyAwaited_(); }

private:
    std::function<void()> onComm_;
    std::function<bool()> replyAwaited_;
};

} // namespace qm
