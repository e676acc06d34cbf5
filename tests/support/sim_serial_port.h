#pragma once

#include "device/serial_port.h"
#include "tests/support/sim_event_loop.h"

#include <functional>
#include <string>
#include <vector>

namespace qm::test {

// A serial port on the simulated clock. What the core writes is recorded with
// its time; what a test or a simulated device sends arrives as a receive event
// at the time it is scheduled for.
class SimSerialPort final : public SerialPort {
public:
    explicit SimSerialPort(SimEventLoop& loop) : loop_(loop) {}

    int setCommPort(int number) override;
    int setSettings(const std::string& text) override;
    int setHandshaking(int mode) override;
    bool portOpen() const override { return open_; }
    int setPortOpen(bool open) override;
    int setDTREnable(bool on) override;
    int setRTSEnable(bool on) override;
    void setRThreshold(int count) override { rThreshold = count; }
    void setInputLen(int count) override { inputLen = count; }
    int output(const std::string& bytes) override;
    std::string input() override;
    std::string inputAll() override;
    int inBufferCount() const override { return static_cast<int>(pending_.size()); }
    int commEvent() const override { return commEvent_; }
    int lastError() const override { return lastError_; }

    // Test side ------------------------------------------------------------
    struct Write {
        Millis at;
        std::string bytes;
    };
    // Bytes from the device, arriving as one receive event at `at`.
    void receiveAt(Millis at, std::string bytes);
    void receive(std::string bytes) { receiveAt(loop_.now(), std::move(bytes)); }
    // The adapter is unplugged at `at`: the port closes and reports it.
    void loseDeviceAt(Millis at);
    // Everything written so far, as one string.
    std::string written() const;

    // Failures the next calls give (0 = succeed).
    int openError = 0;
    int settingsError = 0;
    // Called after each successful write with the bytes written.
    std::function<void(const std::string&)> onWrite;

    // What the core configured.
    int commPort = 0;
    std::string settings;
    int handshaking = -1;
    bool dtr = true, rts = true;
    int rThreshold = 0, inputLen = 0;
    int openCount = 0, closeCount = 0;
    std::vector<Write> writes;

private:
    SimEventLoop& loop_;
    bool open_ = false;
    std::string pending_;
    int commEvent_ = 0;
    int lastError_ = 0;
};

} // namespace qm::test
