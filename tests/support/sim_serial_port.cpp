#include "tests/support/sim_serial_port.h"

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
    if (settingsError)
        return settingsError;
    settings = text;
    return 0;
}

int SimSerialPort::setHandshaking(int mode)
{
    handshaking = mode;
    return 0;
}

int SimSerialPort::setPortOpen(bool open)
{
    if (open == open_)
        return 0;
    if (open) {
        if (openError)
            return openError;
        ++openCount;
    } else {
        ++closeCount;
        pending_.clear();
    }
    open_ = open;
    return 0;
}

int SimSerialPort::setDTREnable(bool on)
{
    dtr = on;
    return 0;
}

int SimSerialPort::setRTSEnable(bool on)
{
    rts = on;
    return 0;
}

int SimSerialPort::output(const std::string& bytes)
{
    if (!open_)
        return comm_error::kPortNotOpen;
    writes.push_back({loop_.now(), bytes});
    if (onWrite)
        onWrite(bytes);
    return 0;
}

std::string SimSerialPort::input()
{
    const std::size_t n =
        inputLen <= 0 ? pending_.size() : std::min<std::size_t>(pending_.size(), inputLen);
    std::string out = pending_.substr(0, n);
    pending_.erase(0, n);
    return out;
}

std::string SimSerialPort::inputAll()
{
    std::string out;
    out.swap(pending_);
    return out;
}

void SimSerialPort::receiveAt(Millis at, std::string bytes)
{
    loop_.postAt(at, [this, bytes = std::move(bytes)] {
        if (!open_)
            return; // nobody listens on a closed port
        pending_ += bytes;
        commEvent_ = comm_event::kReceive;
        raiseOnComm();
    });
}

void SimSerialPort::loseDeviceAt(Millis at)
{
    loop_.postAt(at, [this] {
        if (!open_)
            return;
        open_ = false;
        ++closeCount;
        pending_.clear();
        lastError_ = comm_error::kDeviceLost;
        commEvent_ = comm_event::kDeviceLost;
        raiseOnComm();
    });
}

std::string SimSerialPort::written() const
{
    std::string all;
    for (const auto& w : writes)
        all += w.bytes;
    return all;
}

} // namespace qm::test
