// The publishing configuration and payloads.
#include "publish/mqtt_config.h"
#include "tests/support/app_fixture.h"

#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qm::test {
namespace {

TEST(Publish, ConfigurationFileKeysDefaultsAndErrorsNamingTheKey)
{
    AppFixture fx;
    QFile password(fx.path("password"));
    password.open(QIODevice::WriteOnly);
    password.write("s3cret\nignored\n");
    password.close();
    ::chmod(QFile::encodeName(fx.path("password")), 0600);
    const QByteArray secret = "password_file = " + QFile::encodeName(fx.path("password")) + "\n";
    const struct {
        QByteArray file;
        const char* result; // port tls qos ha client prefix password unknown, or the error
    } cases[] = {
        {"[broker]\nhost = b\n", "1883 0 1 0 quellmark-h-pump quellmark/h/pump - "},
        {"[broker]\nhost = b\ntls = true\nclient_id = c\n" + secret + "[topics]\nprefix = a/b\nqos = 2\nhomeassistant = TRUE\n",
         "8883 1 2 1 c a/b s3cret "},
        {"[broker]\nhost = b\nport = 1884\ncolour = red\n[topics]\nqos = 0\n", "1884 0 0 0 quellmark-h-pump quellmark/h/pump - broker/colour"},
        {"[broker]\nport = 1884\n", "mqtt.conf: broker/host is missing"},
        {"[broker]\nhost = b\nport = 70000\n", "mqtt.conf: broker/port must be a whole number from 1 to 65535, not \"70000\""},
        {"[broker]\nhost = b\n[topics]\nqos = 3\n", "mqtt.conf: topics/qos must be a whole number from 0 to 2, not \"3\""},
        {"[broker]\nhost = b\ntls = yes\n", "mqtt.conf: broker/tls must be true or false, not \"yes\""},
        {"[broker]\nhost = b\nca_file = /nowhere/ca.pem\n", "mqtt.conf: broker/ca_file /nowhere/ca.pem cannot be read"},
    };
    for (const auto& c : cases) {
        QFile conf(fx.path("mqtt.conf"));
        conf.open(QIODevice::WriteOnly | QIODevice::Truncate);
        conf.write(c.file);
        conf.close();
        const MqttSetup s = readMqttConfig(fx.path("mqtt.conf"), "h", "pump");
        QString result = s.error;
        if (s.config)
            result = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                         .arg(s.config->port).arg(s.config->tls).arg(s.config->qos).arg(s.config->homeAssistant)
                         .arg(s.config->clientId, s.config->prefix, s.config->password.isEmpty() ? "-" : s.config->password,
                              s.config->unknownKeys.join(' '));
        EXPECT_EQ(result, c.result) << c.file.data();
    }
    ::chmod(QFile::encodeName(fx.path("password")), 0640);
    QFile conf(fx.path("mqtt.conf"));
    conf.open(QIODevice::WriteOnly | QIODevice::Truncate);
    conf.write("[broker]\nhost = b\n" + secret);
    conf.close();
    EXPECT_TRUE(readMqttConfig(fx.path("mqtt.conf"), "h", "pump").error.endsWith("may be read by others (chmod 600 it)"));
    EXPECT_FALSE(readMqttConfig(fx.path("none.conf"), "h", "pump").config);
}

TEST(Publish, ReadingsAsJsonAndHomeAssistantDiscovery)
{
    ChannelArray<Single> values{0, 23.4f, -0.5f, INFINITY, -INFINITY, 0, 0, 0, 1e7f}, limits{};
    ChannelArray<String> labels{"", "Tank", "Pump \xB0" "C"}, colours{};
    const Reading r{QDateTime(QDate(2026, 3, 12), QTime(8, 15, 2), QTimeZone(3600)), values,
                    {false, false, true}, labels, colours, limits, limits, 2};
    EXPECT_EQ(readingJson(r), "{\"alarms\":[false,true,false,false,false,false,false,false],"
                              "\"labels\":[\"Tank\",\"Pump \xC2\xB0" "C\",\"\",\"\",\"\",\"\",\"\",\"\"],"
                              "\"time\":\"2026-03-12T08:15:02+01:00\","
                              "\"values\":[23.4,-0.5,\"INF\",\"-INF\",0,0,0,10000000]}");
    EXPECT_EQ(valuePayload(-INFINITY), "-INF");
    MqttConfig c;
    c.prefix = "qm/p";
    const auto [topic, config] = discovery(c, "quellmark_h_pump.v2", 3, "Tank", true);
    EXPECT_EQ(topic, "homeassistant/binary_sensor/quellmark_h_pump_v2_V03_alarm/config");
    EXPECT_EQ(config, "{\"availability_topic\":\"qm/p/status\",\"device\":{\"identifiers\":[\"quellmark_h_pump.v2\"],"
                      "\"name\":\"quellmark_h_pump.v2\"},\"device_class\":\"problem\",\"name\":\"Tank alarm\","
                      "\"payload_off\":\"0\",\"payload_on\":\"1\",\"state_topic\":\"qm/p/V03/alarm\","
                      "\"unique_id\":\"quellmark_h_pump_v2_V03_alarm\"}");
}

} // namespace
} // namespace qm::test
