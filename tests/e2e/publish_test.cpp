// Publishing to a real mosquitto broker on 127.0.0.1, with a real subscriber,
// and a proxy of the test's own (mqtt_proxy.py) where a line must break.
#include "tests/e2e/harness.h"

#include <QDir>
#include <QSet>
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

// A broker of the test's own, logging all it does to broker.log, persistent
// so that a subscriber's session outlives a restart; a subscriber writing
// "topic payload" lines to "received".
class PublishTest : public E2eTest {
protected:
    void TearDown() override
    {
        for (QProcess* p : {&broker, &subscriber, &proxy})
            stop(*p, SIGTERM);
        E2eTest::TearDown();
    }
    void start(QProcess& p, const QString& program, const QStringList& args, const char* out)
    {
        p.setStandardOutputFile(dir.filePath(out), QIODevice::Append);
        p.start(program, args);
        ASSERT_TRUE(p.waitForStarted());
        std::this_thread::sleep_for(300ms);
    }
    // As this user: a broker started as root would drop to "mosquitto".
    void startBroker(const QByteArray& listener = "127.0.0.1\n")
    {
        writeAll(dir.filePath("mosquitto.conf"),
                 "user " + QByteArray(::getpwuid(::getuid())->pw_name) + "\npersistence true\n" +
                     "persistence_location " + path + "/\nallow_anonymous true\nlog_dest file " +
                     path + "/broker.log\n" + "log_type all\nlistener " +
                     QByteArray::number(brokerPort) + ' ' + listener);
        start(broker, "mosquitto", {"-c", dir.filePath("mosquitto.conf")}, "broker.out");
    }
    void subscribe()
    {
        start(subscriber, "mosquitto_sub",
              {"-h", "127.0.0.1", "-p", QString::number(brokerPort), "-t", "qm/#", "-v", "-q", "1",
               "-c", "-i", "sub"},
              "received");
    }
    // The program connects to proxyPort.
    void startProxy(const QString& option, const QString& n)
    {
        start(proxy, "python3",
              {QM_PROXY_PATH, "--listen", QString::number(proxyPort), "--broker",
               QString::number(brokerPort), option, n},
              "proxy");
    }
    void configure(const QByteArray& lines, int port = 0, const QByteArray& folder = {})
    {
        writeAll(
            QFile::decodeName((folder.isEmpty() ? path : folder) + "/mqtt.conf"),
            "[broker]\nhost = 127.0.0.1\nport = " + QByteArray::number(port ? port : brokerPort) +
                "\n" + lines + (lines.contains("[topics]") ? "" : "[topics]\n") +
                (lines.contains("prefix") ? "" : "prefix = qm/p\n"));
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
    int brokerPort = freePort(), proxyPort = freePort();
    QProcess broker, subscriber, proxy;
};

// Readings taken while the broker was away go out in order once it is back;
// at QoS 2 a PUBREL lost with the connection is sent again in the same
// session; a close at 100 lines/s publishes the last reading, then
// "offline", then a clean DISCONNECT (so the broker sends no last will).
TEST_F(PublishTest, NothingIsLostAcrossARestartALostPubrelOrAtACloseUnderLoad)
{
    startBroker();
    subscribe();
    startProxy("--drop-pubrel", "40");
    configure("[topics]\nqos = 2\n", proxyPort);
    startSim({"--link", port(1), "--continuous", "100", "--seed", "2"});
    QProcess& app = startApp("quellmark", {});
    ASSERT_TRUE(waitUntil([&] { return received("reading").size() >= 100; }, 10s))
        << file("quellmark.out").data();
    EXPECT_TRUE(file("proxy").contains("dropped PUBREL"));
    stop(broker, SIGTERM);
    std::this_thread::sleep_for(2s); // readings queue meanwhile
    startBroker();
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
                               << lines[std::min(i, lines.size() - 1)].data();
    EXPECT_EQ(received("status").last(), "offline");
    stop(broker, SIGTERM); // its log written out
    EXPECT_TRUE(file("broker.log").contains("Received DISCONNECT from quellmark-"))
        << file("quellmark.out").data();
}

// TLS with the broker's certificate checked against the CA, after handshakes
// broken off by a proxy; a wrong CA, the system's CAs and a closed port are
// reported, the reason kept (told once) while the tries go on.
TEST_F(PublishTest, TlsIsVerifiedAndEveryFailureIsTriedAgain)
{
    const QString req = "openssl req -newkey rsa:2048 -nodes -days 1 -keyout ";
    ASSERT_EQ(QProcess::execute(
                  "/bin/sh",
                  {"-c", "exec 2>/dev/null; cd '" + dir.path() + "' && " + req +
                             "ca.key -x509 -subj /CN=CA -out ca.pem &&" + req +
                             "o.key -x509 -subj /CN=O -out other.pem && " + req +
                             "server.key -subj /CN=127.0.0.1 -out s.csr && printf "
                             "subjectAltName=IP:127.0.0.1 >san && openssl x509 -req -in s.csr -CA "
                             "ca.pem -CAkey ca.key -CAcreateserial -extfile san -out server.pem"}),
              0);
    startBroker("127.0.0.1\ncafile " + path + "/ca.pem\ncertfile " + path +
                "/server.pem\nkeyfile " + path + "/server.key\n");
    startProxy("--close-first", "2");
    const std::pair<const char*, QByteArray> instances[] = {
        {"good", "tls = true\nca_file = " + path + "/ca.pem\n"},
        {"wrong", "tls = true\nca_file = " + path + "/other.pem\n"},
        {"system", "tls = true\n"},
        {"closed", {}}};
    for (const auto& [name, lines] : instances) {
        configure(lines, name[0] == 'g' ? proxyPort : name[0] == 'c' ? freePort() : 0);
        startApp(name, {});
        // started on its own mqtt.conf
        ASSERT_TRUE(
            waitUntil([&] { return file(name + QByteArray(".out")).contains("MQTT"); }, 5s));
    }
    const auto out = [&](const char* name) { return file(name + QByteArray(".out")); };
    EXPECT_TRUE(waitUntil([&] { return out("good").contains(": connected"); }, 15s))
        << out("good").data();
    EXPECT_TRUE(file("proxy").contains("closed connection 2"));
    for (const char* name : {"wrong", "system"})
        EXPECT_TRUE(
            waitUntil([&] { return out(name).contains("not connected: OpenSSL Error"); }, 10s))
            << out(name).data();
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(out("closed").count("not connected: Connection refused"), 1) << out("closed").data();
    EXPECT_EQ(out("wrong").count(": connected"), 0);
}

// Two instances of one name in two folders: two clients that both stay
// connected, two Home Assistant devices; the sensors of channels not read
// are removed; the last will of one that vanishes.
TEST_F(PublishTest, SameNamedInstancesAreDistinctHomeAssistantDevices)
{
    startBroker();
    subscribe();
    for (const char* folder : {"a", "b"}) {
        const QByteArray home = path + '/' + folder;
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(home + "/ports")));
        configure(QByteArray("[topics]\nhomeassistant = true\ndiscovery_prefix = qm/p/ha\n") +
                      "prefix = qm/p/" + folder + '\n',
                  0, home);
        startSim({"--link", QFile::decodeName(home + "/ports/com1"), "--continuous", "5"});
        startApp("pump", {.rvnr = *folder == 'a' ? 8 : 2}, home);
    }
    const auto configs = [&](const char* object) { return file("received").count(object); };
    ASSERT_TRUE(waitUntil([&] { return configs("/V02/config {") == 2; }, 15s))
        << file("received").data();
    QSet<QByteArray> topics; // of V02, a node id each
    for (const QByteArray& line : file("received").split('\n'))
        if (line.contains("/V02/config {\""))
            topics << line.left(line.indexOf(' '));
    EXPECT_EQ(topics.size(), 2) << file("received").data();
    EXPECT_EQ(configs("\"state_topic\":\"qm/p/a/reading\""), 8) << "V01..V08 of a";
    EXPECT_EQ(configs("\"state_topic\":\"qm/p/b/reading\""), 2) << "V01, V02 of b";
    EXPECT_EQ(configs("/V03/config (null)"), 1) << "V03 of b removed";
    EXPECT_EQ(configs("/V03_alarm/config (null)"), 1);
    std::this_thread::sleep_for(2s);
    for (const char* name : {"a-pump.out", "b-pump.out"})
        EXPECT_EQ(file(name).count("MQTT"), 2) << "connecting, connected:\n" << file(name).data();
    ::kill(static_cast<pid_t>(apps[1]->processId()), SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return received("b/status").last() == "offline"; }, 10s));
}

} // namespace
} // namespace qm::e2e
