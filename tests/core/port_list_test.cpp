// What lies beside the core: the port chooser's lists and links.
#include "device/port_list.h"
#include "tests/support/app_fixture.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::test {
namespace {

TEST(PortList, DevicesWithStableNamesAndTheLinksOfTheProgramDirectory)
{
    AppFixture fx;
    const QByteArray root = QFile::encodeName(fx.tmp.path());
    ASSERT_EQ(::mkdir(root + "/dev", 0755) | ::mkdir(root + "/dev/serial", 0755) |
                  ::mkdir(root + "/dev/serial/by-id", 0755),
              0);
    for (const char* tty : {"ttyUSB0", "ttyUSB1", "ttyS0"}) // nobody may open ttyS0 but root
        ::close(::open(root + "/dev/" + tty, O_CREAT | O_WRONLY, 0));
    ::chmod(root + "/dev/ttyUSB0", 0660);
    ::symlink("../../ttyUSB0", root + "/dev/serial/by-id/usb-FTDI_A1-port0");
    const QString dev = QFile::decodeName(root + "/dev/");
    const auto devices = describeDevices({{dev + "ttyUSB0", {}, "FT232R", "FTDI", "A1", {}},
                                          {dev + "ttyUSB1", {}, "CP2102", "Silicon Labs", "", {}},
                                          {dev + "ttyS0", {}, {}, {}, {}, {}}},
                                         root + "/dev");
    EXPECT_EQ(devices[0].stableName, dev + "serial/by-id/usb-FTDI_A1-port0");
    EXPECT_TRUE(devices[1].stableName.isEmpty());
    EXPECT_EQ(devices[2].problem.isEmpty(), ::geteuid() == 0); // root opens anything

    // Links: made, replaced in one step (a dangling old one too), refused.
    QString error;
    EXPECT_TRUE(makePortLink(root, 3, devices[0].stableName, error));
    ::symlink("/gone", root + "/ports/com7");
    EXPECT_TRUE(makePortLink(root, 2, dev + "ttyUSB1", error));
    EXPECT_TRUE(makePortLink(root, 3, dev + "ttyUSB1", error));
    const auto links = portLinks(root);
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0].number, 2);
    EXPECT_EQ(links[0].target, dev + "ttyUSB1");
    EXPECT_FALSE(links[0].dangling);
    EXPECT_EQ(links[1].number, 3);
    EXPECT_EQ(links[1].target, dev + "ttyUSB1") << "COM3 replaced";
    EXPECT_TRUE(links[2].dangling) << "COM7 points at nothing";
    // A folder in the way of the new link: refused, the old one stays.
    ::mkdir(root + "/ports/com2.new", 0755);
    EXPECT_FALSE(makePortLink(root, 2, dev + "ttyUSB0", error));
    EXPECT_TRUE(error.startsWith("Cannot make port link ")) << error;
    EXPECT_EQ(portLinks(root).at(0).target, dev + "ttyUSB1");
    EXPECT_FALSE(makePortLink(root + "/dev/ttyS0", 1, dev, error)); // no folder can be made there
    EXPECT_EQ(portListText(links, {devices[0]}),
              "COM ports:\n  COM2 -> " + dev + "ttyUSB1\n  COM3 -> " + dev +
                  "ttyUSB1\n  COM7 -> /gone (missing)\nSerial devices:\n  " + dev + "ttyUSB0  " +
                  dev + "serial/by-id/usb-FTDI_A1-port0  FT232R  FTDI  A1\n");
}

} // namespace
} // namespace qm::test
