#pragma once

#include "device/serial_port.h"
#include "tests/support/sim_event_loop.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace qm::test {

using Writes = std::vector<std::pair<Millis, std::string>>;

// A serial port on the simulated clock with the device behind it. While
// `answering`, it answers "<id>AT" with "<id>OK" and "<id>V0n" with
// "<id>V0n=<values[n]>" after 30 ms.
class SimSerialPort final : public SerialPort {
public:
    explicit SimSerialPort(SimEventLoop& loop)
        : loop_(loop)
    {
    }
    int setCommPort(int number) override;
    int setSettings(const std::string& text) override;
    int setHandshaking(int mode) override
    {
        handshaking = mode;
        return 0;
    }
    bool portOpen() const override { return open_; }
    int setPortOpen(bool open) override;
    int setDTREnable(bool on) override
    {
        dtr = on;
        return 0;
    }
    int setRTSEnable(bool on) override
    {
        rts = on;
        return 0;
    }
    void setRThreshold(int count) override { rThreshold = count; }
    void setInputLen(int) override {}
    int output(const std::string& bytes) override;
    std::string input() override { return inputAll(); }
    std::string inputAll() override { return std::exchange(pending_, {}); }
    int inBufferCount() const override { return static_cast<int>(pending_.size()); }
    int commEvent() const override { return commEvent_; }
    int lastError() const override { return comm_error::kDeviceLost; }
    QByteArray devicePath() const override
    {
        return "/dev/ttyS" + QByteArray::number(commPort - 1);
    }
    QString failureDetail() const override { return detail; }

    void receiveAt(Millis at, std::string bytes);
    void loseDeviceAt(Millis at); // the adapter is unplugged: closed and reported
    Writes valueRequests() const; // (time, "V0n")

    bool answering = false;
    std::string id;
    std::array<std::string, 9> values{"", "1", "2", "3", "4", "5", "6", "7", "8"};
    int openError = 0, settingsError = 0, outputError = 0; // what the next calls give
    QString detail;                                        // of their failures
    int commPort = 0, handshaking = -1, rThreshold = 0, openCount = 0;
    std::string settings;
    bool dtr = true, rts = true;
    Writes writes;

private:
    SimEventLoop& loop_;
    bool open_ = false;
    std::string pending_;
    int commEvent_ = 0;
};

} // namespace qm::test
