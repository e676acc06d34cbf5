// What observes the core and what lies beside it: the publishing
// configuration and payloads, the port chooser's lists and links.
#include "device/port_list.h"
#include "publish/mqtt_config.h"
#include "tests/support/app_fixture.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::test {
namespace {

TEST(Publish, ConfigurationFileKeysDefaultsAndErrorsNamingTheKey)
{
    AppFixture fx;
    fx.write("password", "s3cret\nignored\n");
    ::chmod(QFile::encodeName(fx.path("password")), 0600);
    const QByteArray secret = "password_file = " + QFile::encodeName(fx.path("password")) + "\n";
    const struct {
        QByteArray file;
        const char* result; // port tls qos ha client prefix password unknown, or the error
    } cases[] = {
        {"[broker]\nhost = b\n", "1883 0 1 0 quellmark-h-pump quellmark/h/pump - "},
        {"[broker]\nhost = b\ntls = true\nclient_id = c\n" + secret +
             "[topics]\nprefix = a/b\nqos = 2\nhomeassistant = TRUE\n",
         "8883 1 2 1 c a/b s3cret "},
        {"[broker]\nhost = b\nport = 1884\ncolour = red\n[topics]\nqos = 0\n",
         "1884 0 0 0 quellmark-h-pump quellmark/h/pump - broker/colour"},
        {"[broker]\nport = 1884\n", "mqtt.conf: broker/host is missing"},
        {"[broker]\nhost = b\nport = 70000\n",
         "mqtt.conf: broker/port must be a whole number from 1 to 65535, not \"70000\""},
        {"[broker]\nhost = b\n[topics]\nqos = 3\n",
         "mqtt.conf: topics/qos must be a whole number from 0 to 2, not \"3\""},
        {"[broker]\nhost = b\ntls = yes\n",
         "mqtt.conf: broker/tls must be true or false, not \"yes\""},
        {"[broker]\nhost = b\nca_file = /nowhere/ca.pem\n",
         "mqtt.conf: broker/ca_file /nowhere/ca.pem cannot be read"},
    };
    for (const auto& c : cases) {
        fx.write("mqtt.conf", c.file);
        const MqttSetup s = readMqttConfig(fx.path("mqtt.conf"), "h", "pump");
        const auto& k = s.config;
        EXPECT_EQ(!k ? s.error
                     : QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                           .arg(k->port)
                           .arg(k->tls)
                           .arg(k->qos)
                           .arg(k->homeAssistant)
                           .arg(k->clientId, k->prefix, k->password.isEmpty() ? "-" : k->password,
                                k->unknownKeys.join(' ')),
                  c.result)
            << c.file.data();
    }
    ::chmod(QFile::encodeName(fx.path("password")), 0640);
    fx.write("mqtt.conf", "[broker]\nhost = b\n" + secret);
    EXPECT_TRUE(readMqttConfig(fx.path("mqtt.conf"), "h", "pump")
                    .error.endsWith("may be read by others (chmod 600 it)"));
    EXPECT_FALSE(readMqttConfig(fx.path("none.conf"), "h", "pump").config);
}

TEST(Publish, ReadingsAsJsonAndHomeAssistantDiscovery)
{
    ChannelArray<Single> values{0, 23.4f, -0.5f, INFINITY, -INFINITY, 0, 0, 0, 1e7f}, limits{};
    ChannelArray<String> labels{"", "Tank",
                                "Pump \xB0"
                                "C"},
        colours{};
    const Reading r{QDateTime(QDate(2026, 3, 12), QTime(8, 15, 2), QTimeZone(3600)),
                    values,
                    {false, false, true},
                    labels,
                    colours,
                    limits,
                    limits,
                    2};
    EXPECT_EQ(readingJson(r), "{\"alarms\":[false,true,false,false,false,false,false,false],"
                              "\"labels\":[\"Tank\",\"Pump \xC2\xB0"
                              "C\",\"\",\"\",\"\",\"\",\"\",\"\"],"
                              "\"time\":\"2026-03-12T08:15:02+01:00\","
                              "\"values\":[23.4,-0.5,\"INF\",\"-INF\",0,0,0,10000000]}");
    EXPECT_EQ(valuePayload(-INFINITY), "-INF");
    MqttConfig c;
    c.prefix = "qm/p";
    const auto [topic, config] = discovery(c, "quellmark_h_pump.v2", 3, "Tank", true);
    EXPECT_EQ(topic, "homeassistant/binary_sensor/quellmark_h_pump_v2_V03_alarm/config");
    EXPECT_EQ(
        config,
        "{\"availability_topic\":\"qm/p/"
        "status\",\"device\":{\"identifiers\":[\"quellmark_h_pump.v2\"],"
        "\"name\":\"quellmark_h_pump.v2\"},\"device_class\":\"problem\",\"name\":\"Tank alarm\","
        "\"payload_off\":\"0\",\"payload_on\":\"1\",\"state_topic\":\"qm/p/V03/alarm\","
        "\"unique_id\":\"quellmark_h_pump_v2_V03_alarm\"}");
}

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
    ::chmod(root + "/dev/ttyUSB1", 0660);
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
    EXPECT_TRUE(error.startsWith("Cannot make port link ")) << error.toStdString();
    EXPECT_EQ(portLinks(root).at(0).target, dev + "ttyUSB1");
    EXPECT_FALSE(makePortLink(root + "/dev/ttyS0", 1, dev, error)); // no folder can be made there
    EXPECT_EQ(portListText(links, {devices[0]}),
              "COM ports:\n  COM2 -> " + dev + "ttyUSB1\n  COM3 -> " + dev +
                  "ttyUSB1\n  COM7 -> /gone (missing)\nSerial devices:\n  " + dev + "ttyUSB0  " +
                  dev + "serial/by-id/usb-FTDI_A1-port0  FT232R  FTDI  A1\n");
}

} // namespace
} // namespace qm::test
