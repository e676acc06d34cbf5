#include "tests/support/sim_serial_port.h"

#include <algorithm>

namespace qm::test {

int SimSerialPort::setCommPort(int number)
{
    if (open_)
        return comm_error::kPortOpenCannotSet;
    commPort = number;
    return 0;
}

int SimSerialPort::setSettings(const std::string& text)
{
    if (!settingsError)
        settings = text;
    return settingsError;
}

int SimSerialPort::setPortOpen(bool open)
{
    if (open && !open_ && openError)
        return openError;
    openCount += open && !open_;
    if (!open)
        pending_.clear();
    open_ = open;
    return 0;
}

int SimSerialPort::output(const std::string& bytes)
{
    if (!open_)
        return comm_error::kPortNotOpen;
    if (outputError)
        return outputError;
    writes.push_back({loop_.now(), bytes});
    std::string frame; // the device reads whole requests: CR, id, command, CR
    for (const char c : bytes) {
        if (c != '\r') {
            frame += c;
            continue;
        }
        const std::string cmd = frame.substr(std::min(id.size(), frame.size()));
        const int n = cmd.size() == 3 && cmd[0] == 'V' && cmd[1] == '0' ? cmd[2] - '0' : 0;
        if (answering && frame.starts_with(id) && cmd == "AT")
            receiveAt(loop_.now() + 30, id + "OK\r\n");
        else if (answering && frame.starts_with(id) && n >= 1 && n <= 8)
            receiveAt(loop_.now() + 30, id + cmd + "=" + values[n] + "\r\n");
        frame.clear();
    }
    return 0;
}

void SimSerialPort::receiveAt(Millis at, std::string bytes)
{
    loop_.postAt(at, [this, bytes = std::move(bytes)] {
        if (!open_)
            return;
        pending_ += bytes;
        commEvent_ = comm_event::kReceive;
        raiseOnComm();
    });
}

void SimSerialPort::loseDeviceAt(Millis at)
{
    loop_.postAt(at, [this] {
        if (std::exchange(open_, false)) {
            pending_.clear();
            commEvent_ = comm_event::kDeviceLost;
            raiseOnComm();
        }
    });
}

Writes SimSerialPort::valueRequests() const
{
    Writes out;
    for (const auto& [at, bytes] : writes)
        if (bytes.size() >= 5 && bytes[0] == '\r' && bytes.find("V0") != std::string::npos)
            out.push_back({at, bytes.substr(bytes.find("V0"), 3)});
    return out;
}

} // namespace qm::test
