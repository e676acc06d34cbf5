// The web page's pure parts: web.conf, request paths, the log folder's
// listing, the JSON and metrics texts, the slowing of wrong passwords.
#include "base/files.h"
#include "web/http_types.h"
#include "web/log_files.h"
#include "web/login_guard.h"
#include "web/trend_json.h"
#include "web/web_config.h"
#include "web/web_state.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::test {
namespace {

// The configuration as "port|bind|user|password|tls|unknown", or the error.
QString summary(const WebSetup& s)
{
    if (!s.config)
        return s.error;
    const WebConfig& c = *s.config;
    return QStringList{QString::number(c.port),  QString::fromUtf8(c.bind), c.user, c.password,
                       QString::number(c.tls()), c.unknownKeys.join(' ')}
        .join('|');
}

TEST(WebConfig, KeysDefaultsAndErrorsNamingWebConf)
{
    QTemporaryDir tmp;
    const QByteArray dir = QFile::encodeName(tmp.path());
    ASSERT_TRUE(replaceFile(dir + "/pw600", "s3cret\nsecond line\n"));
    ASSERT_EQ(::chmod(dir + "/pw600", 0600), 0);
    ASSERT_TRUE(replaceFile(dir + "/pw644", "s3cret\n"));
    ASSERT_EQ(::chmod(dir + "/pw644", 0644), 0);
    ASSERT_TRUE(replaceFile(dir + "/cert", "PEM"));
    const struct {
        QByteArray text;
        QString expected;
    } cases[] = {
        {"", "8080|127.0.0.1|quellmark||0|"},
        {"port = 9090 ; the second instance\nuser = ann\nfoo = 1\n", "9090|127.0.0.1|ann||0|foo"},
        {"bind = ::1\n", "8080|::1|quellmark||0|"},
        {"password_file = " + dir + "/pw600\nbind = 0.0.0.0\n", "8080|0.0.0.0|quellmark|s3cret|0|"},
        {"port = 0\n", "web.conf: port must be a whole number from 1 to 65535, not \"0\""},
        {"port = 80a\n", "web.conf: port must be a whole number from 1 to 65535, not \"80a\""},
        {"port = 1\nport = 2\n", "web.conf: line 2: port is given twice (first on line 1)"},
        {"port\n", "web.conf: line 1 is not \"key = value\""},
        {"bind = 0.0.0.0\n", "web.conf: listening on 0.0.0.0 needs a password (password_file); "
                             "without one only 127.0.0.1 or ::1"},
        {"bind = board\n", "web.conf: bind must be an IPv4 or IPv6 address, not \"board\""},
        {"password_file = " + dir + "/pw644\n",
         "web.conf: password_file " + tmp.path() + "/pw644 may be read by others (chmod 600 it)"},
        {"password_file = " + dir + "/none\n",
         "web.conf: password_file " + tmp.path() + "/none cannot be read"},
        {"cert_file = " + dir + "/cert\n", "web.conf: cert_file needs its key_file"},
        {"user = a:b\n", "web.conf: user must be a name without \":\""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(replaceFile(dir + "/web.conf", c.text.toStdString()));
        EXPECT_EQ(summary(readWebConfig(dir + "/web.conf")), c.expected) << "web.conf: " << c.text;
    }
    EXPECT_FALSE(readWebConfig(dir + "/missing.conf").config.has_value()) << "no web.conf: no page";
    EXPECT_TRUE(readWebConfig(dir + "/missing.conf").error.isEmpty()) << "no web.conf is no error";
}

TEST(WebConfig, LoopbackAddresses)
{
    const std::pair<QByteArray, bool> cases[] = {
        {"127.0.0.1", true}, {"127.1.2.3", true}, {"::1", true},        {"0.0.0.0", false},
        {"::", false},       {"10.0.0.1", false}, {"localhost", false}, {"128.0.0.1", false}};
    for (const auto& [address, loopback] : cases)
        EXPECT_EQ(isLoopback(address), loopback) << address.constData();
    const std::pair<QByteArray, bool> hosts[] = {{"127.0.0.1:8080", true},
                                                 {"localhost", true},
                                                 {"[::1]:8080", true},
                                                 {"evil.example:8080", false},
                                                 {"127.0.0.1.evil.example", false},
                                                 {"", false}};
    for (const auto& [host, loopback] : hosts)
        EXPECT_EQ(isLoopbackHost(host), loopback) << "Host: " << host.constData();
}

TEST(WebPaths, DecodedOnceAndRefusedWithNul)
{
    const struct {
        QByteArray raw;
        bool ok;
        QByteArray path, query;
    } cases[] = {
        {"/api/trend?span=600", true, "/api/trend", "span=600"},
        {"/logs/%2e%2e/pump.ini", true, "/logs/../pump.ini", ""},
        {"/logs/a%2fb", true, "/logs/a/b", ""},
        {"/logs/250312.txt%00.csv", false, "", ""},
        {"/logs/%zz", false, "", ""},
        {"/logs/%2", false, "", ""},
        {"logs", false, "", ""},
    };
    for (const auto& c : cases) {
        QByteArray path, query;
        const bool ok = decodePath(c.raw, path, query);
        EXPECT_EQ(ok, c.ok) << c.raw.constData();
        if (!c.ok)
            continue;
        EXPECT_EQ(path, c.path) << c.raw.constData();
        EXPECT_EQ(query, c.query) << c.raw.constData();
    }
    std::vector<std::pair<QByteArray, QByteArray>> pairs;
    ASSERT_TRUE(formPairs("channel1.label=Tank+A%26B&stime=10", pairs));
    ASSERT_EQ(pairs.size(), 2u) << "two pairs";
    EXPECT_EQ(pairs[0].second, "Tank A&B") << "'+' a blank, %26 an ampersand";
}

TEST(WebLogs, OnlyTheFolderOwnDayFilesAreListedAndFound)
{
    QTemporaryDir tmp;
    const QByteArray dir = QFile::encodeName(tmp.path());
    ASSERT_TRUE(replaceFile(dir + "/250312.txt", "12:00:00 1\r\n"));
    ASSERT_TRUE(replaceFile(dir + "/251224.txt", "x"));
    ASSERT_TRUE(replaceFile(dir + "/notes.txt", "x"));
    ASSERT_EQ(::symlink("/etc/passwd", dir + "/250313.txt"), 0);
    ASSERT_EQ(::mkdir(dir + "/250314.txt", 0700), 0);
    const std::vector<LogFile> files = listLogFiles(dir);
    ASSERT_EQ(files.size(), 2u) << "regular day files only: no link, folder or other name";
    EXPECT_EQ(files[0].name, "251224.txt") << "newest first";
    EXPECT_EQ(files[1].size, 12) << "its size";
    for (const QByteArray& name :
         {QByteArray("../250312.txt"), QByteArray("250313.txt"), QByteArray("250312.txt/"),
          QByteArray("250312.tx"), QByteArray("250312.txt\0", 11)})
        EXPECT_EQ(findLogFile(files, name), nullptr) << "not served: " << name.constData();
    EXPECT_NE(findLogFile(files, "250312.txt"), nullptr) << "a listed name is served";
    EXPECT_EQ(logListJson({files[1]}),
              R"({"files":[{"name":"250312.txt","date":"2025-03-12","size":12,)"
              R"("url":"/logs/250312.txt","csv_url":"/logs/250312.txt.csv"}]})");
}

WebState sampleState()
{
    WebState s;
    s.instance = QStringLiteral("pump \"2\"");
    s.version = QStringLiteral("1.2.3");
    s.link = QStringLiteral("connected");
    s.linkText = s.link;
    s.statusText = QStringLiteral("Reading\n");
    s.statusColour = {0, 192, 0};
    s.sampleTimeS = 30;
    s.channels.push_back(
        {1, QStringLiteral("Tank"), QStringLiteral("12.5"), 12.5, {255, 255, 0}, true, 80, 10});
    s.channels.push_back(
        {2, QStringLiteral("Flow"), QStringLiteral("-"), NAN, {0, 255, 0}, false, 99.9, 0});
    s.readings = 7;
    s.readingsLogged = 5;
    return s;
}

TEST(WebState, StateJsonWithNullsForWhatIsMissing)
{
    EXPECT_EQ(
        stateJson(sampleState()),
        R"({"instance":"pump \"2\"","version":"1.2.3","time_ms":null,"time_text":"",)"
        R"("utc_offset_s":0,"link":{"state":"connected","text":"connected"},)"
        R"("status":{"text":"Reading\n","colour":"#00c000"},"alarm":true,"sample_time_s":30,)"
        R"("channels":[{"index":1,"label":"Tank","value":12.5,"text":"12.5","colour":"#ffff00",)"
        R"("alarm":true,"set_hi":80,"set_lo":10},{"index":2,"label":"Flow","value":null,)"
        R"("text":"-","colour":"#00ff00","alarm":false,"set_hi":99.9,"set_lo":0}]})");
}

TEST(WebState, MetricsInThePrometheusTextFormat)
{
    WebState s = sampleState();
    const QByteArray without = metricsText(s);
    s.publishing = true;
    s.publishingDropped = 3;
    const QByteArray with = metricsText(s);
    const struct {
        const QByteArray& text;
        const char* line;
        bool present;
    } cases[] = {
        {without, "quellmark_value{name=\"pump \\\"2\\\"\",channel=\"1\",label=\"Tank\"} 12.5\n",
         true},
        {without, "quellmark_value{name=\"pump \\\"2\\\"\",channel=\"2\",label=\"Flow\"} NaN\n",
         true},
        {without, "quellmark_alarm{name=\"pump \\\"2\\\"\",channel=\"1\",label=\"Tank\"} 1\n",
         true},
        {without, "# TYPE quellmark_readings_logged_total counter\n", true},
        {without, "quellmark_readings_logged_total{name=\"pump \\\"2\\\"\"} 5\n", true},
        {without, "quellmark_link_up{name=\"pump \\\"2\\\"\"} 1\n", true},
        {without, "quellmark_last_reading_seconds{name=\"pump \\\"2\\\"\"} NaN\n", true},
        {without, "quellmark_publishing", false},
        {with, "quellmark_publishing_connected{name=\"pump \\\"2\\\"\"} 0\n", true},
        {with, "quellmark_publishing_dropped_total{name=\"pump \\\"2\\\"\"} 3\n", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text.contains(c.line), c.present) << c.line << " in\n" << c.text.constData();
}

TEST(WebTrend, SpanAndEndFromTheQuery)
{
    const struct {
        QByteArray query;
        bool ok;
        qint64 span;
    } cases[] = {{"", true, 86400},
                 {"span=600", true, 600},
                 {"span=2592000", true, 2592000},
                 {"span=599", false, 0},
                 {"span=2592001", false, 0},
                 {"span=1e4", false, 0},
                 {"span=3600&end_ms=x", false, 0}};
    for (const auto& c : cases) {
        TrendQuery q;
        QString error;
        EXPECT_EQ(parseTrendQuery(c.query, q, error), c.ok) << c.query.constData();
        if (c.ok) {
            EXPECT_EQ(q.spanS, c.span) << c.query.constData();
        }
    }
}

// With logging off no file holds this run: its readings come from the live
// store, as in the window's trend.
TEST(WebTrend, ThisRunsReadingsWithoutALogFile)
{
    QTemporaryDir logs;
    HistoryReader reader;
    Snapshot snap;
    snap.state.channels.push_back({});
    snap.state.channels.back().index = 1;
    TrendQuery q;
    q.spanS = 600;
    q.endMs = 1'765'180'000'000;
    LivePart live;
    live.from = q.endMs - 60'000;
    live.series = Series(live.from, q.endMs, bucketWidthFor(600'000));
    const float value = 12.5f;
    live.series.add(q.endMs - 30'000, &value, 0, 1);
    const QByteArray json = trendJson(reader, logs.path().toUtf8(), q, snap, live);
    EXPECT_TRUE(json.contains("\"v\":[12.5]"))
        << "the live reading as the line: " << json.constData();
}

TEST(WebLogin, WrongPasswordsWaitLongerEachTime)
{
    const std::pair<int, qint64> cases[] = {{0, 0},    {1, 250},  {2, 500},  {3, 1000},
                                            {5, 4000}, {6, 8000}, {40, 8000}};
    for (const auto& [failures, ms] : cases)
        EXPECT_EQ(LoginGuard::delayMs(failures), ms) << failures << " wrong passwords";
    LoginGuard guard;
    guard.failed("10.0.0.1");
    EXPECT_EQ(guard.failed("10.0.0.1"), 500) << "the second from one address";
    EXPECT_EQ(guard.failed("10.0.0.2"), 250) << "another address counts apart";
    guard.succeeded("10.0.0.1");
    EXPECT_EQ(guard.failed("10.0.0.1"), 250) << "a right password clears the count";
}

} // namespace
} // namespace qm::test
