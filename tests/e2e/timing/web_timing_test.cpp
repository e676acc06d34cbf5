// The web page on the real clock: wrong passwords answered slower and
// slower without holding up anyone else, and a day's trend from a month of
// log files within 300 ms.
#include "tests/e2e/web_client.h"

#include "base/files.h"

#include <QDate>

#include <future>

namespace qm::e2e {
namespace {

using Clock = std::chrono::steady_clock;

qint64 msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST_F(WebTest, WrongPasswordsAreSlowedWithoutHoldingUpOthers)
{
    startInstance();
    const QByteArray wrong = "GET /api/state HTTP/1.1\r\nAuthorization: Basic " +
                             QByteArray("quellmark:guess").toBase64();
    const std::pair<int, qint64> held[] = {{1, 250}, {2, 500}, {3, 1000}, {4, 2000}};
    for (const auto& [n, ms] : held) {
        const auto start = Clock::now();
        EXPECT_EQ(http(webPort, wrong).status, 401) << "wrong password " << n;
        EXPECT_GE(msSince(start), ms) << "wrong password " << n << " held";
    }
    auto fifth = std::async(std::launch::async, [&] { return http(webPort, wrong).status; });
    std::this_thread::sleep_for(100ms);
    const auto start = Clock::now();
    EXPECT_EQ(get("/api/state").status, 200) << "the right password meanwhile";
    EXPECT_LT(msSince(start), 1000) << "answered while the wrong one is held (4 s)";
    EXPECT_EQ(fifth.get(), 401) << "the held one";
}

TEST_F(WebTest, ADayOfTrendFromAMonthOfLogsWithin300Ms)
{
    ASSERT_EQ(::mkdir(path + "/pumpLog", 0777), 0);
    const QDate today = QDate::currentDate();
    for (int d = 1; d <= 31; ++d) {
        QByteArray day;
        for (int s = 0; s < 86400; s += 2)
            day += QTime(0, 0).addSecs(s).toString("\"HH:mm:ss\"").toLatin1() + ',' +
                   QByteArray::number(20 + (s % 600) / 60.0, 'f', 2) + ",1,2,3,4,5,6,7\r\n";
        ASSERT_TRUE(replaceFile(path + "/pumpLog/" +
                                    today.addDays(-d).toString("yyMMdd").toLatin1() + ".txt",
                                day.toStdString()));
    }
    startInstance();
    const auto start = Clock::now();
    const Reply r = get("/api/trend?span=86400");
    EXPECT_LT(msSince(start), 300) << "a day's trend, read for the first time";
    EXPECT_EQ(r.status, 200) << r.body.left(200);
    EXPECT_GT(r.body.count(','), 3000) << "a line for every channel";
}

} // namespace
} // namespace qm::e2e
