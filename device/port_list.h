#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace qm {

// A serial device present on the system, as the port chooser and
// --list-ports show it.
struct SerialDevice {
    QString path;       // /dev/ttyUSB0
    QString stableName; // /dev/serial/by-id/usb-FTDI_..., empty when there is none
    QString description, manufacturer, serialNumber;
    QString problem; // why the user may not open it, empty when they may
};

// A ports/com<n> link of a program directory.
struct PortLink {
    int number = 0;
    QString target; // where it points
    bool dangling = false;
};

// The devices found: the system's list of serial ports (`found`, path and
// what it says of itself) with their stable names from <devRoot>/serial/by-id,
// and whether this user may open them.
std::vector<SerialDevice> describeDevices(std::vector<SerialDevice> found,
                                          const QByteArray& devRoot);
// The ports/com<n> links of a program directory, by number.
std::vector<PortLink> portLinks(const QByteArray& programDir);
// Makes ports/com<n> a link to `target` in one step (an older link of that
// number replaced). On failure nothing is changed and `error` says why.
bool makePortLink(const QByteArray& programDir, int number, const QString& target, QString& error);
// One device in a line: its path, stable name, description, maker, serial
// number and what keeps the user from opening it, two blanks apart.
QString deviceText(const SerialDevice& d);
// The list as text: the links, then the devices.
QString portListText(const std::vector<PortLink>& links, const std::vector<SerialDevice>& devices);

} // namespace qm
