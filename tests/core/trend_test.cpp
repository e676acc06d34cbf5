// The trend's data: log lines, buckets, alarm stretches, the live store.
#include "base/numbers.h"
#include "sampling/log_file.h"
#include "settings/settings_file.h"
#include "tests/support/app_fixture.h"
#include "trend/csv_export.h"
#include "trend/day_clock.h"
#include "trend/history_reader.h"
#include "trend/plot_data.h"
#include "trend/trend_store.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <bit>
#include <ctime>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace qm::test {
namespace {

// Runs with the local time of Berlin, whatever the machine's.
class Berlin : public ::testing::Test {
protected:
    void SetUp() override
    {
        old_ = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        ::tzset();
    }
    void TearDown() override
    {
        if (old_.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", old_);
        ::tzset();
    }

private:
    QByteArray old_;
};

// Readings every `stepMs` over [from, to) as the program logs them: a line
// of local time in the file of the local date. V01 from `v1`, V02 = 5.
using DayFiles = std::map<QDate, QByteArray>;
void logReadings(
    DayFiles& files, qint64 from, qint64 to, qint64 stepMs,
    const std::function<float(qint64)>& v1 = [](qint64) { return 1.0f; })
{
    for (qint64 ms = from; ms < to; ms += stepMs) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
        files[t.date()] += t.toString("\"hh:mm:ss\"").toLatin1() + ',' +
                           QByteArray::fromStdString(invariantForm(v1(ms))) + ",5,0,0,0,0,0,0\r\n";
    }
}

qint64 at(QDate day, int h, int m = 0)
{
    return QDateTime(day, QTime(h, m)).toMSecsSinceEpoch();
}

// Every line of a day with a clock change gets back the instant it was
// written at: 25 hours in autumn (the hour 02:00-02:59 twice), 23 in spring.
TEST_F(Berlin, EveryLineOfAClockChangeDayHasItsOwnInstant)
{
    const struct {
        QDate day;
        int lines; // a line every 30 s
    } cases[] = {{{2026, 10, 25}, 3000}, {{2026, 3, 29}, 2760}, {{2026, 7, 1}, 2880}};
    for (const auto& c : cases) {
        DayClock clock(c.day);
        const qint64 start = at(c.day, 0);
        const std::string name = c.day.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(clock.midnight(), start) << name;
        int lines = 0;
        for (qint64 ms = start; ms < at(c.day.addDays(1), 0); ms += 30'000, ++lines) {
            const int second = QTime(0, 0).secsTo(QDateTime::fromMSecsSinceEpoch(ms).time());
            ASSERT_EQ(clock.instant(second), ms) << name << " line " << lines;
        }
        EXPECT_EQ(lines, c.lines) << name;
    }
}

// Ticks of a day at most 12 (every two hours), a week (midnights), ten
// minutes (whole minutes), on local time across the autumn change.
TEST_F(Berlin, TicksFallOnLocalHoursAndMidnights)
{
    const QDate day(2026, 10, 25);
    const struct {
        qint64 from, to;
        int most;
        const char* first;
        int count;
    } cases[] = {
        {at(day, 0) - 3000, at(day.addDays(1), 0), 13, "2026-10-25T00:00:00+02:00", 12},
        {at(day, 0) + 1, at(day.addDays(7), 0) + 1, 8, "2026-10-26T00:00:00+01:00", 7},
        {at(day, 5, 2) + 500, at(day, 5, 12), 6, "2026-10-25T05:04:00+01:00", 4},
    };
    for (const auto& c : cases) {
        const std::vector<qint64> ticks = localTicks(c.from, c.to, c.most);
        EXPECT_EQ(isoLocal(ticks.empty() ? 0 : ticks.front()), c.first) << c.first;
        EXPECT_EQ(int(ticks.size()), c.count) << c.first;
    }
}

// Day files written as the program writes them, read for the whole span:
// the breaks in V01's line, the readings, V01's zeros that are drawn.
TEST_F(Berlin, LinesBreakOnlyWhereTheDeviceStopped)
{
    const QDate d(2026, 10, 24), e = d.addDays(1), f = d.addDays(2);
    const auto zeroAt3To630 = [&](qint64 ms) {
        return ms >= at(e, 3) && ms < at(e, 6, 30) ? 0.0f : 1.0f;
    };
    const struct {
        const char* what;
        std::function<void(DayFiles&)> log;
        qint64 from, to;
        int breaks;
        std::uint64_t readings;
        int zeros; // V01 points at 0
    } cases[] = {
        {"1 s history, then a reading every 4 s",
         [&](DayFiles& l) {
             logReadings(l, at(d, 8), at(d, 9), 1000);
             logReadings(l, at(d, 9), at(d, 9, 10), 4000);
         },
         at(d, 8, 50), at(d, 9, 10), 0, 600 + 150, 0},
        {"a 1 s evening, a 30 s autumn day with night-time zeros, a 50/s morning",
         [&](DayFiles& l) {
             logReadings(l, at(d, 22), at(e, 0), 1000);
             logReadings(l, at(e, 0), at(f, 0), 30'000, zeroAt3To630);
             logReadings(l, at(f, 0), at(f, 0, 10), 20);
         },
         at(d, 22), at(f, 0, 10), 0, 7200 + 3000 + 30'000, 210}, // a minute a point
        {"a power cut and a missing day",
         [&](DayFiles& l) {
             logReadings(l, at(d, 8), at(d, 10), 10'000);
             logReadings(l, at(d, 13, 30), at(d, 14), 10'000);
             logReadings(l, at(f, 8), at(f, 9), 10'000);
         },
         at(d, 0), at(f, 23), 2, 720 + 180 + 360, 0},
        {"a start logs zeros first; a pump switched off after a gap is zero",
         [&](DayFiles& l) {
             l[d] = "\"08:00:00\",0,0,0,0,0,0,0,0\r\n"
                    "\"08:00:01\",0,0,0,0,0,0,0,0\r\n"
                    "\"08:00:02\",3,5,0,0,0,0,0,0\r\n"
                    "\"09:00:00\",0,5,0,0,0,0,0,0\r\n"
                    "\"09:00:01\",0,5,0,0,0,0,0,0\r\n";
         },
         at(d, 0), at(e, 0), 1, 4, 2},
    };
    for (const auto& c : cases) {
        AppFixture fx;
        QDir(fx.tmp.path()).mkdir("log");
        DayFiles files;
        c.log(files);
        for (const auto& [day, text] : files)
            fx.write("log/" + QString::fromLatin1(logFileName(day)), text);
        HistoryRequest rq;
        rq.logDir = QFile::encodeName(fx.path("log"));
        rq.from = c.from;
        rq.to = c.to;
        rq.widthMs = bucketWidthFor(c.to - c.from);
        rq.channels = 2;
        HistoryReader reader;
        const History h = reader.read(rq);
        const std::vector<Point> line = lineOf(h.series, 1, breaksBefore(h.series));
        EXPECT_EQ(
            std::count_if(line.begin(), line.end(), [](auto& p) { return std::isnan(p.value); }),
            c.breaks)
            << c.what;
        EXPECT_EQ(h.series.readings(), c.readings) << c.what;
        EXPECT_EQ(std::count_if(line.begin(), line.end(), [](auto& p) { return p.value == 0; }),
                  c.zeros)
            << c.what;
        EXPECT_TRUE(h.problems.empty()) << c.what << ": " << h.problems.front();
    }
}

// A lone spike does not set the scale; a pump that runs a tenth of the time
// does; limits near the values count.
TEST(Trend, TheValueScaleFollowsTheBulkOfTheValues)
{
    const struct {
        const char* what;
        std::vector<double> values;
        float setLo, setHi;
        double lo, hi; // the values within, before the margin
    } cases[] = {
        {"room temperature and a spike", {}, -100, 100, 20, 22},
        {"a pump on a tenth of the time", {}, -100, 1000, 0, 100},
        {"limits near", {20, 21, 22}, 19, 23.5f, 19, 23.5},
        {"nothing: the limits", {}, 10, 30, 10, 30},
    };
    for (auto c : cases) {
        if (c.values.empty() && c.lo == 20)
            for (int k = 0; k < 3000; ++k)
                c.values.push_back(k == 1500 ? 1000.0 : 20 + k % 3);
        if (c.values.empty() && c.lo == 0)
            for (int k = 0; k < 3000; ++k)
                c.values.push_back(k % 10 == 0 ? 100 : 0);
        const auto [lo, hi] = valueScale(c.values, c.setLo, c.setHi);
        const double margin = (c.hi - c.lo) * 0.08;
        EXPECT_DOUBLE_EQ(lo, c.lo - margin) << c.what;
        EXPECT_DOUBLE_EQ(hi, c.hi + margin) << c.what;
    }
}

// The day chosen is read from its own file; each file that cannot be read
// is named with the reason, and a day without a file is told.
TEST(Trend, EveryProblemOfARangeIsNamedWithItsReason)
{
    AppFixture fx;
    QDir(fx.tmp.path()).mkpath("log/" + QString::fromLatin1(logFileName(QDate(2025, 3, 12))));
    ASSERT_EQ(::mkfifo(QFile::encodeName(
                           fx.path("log/" + QString::fromLatin1(logFileName(QDate(2025, 3, 14))))),
                       0600),
              0);
    fx.write("log/" + QString::fromLatin1(logFileName(QDate(2025, 3, 11))), "\"23:59:59\",x\r\n");
    HistoryRequest rq;
    rq.logDir = QFile::encodeName(fx.path("log"));
    rq.from = at(QDate(2025, 3, 12), 0);
    rq.to = at(QDate(2025, 3, 15), 0);
    rq.tellMissing = true;
    HistoryReader reader;
    const History h = reader.read(rq);
    EXPECT_EQ(h.problems, (std::vector<std::string>{
                              "250312.txt: cannot be read: a directory, not a file",
                              "250313.txt: no log for 2025-03-13",
                              "250314.txt: cannot be read: a FIFO, not a file",
                          }));
}

// A day read once is kept while its file stays as it was; one that grew is
// read again.
TEST(Trend, ADayKeptFromAnEarlierReadingFollowsItsFile)
{
    AppFixture fx;
    QDir(fx.tmp.path()).mkpath("log");
    const QString day = "log/" + QString::fromLatin1(logFileName(QDate(2025, 3, 12)));
    const QByteArray line = "\"08:00:00\",1,0,0,0,0,0,0,0\r\n";
    fx.write(day, line);
    HistoryRequest rq;
    rq.logDir = QFile::encodeName(fx.path("log"));
    rq.from = at(QDate(2025, 3, 12), 0);
    rq.to = at(QDate(2025, 3, 14), 0);
    HistoryReader reader;
    EXPECT_EQ(reader.read(rq).series.readings(), 1u) << "the day's one line";
    fx.write(day, line + QByteArray(line).replace("00\",", "01\","));
    EXPECT_EQ(reader.read(rq).series.readings(), 2u) << "the line added since, read too";
}

TEST(Trend, TheLiveStoreGrowsAsReadingsComeAndStaysBounded)
{
    TrendStore store;
    EXPECT_EQ(store.memoryBytes(), 0u);
    const qint64 t = QDateTime(QDate(2025, 3, 12), QTime(8, 0)).toMSecsSinceEpoch();
    store.add(t, {0, 21.5f, 0, 0, 0, 0, 0, 0, 0}, 0b10, 2);
    EXPECT_LT(store.memoryBytes(), 1u << 20) << "the first reading takes an hour of the ring";
    store.add(t + 1000, {0, 21.6f, 3, 0, 0, 0, 0, 0, 0}, 0, 2);
    const Series first = store.series(t, t + 2000, 1000);
    EXPECT_EQ(first.buckets[0].last[1], 0.0f) << "a zero beside a value is a reading";
    EXPECT_EQ(first.buckets[1].last[1], 3.0f);
    TrendStore started;
    started.add(t, {0, 0, 0}, 0, 2);
    EXPECT_EQ(started.newest(), INT64_MIN) << "nothing read yet: the first reading left out";
    started.add(t + 1000, {0, 0, 0}, 0, 2);
    EXPECT_EQ(started.newest(), t + 1000) << "zeros after the first are readings";

    for (qint64 ms = 2000; ms < 1'000'000; ms += 2) // 500 readings a second
        store.add(t + ms, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 0, 8);
    EXPECT_EQ(store.series(t, t + 1'000'000, 60'000).readings(), 2u + 499'000u);
    EXPECT_EQ(store.series(t + 990'000, t + 1'000'000, 100).readings(), 5000u);
    EXPECT_LT(store.memoryBytes(), 20u << 20);
}

TEST(Trend, AGapIsThreeUsualIntervalsAtLeastTwoSeconds)
{
    const struct {
        qint64 median, gap;
    } cases[] = {{0, 600'000}, {500, 2000}, {1000, 3000}, {30'000, 90'000}};
    for (const auto& c : cases)
        EXPECT_EQ(gapThresholdMs(c.median), c.gap) << "usual interval " << c.median << " ms";
}

TEST(Trend, TheLiveStoreTakesTheAlarmsOfTheReading)
{
    TrendStore store;
    const ChannelArray<Single> values{0, 5, 6}, limits{};
    const ChannelArray<String> names{};
    ChannelArray<bool> alarms{};
    alarms[2] = true;
    const QDateTime t(QDate(2025, 3, 12), QTime(8, 0));
    store.readingTaken({t, values, alarms, names, names, limits, limits, 2});
    const Series s = store.series(t.toMSecsSinceEpoch(), t.toMSecsSinceEpoch() + 1000, 1000);
    EXPECT_EQ(s.buckets[0].alarm, 0b10) << "channel 2 in alarm, channel 1 not";
}

// An hour of 1 s readings across the autumn change: every one, with its
// offset; the header in UTF-8 and only the channels in use.
TEST_F(Berlin, TheCsvHasEveryReadingAsLoggedWithItsOffset)
{
    const QDate day(2026, 10, 25);
    // 02:30 +02:00 (02:30 itself is ambiguous), an hour before 02:30 +01:00
    const qint64 from = at(day, 1, 30) + 3600'000;
    DayFiles files;
    logReadings(files, from - 600'000, from + 4200'000, 1000,
                [](qint64 ms) { return float(ms % 7); });
    AppFixture fx;
    QDir(fx.tmp.path()).mkdir("log");
    fx.write("log/" + QString::fromLatin1(logFileName(day)), files[day]);
    const std::string csv = historyCsv(QFile::encodeName(fx.path("log")), from, from + 3600'000,
                                       {"",
                                        "Room \xb0"
                                        "C",
                                        "V02 label:"},
                                       {}, {}, 2);
    const QList<QByteArray> rows = QByteArray::fromStdString(csv).split('\n');
    EXPECT_EQ(rows.value(0), "\"time\",\"V01 Room \xc2\xb0"
                             "C\",\"V02\"\r");
    EXPECT_EQ(rows.size(), 3600 + 2) << "a header, every reading, the end";
    const qint64 second = from + 1800'000 + 29'000; // 02:00:29 +01:00
    EXPECT_EQ(rows.value(1), "\"2026-10-25T02:30:00+02:00\"," +
                                 QByteArray::fromStdString(invariantForm(float(from % 7))) +
                                 ",5\r");
    EXPECT_TRUE(rows.contains("\"2026-10-25T02:00:29+01:00\"," +
                              QByteArray::fromStdString(invariantForm(float(second % 7))) + ",5\r"))
        << "the repeated hour with its own offset";

    CsvWriter slices({}, 1, 60'000);
    for (const float v : {2.0f, INFINITY, 4.0f})
        slices.add(from, &v);
    EXPECT_EQ(slices.finish(), "\"time\",\"V01 min\",\"V01 mean\",\"V01 max\"\r\n"
                               "\"2026-10-25T02:30:00+02:00\",2,3,INF\r\n");
}

TEST(Trend, EveryChannelHasAColourOfItsOwn)
{
    const struct {
        ChannelArray<String> letters;
        quint8 used;
        int keepsItsLetter; // a channel that keeps its letter's colour, or 0
    } cases[] = {
        {{"", "Y", "B", "R", "G", "W", "W", "W", "W"}, 0xff, 1},
        {{"", "R", "B", "B", "W", "W", "W", "W", "W"}, 0x03, 2}, // V03 unused
    };
    for (const auto& c : cases) {
        const std::array<Rgb, 9> colours = trendColours(c.letters, c.used);
        std::set<std::tuple<int, int, int>> distinct;
        for (int i = 1; i <= 8; ++i) {
            if (c.used >> (i - 1) & 1)
                distinct.insert({colours[i].r, colours[i].g, colours[i].b});
            EXPECT_FALSE(colours[i] == colors::kRed) << "V0" << i << " drawn in the alarm's red";
        }
        EXPECT_EQ(int(distinct.size()), std::popcount(c.used)) << "colours shared";
        if (c.keepsItsLetter > 0) {
            EXPECT_TRUE(colours[c.keepsItsLetter] == colorForLetter(c.letters[c.keepsItsLetter]))
                << "V0" << c.keepsItsLetter << " keeps its own colour";
        }
    }
}

} // namespace
} // namespace qm::test
