#pragma once

#include "device/port_list.h"

#include <vector>

namespace qm {

// The serial devices the system reports (QSerialPortInfo), described.
std::vector<SerialDevice> systemSerialDevices();

} // namespace qm
