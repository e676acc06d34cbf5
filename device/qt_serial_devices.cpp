#include "device/qt_serial_devices.h"

#include <QSerialPortInfo>

namespace qm {

std::vector<SerialDevice> systemSerialDevices()
{
    std::vector<SerialDevice> found;
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts())
        found.push_back(
            {p.systemLocation(), {}, p.description(), p.manufacturer(), p.serialNumber(), {}});
    return describeDevices(std::move(found), "/dev");
}

} // namespace qm
