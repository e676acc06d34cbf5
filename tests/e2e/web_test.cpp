// The instance's web page, served by the real program: what needs the
// password, what never leaves the log folder, what a settings change needs,
// what a crowd of clients and a port in use do, and a real Prometheus
// scraping it.
#include "tests/e2e/web_client.h"

#include "app/files.h"

#include <QDate>
#include <QStandardPaths>

#include <csignal>
#include <fcntl.h>
#include <thread>

namespace qm::e2e {
namespace {

TEST_F(WebTest, EveryPathButHealthzNeedsThePassword)
{
    startInstance();
    for (const char* target : {"/", "/api/state", "/api/events", "/api/trend", "/api/logs",
                               "/api/settings", "/metrics", "/static/app.js", "/nothing"}) {
        const Reply r = http(webPort, QByteArray("GET ") + target + " HTTP/1.1");
        EXPECT_EQ(r.status, 401) << target << " without a password";
        EXPECT_TRUE(r.head.contains("WWW-Authenticate: Basic realm=\"Quellmark pump\""))
            << target << ":\n"
            << r.head;
    }
    EXPECT_EQ(http(webPort, "GET /healthz HTTP/1.1").body, "ok\n") << "probes need no password";
    const Reply state = get("/api/state");
    EXPECT_EQ(state.status, 200) << "with the password";
    EXPECT_TRUE(state.body.startsWith("{\"instance\":\"pump\"")) << state.body;
    for (const char* header :
         {"Content-Security-Policy: default-src 'self'; script-src 'self'; style-src 'self'; "
          "img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; "
          "form-action 'self'",
          "X-Frame-Options: DENY", "X-Content-Type-Options: nosniff",
          "Referrer-Policy: no-referrer", "Cache-Control: no-store"})
        EXPECT_TRUE(state.head.contains(header)) << header << " in\n" << state.head;
    const Reply events = http(webPort, "GET /api/events HTTP/1.0\r\n" + auth, {}, 1500);
    EXPECT_TRUE(events.body.startsWith("retry: 2000\n\nevent: state\ndata: {\"instance\""))
        << events.body.left(200);
    EXPECT_GE(events.body.count("event: state"), 2) << "a new state after an evaluation";
}

TEST_F(WebTest, NoPathLeavesTheLogFolder)
{
    startInstance();
    ASSERT_TRUE(waitUntil([&] { return !log("pump").empty(); }, 10s));
    const QByteArray today = QDate::currentDate().toString("yyMMdd").toLatin1() + ".txt";
    const QByteArray first = log("pump").front();
    ASSERT_EQ(::symlink(path + "/pump.ini", path + "/pumpLog/250101.txt"), 0);
    EXPECT_TRUE(get("/logs/" + today).body.startsWith(first)) << "the day file as logged";
    EXPECT_TRUE(get("/logs/" + today).head.contains("Content-Disposition: attachment"));
    EXPECT_TRUE(get("/logs/" + today + ".csv").body.startsWith("\"time\",")) << "as CSV";
    for (const QByteArray& target : QList<QByteArray>{
             "/logs/..%2fpump.ini", "/logs/%2e%2e/pump.ini", "/logs/%2e%2e%2fpump.ini",
             "/logs/../pump.ini", "/logs/" + today + "%00", "/logs/" + today + "%00.csv",
             QByteArray("/logs/250101.txt"), "/logs/%2fetc%2fpasswd", "/logs//etc/passwd",
             "/static/../web.conf", "/static/%2e%2e/pw", "/logs/", "/logs/pumpLog"})
        EXPECT_EQ(get(target).status, 404) << target;
}

TEST_F(WebTest, SettingsChangeNeedsTheTokenAndTheOriginAndSavesAllOrNothing)
{
    startInstance();
    const QByteArray before = readAll(dir.filePath("pump.ini"));
    const QByteArray settings = get("/api/settings").body;
    ASSERT_TRUE(settings.startsWith("{\"editable\":true,\"csrf\":\"")) << settings.left(80);
    const QByteArray token = settings.mid(25, 64);
    const QByteArray form = "\r\nContent-Type: application/x-www-form-urlencoded";
    const QByteArray self = "\r\nOrigin: http://127.0.0.1:" + QByteArray::number(webPort);
    const struct {
        QByteArray headers, body;
        int status;
    } refused[] = {
        {form + self, "stime=5", 403},                                          // no token
        {form + self + "\r\nX-CSRF-Token: " + token.toUpper(), "stime=5", 403}, // wrong token
        {form + "\r\nOrigin: http://evil.example\r\nX-CSRF-Token: " + token, "stime=5", 403},
        {form + "\r\nSec-Fetch-Site: cross-site\r\nX-CSRF-Token: " + token, "stime=5", 403},
        {form + self + "\r\nX-CSRF-Token: " + token, "stime=5&channel2.hi=abc", 400},
        {form + self + "\r\nX-CSRF-Token: " + token, "stime=5&nokey=1", 400},
        {form + self + "\r\nX-CSRF-Token: " + token, "stime=" + QByteArray(17000, '5'), 413},
    };
    for (const auto& c : refused) {
        const Reply r = http(webPort, "POST /api/settings HTTP/1.1\r\n" + auth + c.headers, c.body);
        EXPECT_EQ(r.status, c.status) << c.headers << "\n" << c.body.left(40) << "\n" << r.body;
        EXPECT_EQ(readAll(dir.filePath("pump.ini")), before)
            << "nothing saved: " << c.body.left(40);
    }
    const Reply bad =
        http(webPort,
             "POST /api/settings HTTP/1.1\r\n" + auth + form + self + "\r\nX-CSRF-Token: " + token,
             "channel2.hi=abc");
    EXPECT_TRUE(bad.body.startsWith(R"({"ok":false,"key":"channel2.hi","caption":"V02 Set Hi")"))
        << bad.body;
    const Reply ok =
        http(webPort,
             "POST /api/settings HTTP/1.1\r\n" + auth + form + self + "\r\nX-CSRF-Token: " + token,
             "stime=5&channel1.label=Tank+1");
    EXPECT_EQ(
        ok.body,
        R"({"ok":true,"changes":["stime: 0 -> 5","channel1.label: \"V01 label:\" -> \"Tank 1\""]})");
    EXPECT_TRUE(readAll(dir.filePath("pump.ini")).contains("\"Tank 1\"")) << "saved";
    EXPECT_TRUE(
        waitUntil([&] { return get("/api/state").body.contains("\"label\":\"Tank 1\""); }, 5s))
        << "and applied";
}

TEST_F(WebTest, AThousandConnectionsAndASilentReaderLeaveEveryLineLogged)
{
    startInstance({"--continuous", "50", "--count", "300"});
    std::vector<int> crowd;
    // A client that asks for the event stream and never reads it.
    const int silent = connectTo(webPort);
    const QByteArray ask = "GET /api/events HTTP/1.1\r\n" + auth + "\r\n\r\n";
    ::send(silent, ask.constData(), size_t(ask.size()), MSG_NOSIGNAL);
    for (int i = 0; i < 1000; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(webPort));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        crowd.push_back(fd);
    }
    ASSERT_TRUE(waitUntil([&] { return log("pump").size() >= 300; }, 30s))
        << log("pump").size() << " lines logged";
    EXPECT_EQ(log("pump").size(), sent(0).size()) << "every line the device sent";
    for (const int fd : crowd)
        ::close(fd);
    EXPECT_TRUE(waitUntil([&] { return get("/api/state").status == 200; }, 10s))
        << "served again once the crowd is gone";
    ::close(silent);
}

TEST_F(WebTest, APortInUseIsNamedAndTheInstanceRunsOnWithoutThePage)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, quint16(webPort)));
    startInstance();
    ASSERT_TRUE(waitUntil([&] { return log("pump").size() >= 3; }, 10s)) << "logging goes on";
    EXPECT_TRUE(readAll(dir.filePath("pump.out"))
                    .contains("no web page: port " + QByteArray::number(webPort) +
                              " on 127.0.0.1 is in use"))
        << readAll(dir.filePath("pump.out"));
}

// A real Prometheus scrapes the instance and has its values.
TEST_F(WebTest, PrometheusScrapesTheMetrics)
{
    const QString prometheus = QStandardPaths::findExecutable("prometheus");
    if (prometheus.isEmpty() && qEnvironmentVariableIsEmpty("CI"))
        GTEST_SKIP() << "prometheus is not installed (scripts/install-deps.sh installs it)";
    ASSERT_FALSE(prometheus.isEmpty()) << "prometheus is missing";
    startInstance();
    const int promPort = freeTcpPort();
    writeAll(dir.filePath("prometheus.yml"),
             "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: quellmark\n"
             "    basic_auth:\n      username: quellmark\n      password: letmein\n"
             "    static_configs:\n      - targets: ['127.0.0.1:" +
                 QByteArray::number(webPort) + "']\n");
    run("'" + prometheus.toUtf8() + "' --config.file='" + path + "/prometheus.yml' " +
            "--storage.tsdb.path='" + path +
            "/tsdb' --web.listen-address=127.0.0.1:" + QByteArray::number(promPort),
        dir.filePath("prometheus.out"));
    QByteArray answer;
    EXPECT_TRUE(waitUntil(
        [&] {
            answer = http(promPort, "GET /api/v1/query?query=quellmark_link_up HTTP/1.1").body;
            return answer.contains("\"name\":\"pump\"") && answer.contains("\"1\"]");
        },
        40s))
        << answer << readAll(dir.filePath("prometheus.out")).right(800);
}

} // namespace
} // namespace qm::e2e
