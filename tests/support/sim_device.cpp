#include "tests/support/sim_device.h"

namespace qm::test {

SimDevice::SimDevice(SimEventLoop& loop, SimSerialPort& port, std::string deviceId)
    : id(std::move(deviceId)), loop_(loop), port_(port)
{
    port_.onWrite = [this](const std::string& bytes) { onBytes(bytes); };
}

void SimDevice::onBytes(const std::string& bytes)
{
    for (char c : bytes) {
        if (c != '\r') {
            frame_ += c;
            continue;
        }
        if (!frame_.empty()) {
            requests.push_back(frame_);
            answer(frame_);
        }
        frame_.clear();
    }
}

void SimDevice::answer(const std::string& frame)
{
    if (silent || frame.compare(0, id.size(), id) != 0)
        return;
    const std::string cmd = frame.substr(id.size());
    std::string reply;
    if (cmd == "AT") {
        reply = id + "OK";
    } else if (cmd.size() == 3 && cmd[0] == 'V' && cmd[1] == '0' && cmd[2] >= '1' && cmd[2] <= '8') {
        const int n = cmd[2] - '0';
        if (unanswered.count(n))
            return;
        reply = id + cmd + "=" + values[n];
    } else {
        return;
    }
    port_.receiveAt(loop_.now() + delayMs, reply + "\r\n");
}

} // namespace qm::test
