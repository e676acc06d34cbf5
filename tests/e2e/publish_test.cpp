// Publishing to a real mosquitto broker on 127.0.0.1, with a real subscriber,
// and a proxy of the test's own (mqtt_proxy.py) where a line must break.
#include "tests/e2e/harness.h"

#include <QTcpServer>

#include <csignal>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace qm::e2e {
namespace {

int freePort()
{
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost) ? s.serverPort() : 0;
}

// A persistent broker logging to broker.log; a subscriber writing "topic
// payload" lines to "received".
class PublishTest : public E2eTest {
protected:
    // Runs `command`, then gives it a moment to be ready.
    QProcess& start(const QByteArray& command, const char* out)
    {
        QProcess& p = run(command, dir.filePath(out));
        std::this_thread::sleep_for(300ms);
        return p;
    }
    // As this user (as root it would drop to "mosquitto").
    QProcess& startBroker(const QByteArray& listener = "127.0.0.1\n")
    {
        writeAll(dir.filePath("mosquitto.conf"),
                 "user " + QByteArray(::getpwuid(::getuid())->pw_name) + "\npersistence true\n" +
                     "persistence_location " + path + "/\nallow_anonymous true\nlog_dest file " +
                     path + "/broker.log\n" + "log_type all\nlistener " + number(brokerPort) + ' ' +
                     listener);
        return start("mosquitto -c '" + path + "/mosquitto.conf'", "broker.out");
    }
    void subscribe()
    {
        start("mosquitto_sub -h 127.0.0.1 -p " + number(brokerPort) +
                  " -t 'qm/#' -v -q 1 -c -i sub",
              "received");
    }
    // The program connects to proxyPort.
    void startProxy(const QByteArray& option)
    {
        start("python3 '" QM_PROXY_PATH "' --listen " + number(proxyPort) + " --broker " +
                  number(brokerPort) + ' ' + option,
              "proxy");
    }
    void configure(const QByteArray& lines, int port = 0)
    {
        writeAll(dir.filePath("mqtt.conf"),
                 "[broker]\nhost = 127.0.0.1\nport = " + number(port ? port : brokerPort) + "\n" +
                     lines + (lines.contains("[topics]") ? "" : "[topics]\n") + "prefix = qm/p\n");
    }
    QByteArray file(const char* name) const { return readAll(dir.filePath(name)); }
    // The payloads received on qm/p/<topic>.
    QList<QByteArray> received(const QByteArray& topic) const
    {
        QList<QByteArray> out;
        for (const QByteArray& line : file("received").split('\n'))
            if (line.startsWith("qm/p/" + topic + ' '))
                out << line.mid(topic.size() + 6);
        return out;
    }
    static QByteArray number(int n) { return QByteArray::number(n); }
    int brokerPort = freePort(), proxyPort = freePort();
};

// Readings taken while the broker was away go out in order once it is back;
// a PUBREL lost with the connection is sent again; a close at 100 lines/s
// publishes the last reading, "offline", then a clean DISCONNECT.
TEST_F(PublishTest, NothingIsLostAcrossARestartALostPubrelOrAtACloseUnderLoad)
{
    QProcess* broker = &startBroker();
    subscribe();
    startProxy("--drop-pubrel 40");
    configure("[topics]\nqos = 2\n", proxyPort);
    startSim({"--link", port(1), "--continuous", "100", "--seed", "2"});
    QProcess& app = startApp("quellmark", {});
    ASSERT_TRUE(waitUntil([&] { return received("reading").size() >= 100; }, 10s))
        << file("quellmark.out");
    EXPECT_TRUE(file("proxy").contains("dropped PUBREL"));
    stop(*broker, SIGTERM);
    std::this_thread::sleep_for(2s); // readings queue meanwhile
    broker = &startBroker();
    ASSERT_TRUE(waitUntil([&] { return received("reading").size() >= 450; }, 20s));
    EXPECT_EQ(stop(app, SIGTERM), 0);
    std::this_thread::sleep_for(500ms);
    // Only the subscriber's own QoS 1 may bring a message twice.
    const std::vector<QByteArray> lines = log("quellmark");
    const QList<QByteArray> readings = received("reading");
    std::size_t i = 0;
    for (const QByteArray& r : readings)
        i += i < lines.size() && r.contains("\"values\":[" + lines[i].mid(11).trimmed() + ']');
    EXPECT_EQ(i, lines.size()) << "published in order up to "
                               << lines[std::min(i, lines.size() - 1)];
    EXPECT_EQ(received("status").last(), "offline");
    stop(*broker, SIGTERM); // its log written out
    EXPECT_TRUE(file("broker.log").contains("Received DISCONNECT from quellmark-"))
        << file("quellmark.out");
}

// TLS verified against the CA, after handshakes a proxy broke off; the
// system's CAs (not ours) and a closed port are reported once while tries go on.
TEST_F(PublishTest, TlsIsVerifiedAndEveryFailureIsTriedAgain)
{
    const QString req = "openssl req -newkey rsa:2048 -nodes -days 1 -keyout ";
    ASSERT_EQ(QProcess::execute(
                  "/bin/sh",
                  {"-c", "exec 2>/dev/null; cd '" + dir.path() + "' && " + req +
                             "ca.key -x509 -subj /CN=CA -out ca.pem &&" + req +
                             "server.key -subj /CN=127.0.0.1 -out s.csr && printf "
                             "subjectAltName=IP:127.0.0.1 >san && openssl x509 -req -in s.csr -CA "
                             "ca.pem -CAkey ca.key -CAcreateserial -extfile san -out server.pem"}),
              0);
    startBroker("127.0.0.1\ncafile " + path + "/ca.pem\ncertfile " + path +
                "/server.pem\nkeyfile " + path + "/server.key\n");
    startProxy("--close-first 2");
    const std::pair<const char*, QByteArray> instances[] = {
        {"good", "tls = true\nca_file = " + path + "/ca.pem\n"},
        {"system", "tls = true\n"},
        {"closed", {}}};
    for (const auto& [name, lines] : instances) {
        configure(lines, name[0] == 'g' ? proxyPort : name[0] == 'c' ? freePort() : 0);
        startApp(name, {}); // started on its own mqtt.conf
        ASSERT_TRUE(
            waitUntil([&] { return file(name + QByteArray(".out")).contains("MQTT"); }, 5s));
    }
    const auto out = [&](const char* name) { return file(name + QByteArray(".out")); };
    EXPECT_TRUE(waitUntil([&] { return out("good").contains(": connected"); }, 15s)) << out("good");
    EXPECT_TRUE(file("proxy").contains("closed connection 2"));
    EXPECT_TRUE(
        waitUntil([&] { return out("system").contains("not connected: OpenSSL Error"); }, 10s))
        << out("system");
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(out("closed").count("not connected: Connection refused"), 1) << out("closed");
    EXPECT_EQ(out("system").count(": connected"), 0) << "our CA is not among the system's";
}

// A Home Assistant device of two channels: their sensors, those of the
// channels not read removed, a last will when the program is killed.
// (Same-named instances in two folders differ by their client id.)
TEST_F(PublishTest, HomeAssistantSeesTheChannelsReadAndTheInstanceGoneOffline)
{
    startBroker();
    subscribe();
    configure("[topics]\nhomeassistant = true\ndiscovery_prefix = qm/p/ha\n");
    startSim({"--link", port(1), "--continuous", "5"});
    QProcess& app = startApp("pump", {.rvnr = 2});
    const auto configs = [&](const char* object) { return file("received").count(object); };
    ASSERT_TRUE(waitUntil([&] { return configs("/V03/config (null)") == 1; }, 15s))
        << file("received");
    EXPECT_EQ(configs("\"state_topic\":\"qm/p/reading\""), 2) << "V01, V02";
    EXPECT_EQ(configs("/V08/config (null)"), 1) << "V08 removed";
    stop(app, SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return received("status").last() == "offline"; }, 10s));
}

} // namespace
} // namespace qm::e2e
