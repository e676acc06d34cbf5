#pragma once

#include "tests/support/sim_serial_port.h"

#include <array>
#include <set>
#include <string>

namespace qm::test {

// The measuring device on a simulated port: answers the recognition request
// and the value requests after `delayMs`, unless silent.
class SimDevice {
public:
    SimDevice(SimEventLoop& loop, SimSerialPort& port, std::string id = "");

    std::string id;
    std::array<std::string, 9> values{"", "1", "2", "3", "4", "5", "6", "7", "8"};
    std::set<int> unanswered;
    Millis delayMs = 30;
    bool silent = false;
    std::vector<std::string> requests; // frames received, without CR

private:
    void onBytes(const std::string& bytes);
    void answer(const std::string& frame);

    SimEventLoop& loop_;
    SimSerialPort& port_;
    std::string frame_;
};

} // namespace qm::test
