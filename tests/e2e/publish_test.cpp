// Publishing to a real mosquitto broker on 127.0.0.1, with a real subscriber,
// and a proxy of the test's own (mqtt_proxy.py) where a line must break or a
// broker behave otherwise.
#include "tests/e2e/harness.h"

#include <QDir>
#include <QRegularExpression>
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
        start("mosquitto_sub -h 127.0.0.1 -p " + number(brokerPort) + " -t '#' -v -q 1 -c -i sub",
              "received");
    }
    // The program connects to proxyPort.
    void startProxy(const QByteArray& option)
    {
        start("python3 '" QM_PROXY_PATH "' --listen " + number(proxyPort) + " --broker " +
                  number(brokerPort) + ' ' + option,
              "proxy");
    }
    // The mqtt.conf of the folder `where` (default: the test's).
    void configure(const QByteArray& lines, int port = 0, const QByteArray& where = {})
    {
        writeAll(QFile::decodeName((where.isEmpty() ? path : where) + "/mqtt.conf"),
                 "[broker]\nhost = 127.0.0.1\nport = " + number(port ? port : brokerPort) + "\n" +
                     lines);
    }
    // Instance `name` on `lines`, started once it has read them.
    QProcess& startOn(const QByteArray& lines, const QByteArray& name, const Settings& s = {},
                      int port = 0)
    {
        configure(lines, port);
        QProcess& p = startApp(name, s);
        EXPECT_TRUE(waitUntil([&] { return out(name).contains("MQTT"); }, 5s));
        return p;
    }
    QByteArray file(const QByteArray& name) const { return readAll(dir.filePath(name)); }
    QByteArray out(const QByteArray& name) const { return file(name + ".out"); }
    // The payloads received on qm/p/<topic>.
    QList<QByteArray> received(const QByteArray& topic) const
    {
        QList<QByteArray> out;
        for (const QByteArray& line : file("received").split('\n'))
            if (line.startsWith("qm/p/" + topic + ' '))
                out << line.mid(topic.size() + 6);
        return out;
    }
    QByteArray last(const QByteArray& topic) const
    {
        const QList<QByteArray> all = received(topic);
        return all.isEmpty() ? QByteArray() : all.last();
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
    startSim({"--link", port(1), "--continuous", "100", "--seed", "2"});
    QProcess& app = startOn("[topics]\nqos = 2\nprefix = qm/p\n", "quellmark", {}, proxyPort);
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
    EXPECT_EQ(last("status"), "offline");
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
    startOn("tls = true\nca_file = " + path + "/ca.pem\n", "good", {}, proxyPort);
    startOn("tls = true\n", "system");
    startOn({}, "closed", {}, freePort());
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
// channels not read removed, a last will when the program is killed; with
// discovery off, the sensors it announced (and only those) removed.
TEST_F(PublishTest, HomeAssistantSeesTheChannelsReadAndTheInstanceGoneOffline)
{
    startBroker();
    subscribe();
    startSim({"--link", port(1), "--continuous", "5"});
    const QByteArray topics = "[topics]\nprefix = qm/p\ndiscovery_prefix = qm/p/ha\n";
    QProcess& app = startOn(topics + "homeassistant = true\n", "pump", {.rvnr = 2});
    const auto configs = [&](const char* object) { return file("received").count(object); };
    ASSERT_TRUE(waitUntil([&] { return configs("/V03/config (null)") == 1; }, 15s))
        << file("received");
    EXPECT_EQ(configs("\"state_class\":\"measurement\""), 2) << "V01, V02";
    stop(app, SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return last("status") == "offline"; }, 10s));
    configure(topics);
    QProcess& again = run("'" + path + "/pump'", dir.filePath("again.out"));
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(dir.filePath("pump.mqtt-sensors")); }, 10s));
    stop(again, SIGTERM); // what was queued out before "offline"
    ASSERT_TRUE(waitUntil([&] { return received("status").size() == 4; }, 5s)) << file("received");
    EXPECT_EQ(configs("/V01_alarm/config (null)"), 1);
    EXPECT_EQ(configs("/V03/config (null)"), 1) << "never announced, not removed again";
    EXPECT_EQ(configs("/V08/config (null)"), 1) << "the last channel, not read, removed once";
}

// An ACL allowing each instance its own prefix. A refusal told with MQTT 5;
// a 3.1.1 broker closing the connection at it tried ever later. Twins in two
// folders apart; one prefix shared is warned of.
TEST_F(PublishTest, ABrokerSharedUnderAnAclIsNeverHammered)
{
    writeAll(dir.filePath("acl"), "topic read #\npattern write qm/%c/#\n"
                                  "pattern write quellmark/+/%c/#\ntopic deny qm/d/reading\n");
    startBroker("127.0.0.1\nacl_file " + path + "/acl\n");
    subscribe();
    startProxy("--mqtt311 --cut-at /reading");
    for (const int n : {1, 2, 3})
        startSim({"--link", port(n), "--continuous", "20"});
    const auto own = [](const QByteArray& id, const QByteArray& prefix) {
        return "client_id = " + id + "\n[topics]\nprefix = qm/" + prefix + '\n';
    };
    startOn(own("p", "p"), "pump", {});
    startOn(own("p2", "p"), "pump2", {.comPort = 9});
    startOn(own("d", "d"), "denied", {.comPort = 2});
    startOn(own("c", "c"), "cut", {.comPort = 3}, proxyPort);
    for (const QByteArray& folder : {path + "/a", path + "/b"}) {
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(folder)));
        configure({}, 0, folder);
        startApp("twin", {.comPort = 9}, folder);
    }
    // MQTT 5 refused, 3.1.1 cut at once, after 1 s, 2 s, then 4 s.
    const auto connections = [&] { return file("proxy").count(" connection "); };
    ASSERT_TRUE(waitUntil([&] { return connections() == 4; }, 15s)) << file("proxy");
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(connections(), 4) << "tried ever later";
    EXPECT_TRUE(out("cut").contains("after publishing qm/c/reading (is it allowed?)"))
        << out("cut");
    EXPECT_GE(received("reading").size(), 5);
    const QByteArray broker = file("broker.log");
    EXPECT_EQ(broker.count("'homeassistant/"), 0) << "nothing outside the instance's topics";
    EXPECT_EQ(broker.count(" as p ("), 1);
    EXPECT_EQ(out("denied").count("connected, but refused: not authorised: qm/d/reading\n"), 1)
        << out("denied");
    EXPECT_TRUE(QRegularExpression("^qm/d/dropped [1-9]", QRegularExpression::MultilineOption)
                    .match(file("received"))
                    .hasMatch())
        << "refused readings counted";
    EXPECT_TRUE(out("pump2").contains("qm/p is also used by the instance p:")) << out("pump2");
    QSet<QByteArray> twins;
    for (const QByteArray& line : file("received").split('\n'))
        if (line.startsWith("quellmark/") && line.endsWith("/status online"))
            twins << line;
    EXPECT_EQ(twins.size(), 2) << file("received");
}

// Readings given up while connected to a slow broker: counted at once, exactly.
TEST_F(PublishTest, ReadingsGivenUpWhileConnectedAreCounted)
{
    startBroker();
    subscribe();
    startProxy("--delay 0.3");
    startSim({"--link", port(1), "--continuous", "200"});
    startOn("max_queued = 100\n[topics]\nprefix = qm/p\n", "pump", {}, proxyPort);
    ASSERT_TRUE(waitUntil([&] { return out("pump").contains("given up"); }, 15s)) << out("pump");
    const auto lost = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil([&] { return last("dropped") != "0"; }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - lost, 3s);
    stop(*sims[0], SIGTERM);
    const auto sum = [&] { return received("reading").size() + last("dropped").toLongLong(); };
    EXPECT_TRUE(waitUntil([&] { return sum() == qsizetype(log("pump").size()); }, 15s))
        << sum() << " published or counted of " << log("pump").size();
}

// The README's example and the packaged one, naming the broker.
TEST_F(PublishTest, TheDocumentedExamplesWork)
{
    startBroker();
    const QString source = QDir::cleanPath(QM_PROXY_PATH "/../../..");
    const QByteArray readme = readAll(source + "/README.md");
    const qsizetype start = readme.indexOf("```ini\n", readme.indexOf("### Publishing")) + 7;
    const std::pair<const char*, QByteArray> examples[] = {
        {"readme", readme.mid(start, readme.indexOf("```", start) - start)},
        {"example", readAll(source + "/packaging/examples/mqtt.conf")}};
    for (const auto& [name, text] : examples) {
        const QRegularExpression host("^;?host *=.*$", QRegularExpression::MultilineOption),
            port("^;?port *=.*$", QRegularExpression::MultilineOption);
        writeAll(dir.filePath("mqtt.conf"), QString::fromUtf8(text)
                                                .replace(host, "host = 127.0.0.1")
                                                .replace(port, "port = " + number(brokerPort))
                                                .toUtf8());
        startApp(name, {});
        EXPECT_TRUE(waitUntil([&] { return out(name).contains(": connected"); }, 10s)) << out(name);
    }
}

} // namespace
} // namespace qm::e2e
