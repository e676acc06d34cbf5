// Publishing to a real mosquitto broker on 127.0.0.1, with a real subscriber,
// and a proxy of the test's own between them where a line must break.
#include "tests/e2e/harness.h"

#include <QDir>
#include <QFile>
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

// A broker of the test's own, logging all it does: persistent, so a
// subscriber's session outlives a restart; and a subscriber writing
// "topic payload" lines.
class PublishTest : public E2eTest {
protected:
    void TearDown() override
    {
        for (QProcess* p : {&broker, &subscriber, &proxy})
            stop(*p, SIGTERM);
        E2eTest::TearDown();
    }
    void startBroker(const QByteArray& listener = {})
    {
        // As this user (a broker started as root would drop to "mosquitto",
        // who may not read the test's folder).
        writeAll(
            dir.filePath("mosquitto.conf"),
            "user " + QByteArray(::getpwuid(::getuid())->pw_name) +
                "\npersistence true\npersistence_location " + path +
                "/\nallow_anonymous true\nlog_dest file " + path + "/broker.log\nlog_type all\n" +
                (listener.isEmpty() ? "listener " + QByteArray::number(brokerPort) + " 127.0.0.1\n"
                                    : listener));
        broker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        broker.start("mosquitto", {"-c", dir.filePath("mosquitto.conf")});
        ASSERT_TRUE(broker.waitForStarted());
        std::this_thread::sleep_for(300ms);
    }
    // Between the program and the broker: the program connects to proxyPort.
    void startProxy(const QStringList& args)
    {
        proxy.setStandardOutputFile(dir.filePath("proxy"));
        proxy.start("python3", QStringList{QM_PROXY_PATH, "--listen", QString::number(proxyPort),
                                           "--broker", QString::number(brokerPort)} +
                                   args);
        ASSERT_TRUE(
            waitUntil([&] { return readAll(dir.filePath("proxy")).contains("listening"); }, 5s));
    }
    void subscribe()
    {
        subscriber.setStandardOutputFile(dir.filePath("received"));
        subscriber.start("mosquitto_sub",
                         {"-h", "127.0.0.1", "-p", QString::number(brokerPort), "-t", "qm/#", "-v",
                          "-q", "1", "-c", "-i", "subscriber"});
        ASSERT_TRUE(subscriber.waitForStarted());
        std::this_thread::sleep_for(300ms);
    }
    void configure(const QByteArray& broker, const QByteArray& topics = "prefix = qm/p\n",
                   int port = 0, const QByteArray& folder = {})
    {
        writeAll(
            QFile::decodeName((folder.isEmpty() ? path : folder) + "/mqtt.conf"),
            "[broker]\nhost = 127.0.0.1\nport = " + QByteArray::number(port ? port : brokerPort) +
                "\n" + broker + "[topics]\n" + topics);
    }
    // The payloads received on prefix/topic (qm/p/ unless the topic starts with "qm/").
    QList<QByteArray> received(const QByteArray& topic) const
    {
        const QByteArray full = (topic.startsWith("qm/") ? topic : "qm/p/" + topic) + ' ';
        QList<QByteArray> out;
        for (const QByteArray& line : readAll(dir.filePath("received")).split('\n'))
            if (line.startsWith(full))
                out << line.mid(full.size());
        return out;
    }
    QByteArray output(const char* name) const
    {
        return readAll(dir.filePath(QString::fromLatin1(name) + ".out"));
    }
    // Every log line of `name` is one reading message, in order.
    void expectEveryLogLineIsAReading(const QByteArray& name)
    {
        const std::vector<QByteArray> lines = log(name);
        const QList<QByteArray> readings = received("reading");
        ASSERT_EQ(readings.size(), qsizetype(lines.size())) << "one reading per log line";
        for (std::size_t i = 0; i < lines.size(); ++i) {
            QByteArray values = "\"values\":[";
            for (int c = 1; c <= 8; ++c)
                values += lines[i].split(',').value(c).trimmed() + (c < 8 ? "," : "]");
            EXPECT_TRUE(readings[qsizetype(i)].contains(values))
                << readings[qsizetype(i)].data() << " for " << lines[i].data();
            EXPECT_TRUE(readings[qsizetype(i)].contains(lines[i].mid(1, 8)))
                << readings[qsizetype(i)].data() << " for " << lines[i].data();
        }
    }
    int brokerPort = freePort(), proxyPort = freePort();
    QProcess broker, subscriber, proxy;
};

// The topics after recognition; one reading message per log line, in order,
// also for the readings taken while the broker was away; the last will.
TEST_F(PublishTest, EveryLogLineIsAReadingAcrossABrokerRestartAndTheLastWillComes)
{
    startBroker();
    subscribe();
    configure({});
    startSim({"--link", port(1), "--continuous", "10", "--count", "80", "--seed", "2"});
    QProcess& app = startApp("quellmark", {});
    ASSERT_TRUE(waitUntil([&] { return received("reading").size() >= 10; }, 10s))
        << output("quellmark").data();
    EXPECT_EQ(received("status").value(0), "online");
    EXPECT_EQ(received("device").value(0), "connected");
    stop(broker, SIGTERM);
    std::this_thread::sleep_for(2s); // readings queue meanwhile
    startBroker();
    ASSERT_TRUE(waitUntil([&] { return received("reading").size() >= 80; }, 30s))
        << received("reading").size() << " readings";
    std::this_thread::sleep_for(500ms);
    expectEveryLogLineIsAReading("quellmark");
    EXPECT_EQ(received("V01").last(), log("quellmark").back().split(',').value(1));
    ::kill(static_cast<pid_t>(app.processId()), SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return received("status").last() == "offline"; }, 10s));
}

// TLS with the broker's certificate checked against the CA, after handshakes
// broken by a proxy that closes the first connections; a wrong CA, the
// system's CAs, a closed port and a password file others may read are
// refused and reported.
TEST_F(PublishTest, TlsIsVerifiedAndAFailedHandshakeIsRetried)
{
    const auto run = [&](const QString& script) {
        return QProcess::execute("/bin/sh", {"-c", "cd '" + dir.path() + "' && " + script});
    };
    const QString key = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=";
    ASSERT_EQ(run(key + "CA -keyout ca.key -out ca.pem 2>/dev/null && " + key +
                  "Other -keyout other.key -out other.pem 2>/dev/null && "
                  "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key -out "
                  "server.csr 2>/dev/null && "
                  "printf 'subjectAltName=IP:127.0.0.1' > san && openssl x509 -req -in server.csr "
                  "-CA ca.pem -CAkey ca.key "
                  "-CAcreateserial -days 1 -extfile san -out server.pem 2>/dev/null"),
              0);
    startBroker("listener " + QByteArray::number(brokerPort) + " 127.0.0.1\ncafile " + path +
                "/ca.pem\ncertfile " + path + "/server.pem\nkeyfile " + path + "/server.key\n");
    startProxy({"--close-first", "2"});
    // Each instance in turn, once it has read the mqtt.conf meant for it.
    const auto start = [&](const char* name, const QByteArray& broker, int port = 0) {
        configure(broker, "prefix = qm/p\n", port);
        startApp(name, {});
        ASSERT_TRUE(waitUntil([&] { return output(name).contains("MQTT"); }, 10s)) << name;
    };
    start("good", "tls = true\nca_file = " + path + "/ca.pem\n", proxyPort);
    start("wrong", "tls = true\nca_file = " + path + "/other.pem\n");
    start("system", "tls = true\n");
    start("closed", {}, freePort()); // nobody listens there
    EXPECT_TRUE(waitUntil([&] { return output("good").contains(": connected"); }, 15s))
        << output("good").data();
    EXPECT_TRUE(output("good").contains(": not connected: ")) << output("good").data();
    EXPECT_TRUE(readAll(dir.filePath("proxy")).contains("closed connection 2"));
    for (const char* name : {"wrong", "system"}) {
        EXPECT_TRUE(
            waitUntil([&] { return output(name).contains("not connected: OpenSSL Error"); }, 10s))
            << output(name).data();
        EXPECT_FALSE(output(name).contains(": connected")) << output(name).data();
    }
    // The reason stays, told once, while the tries go on (after 1 s, 2 s).
    ASSERT_TRUE(waitUntil([&] { return output("closed").contains("not connected"); }, 5s));
    std::this_thread::sleep_for(3500ms);
    EXPECT_EQ(output("closed").count("not connected: Connection refused"), 1)
        << output("closed").data();
    writeAll(dir.filePath("password"), "secret\n");
    QFile::setPermissions(dir.filePath("password"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    configure("username = u\npassword_file = " + path + "/password\n");
    startApp("exposed", {});
    EXPECT_TRUE(
        waitUntil([&] { return output("exposed").contains("may be read by others"); }, 10s));
}

// QoS 2: a PUBREL lost with the connection is sent again in the same
// session, and the broker still holds the reading.
TEST_F(PublishTest, AtQos2NoReadingIsLostWhenThePubrelIsLost)
{
    startBroker();
    subscribe();
    startProxy({"--drop-pubrel", "40"});
    configure({}, "prefix = qm/p\nqos = 2\n", proxyPort);
    startSim({"--link", port(1), "--continuous", "100", "--count", "200", "--seed", "3"});
    startApp("quellmark", {});
    ASSERT_TRUE(waitUntil([&] { return received("reading").size() >= 200; }, 20s))
        << received("reading").size() << " readings\n"
        << output("quellmark").data();
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(readAll(dir.filePath("proxy")).contains("dropped PUBREL"));
    expectEveryLogLineIsAReading("quellmark");
}

// A close at 100 lines/s: the last log line published, "offline", then a
// clean DISCONNECT (not the last will).
TEST_F(PublishTest, ANormalCloseUnderLoadPublishesEverythingThenDisconnects)
{
    startBroker();
    subscribe();
    configure({});
    startSim({"--link", port(1), "--continuous", "100", "--seed", "4"});
    QProcess& app = startApp("quellmark", {});
    ASSERT_TRUE(waitUntil([&] { return received("reading").size() >= 200; }, 15s))
        << output("quellmark").data();
    EXPECT_EQ(stop(app, SIGTERM), 0);
    std::this_thread::sleep_for(500ms);
    expectEveryLogLineIsAReading("quellmark");
    EXPECT_EQ(received("status").last(), "offline");
    EXPECT_TRUE(readAll(dir.filePath("broker.log")).contains("Received DISCONNECT from quellmark-"))
        << readAll(dir.filePath("broker.log")).right(2000).data();
}

// Two instances of one name in two folders: two clients that stay connected,
// two Home Assistant devices; the sensors of channels not read are removed.
TEST_F(PublishTest, SameNamedInstancesAreDistinctHomeAssistantDevices)
{
    startBroker();
    subscribe();
    for (const char* folder : {"a", "b"}) {
        const QByteArray home = path + '/' + folder;
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(home + "/ports")));
        configure({},
                  QByteArray("prefix = qm/") + folder + "\nhomeassistant = true\n" +
                      "discovery_prefix = qm/ha\n",
                  0, home);
        startSim({"--link", QFile::decodeName(home + "/ports/com1"), "--continuous", "5"});
        startApp("pump", {.rvnr = folder[0] == 'a' ? 8 : 2}, home);
    }
    const auto configs = [&] {
        QList<QByteArray> out;
        for (const QByteArray& line : readAll(dir.filePath("received")).split('\n'))
            if (line.startsWith("qm/ha/sensor/") && line.contains("/V02/config "))
                out << line;
        return out;
    };
    ASSERT_TRUE(waitUntil([&] { return configs().size() >= 2; }, 15s))
        << readAll(dir.filePath("received")).data();
    const QList<QByteArray> both = configs();
    const auto field = [](const QByteArray& line, const QByteArray& key) {
        const qsizetype from = line.indexOf("\"" + key + "\":\"") + key.size() + 4;
        return line.mid(from, line.indexOf('"', from) - from);
    };
    EXPECT_NE(both[0].split(' ').first(), both[1].split(' ').first()) << "one topic each";
    EXPECT_NE(field(both[0], "unique_id"), field(both[1], "unique_id"));
    EXPECT_NE(field(both[0], "state_topic"), field(both[1], "state_topic"));
    std::this_thread::sleep_for(2s);
    for (const char* out : {"a-pump", "b-pump"}) {
        EXPECT_EQ(output(out).count(": connected"), 1) << output(out).data();
        EXPECT_FALSE(output(out).contains("not connected")) << output(out).data();
    }
    QByteArray removed;
    for (const QByteArray& line : readAll(dir.filePath("received")).split('\n'))
        if (line.contains("/V03") && line.endsWith("/config (null)"))
            removed += line + '\n';
    EXPECT_EQ(removed.count("qm/ha/"), 2) << "V03 and its alarm of b:\n" << removed.data();
}

} // namespace
} // namespace qm::e2e
