// Publishing to a real mosquitto broker on 127.0.0.1, with a real subscriber.
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

// A broker of the test's own: persistent, so a subscriber's session outlives
// a restart; and a subscriber writing "topic payload" lines.
class PublishTest : public E2eTest {
protected:
    void TearDown() override
    {
        for (QProcess* p : {&broker, &subscriber})
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
                "\npersistence true\npersistence_location " + path + "/\nallow_anonymous true\n" +
                (listener.isEmpty() ? "listener " + QByteArray::number(brokerPort) + " 127.0.0.1\n"
                                    : listener));
        broker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        broker.start("mosquitto", {"-c", dir.filePath("mosquitto.conf")});
        ASSERT_TRUE(broker.waitForStarted());
        std::this_thread::sleep_for(300ms);
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
    void configure(const QByteArray& broker)
    {
        writeAll(dir.filePath("mqtt.conf"),
                 "[broker]\nhost = 127.0.0.1\nport = " + QByteArray::number(brokerPort) + "\n" +
                     broker + "[topics]\nprefix = qm/p\n");
    }
    QList<QByteArray> received(const QByteArray& topic) const
    {
        QList<QByteArray> out;
        for (const QByteArray& line : readAll(dir.filePath("received")).split('\n'))
            if (line.startsWith("qm/p/" + topic + ' '))
                out << line.mid(topic.size() + 6);
        return out;
    }
    QByteArray output(const char* name) const
    {
        return readAll(dir.filePath(QString::fromLatin1(name) + ".out"));
    }
    int brokerPort = freePort();
    QProcess broker, subscriber;
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
    const std::vector<QByteArray> lines = log("quellmark");
    const QList<QByteArray> readings = received("reading");
    ASSERT_EQ(qsizetype(lines.size()), readings.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        QByteArray values = "\"values\":[";
        for (int c = 1; c <= 8; ++c)
            values += lines[i].split(',').value(c).trimmed() + (c < 8 ? "," : "]");
        EXPECT_TRUE(readings[qsizetype(i)].contains(lines[i].mid(1, 8)) &&
                    readings[qsizetype(i)].contains(values))
            << readings[qsizetype(i)].data() << " for " << lines[i].data();
    }
    EXPECT_EQ(received("V01").last(), lines.back().split(',').value(1));
    ::kill(static_cast<pid_t>(app.processId()), SIGKILL);
    EXPECT_TRUE(waitUntil([&] { return received("status").last() == "offline"; }, 10s));
}

// TLS with the broker's certificate checked against the CA; a wrong CA and
// a password file others may read are refused and reported.
TEST_F(PublishTest, TlsIsVerifiedAndRefusalsAreReported)
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
    configure("tls = true\nca_file = " + path + "/ca.pem\n");
    startApp("good", {});
    EXPECT_TRUE(waitUntil([&] { return output("good").contains("connected"); }, 10s))
        << output("good").data();
    configure("tls = true\nca_file = " + path + "/other.pem\n");
    startApp("wrong", {});
    EXPECT_TRUE(waitUntil([&] { return output("wrong").contains("refused: "); }, 10s))
        << output("wrong").data();
    EXPECT_FALSE(output("wrong").contains(": connected"));
    writeAll(dir.filePath("password"), "secret\n");
    QFile::setPermissions(dir.filePath("password"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    configure("username = u\npassword_file = " + path + "/password\n");
    startApp("exposed", {});
    EXPECT_TRUE(
        waitUntil([&] { return output("exposed").contains("may be read by others"); }, 10s));
}

} // namespace
} // namespace qm::e2e
