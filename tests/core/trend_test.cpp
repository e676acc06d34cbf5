// The trend's data: log lines, buckets, alarm stretches, the live store.
#include "app/numbers.h"
#include "sampling/log_file.h"
#include "settings/settings_file.h"
#include "tests/support/app_fixture.h"
#include "trend/trend_store.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <bit>
#include <gtest/gtest.h>
#include <set>

namespace qm::test {
namespace {

TEST(Trend, LogLinesAreReadOnlyInTheLogsOwnForm)
{
    const struct {
        std::string line;
        int second; // -1: not a log line
        float v1 = 0, v8 = 0;
    } cases[] = {
        {"\"08:15:02\",23.4,-0.5,0,0,0,0,0,7\r\n", 29702, 23.4f, 7},
        {"\"23:59:59\",INF,0,0,0,0,0,0,-INF\n", 86399, INFINITY, -INFINITY},
        {"\"00:00:00\",.5,0,0,0,0,0,0,1E+07", 0, 0.5f, 1e7f},
        {"\"08:15:02\",23.4,-0.5,0,0,0,0,0\r\n", -1}, // cut by a full disk
        {"\"08:15:02\",23.4,-0.5,0,0,0,0,0,0,0\r\n", -1},
        {"\"24:00:00\",1,1,1,1,1,1,1,1\r\n", -1},
        {"08:15:02,1,1,1,1,1,1,1,1\r\n", -1},
        {"\"08:15:02\",1,1,1,1,1,1,1,x\r\n", -1},
        {"\"08:15:02\",+1,1,1,1,1,1,1,1\r\n", -1},
    };
    for (const auto& c : cases) {
        const auto r = parseLogRecord(c.line);
        EXPECT_EQ(r ? r->secondOfDay : -1, c.second) << c.line;
        if (r) {
            EXPECT_EQ(r->values[1], c.v1) << c.line;
            EXPECT_EQ(r->values[8], c.v8) << c.line;
        }
    }
}

// Lines cut by the end of a piece read come whole; broken ones are counted.
TEST(Trend, DayFilesAreReadAsAStreamWhateverTheirSize)
{
    AppFixture fx;
    std::string text;
    for (int s = 0; s < 5000; ++s)
        text += QTime(0, 0).addSecs(s).toString("\"hh:mm:ss\"").toStdString() + ",1.5," +
                std::to_string(s) + ",0,0,0,0,0,0\r\n" + (s == 2500 ? "\"12:0\r\n" : "");
    text += "\"23:00:00\",1,2,3,4,5,6,7,8"; // the last line without its end
    fx.write("day.txt", QByteArray::fromStdString(text));
    std::vector<LogRecord> records;
    const DayFileResult r = readDayFile(
        QFile::encodeName(fx.path("day.txt")),
        [&](const LogRecord& rec) { records.push_back(rec); }, 97);
    EXPECT_TRUE(r.opened);
    EXPECT_EQ(r.skipped, 1);
    ASSERT_EQ(records.size(), 5001u);
    EXPECT_EQ(records[4999].values[2], 4999.0f);
    EXPECT_EQ(records[5000].secondOfDay, 82800);
    EXPECT_FALSE(readDayFile(QFile::encodeName(fx.path("none.txt")), [](auto&) {}).opened);
}

// Log lines (second of the day, V01, V02), V01 in alarm above 50: the lines
// drawn ("t=v", "|" at a break), V01's alarm stretches, their episodes.
TEST(Trend, LinesBreakAtGapsAndAlarmStretchesEndWithTheirLastAlarm)
{
    using Lines = std::vector<std::array<int, 3>>;
    const struct {
        const char* what;
        Lines lines;
        std::string v1, v2, stretches;
        int episodes;
    } cases[] = {
        {"an alarm before a power cut ends with its last reading in alarm",
         {{0, 1, 1}, {1, 60, 1}, {2, 70, 1}, {3, 80, 1}, {12600, 90, 1}, {12601, 2, 1}},
         "0=1 1=60 2=70 3=80 | 12600=90 12601=2",
         "0=1 1=1 2=1 3=1 | 12600=1 12601=1",
         "1-3 12600-12600",
         2},
        {"after a restart the zeros of channels not yet received are missing",
         {{0, 5, 7}, {1, 5, 7}, {2, 5, 7}, {200, 6, 0}, {201, 6, 0}, {202, 6, 8}, {203, 6, 0}},
         "0=5 1=5 2=5 | 200=6 201=6 202=6 203=6",
         "0=7 1=7 2=7 | 202=8 203=0",
         "",
         0},
    };
    for (const auto& c : cases) {
        AppFixture fx;
        QDir(fx.tmp.path()).mkdir("log");
        QByteArray text;
        for (const auto& [s, v1, v2] : c.lines)
            text += QTime(0, 0).addSecs(s).toString("\"hh:mm:ss\"").toLatin1() + ',' +
                    QByteArray::number(v1) + ',' + QByteArray::number(v2) + ",0,0,0,0,0,0\r\n";
        const QDate day(2025, 3, 12);
        fx.write("log/" + QString::fromLatin1(logFileName(day)), text);
        HistoryRequest rq;
        rq.logDir = QFile::encodeName(fx.path("log"));
        const qint64 midnight = QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
        rq.from = midnight;
        rq.to = midnight + TrendStore::kDayMs;
        rq.setHi.fill(50);
        rq.setLo.fill(-50);
        rq.channels = 2;
        HistoryReader reader;
        const History h = reader.read(rq);
        const auto drawn = [&](int channel) {
            std::string out;
            for (const Point& p : lineOf(h.series, channel))
                out += (out.empty() ? "" : " ") + (std::isnan(p.value)
                                                       ? std::string("|")
                                                       : std::to_string((p.ms - midnight) / 1000) +
                                                             "=" + invariantForm(float(p.value)));
            return out;
        };
        std::string stretches;
        const auto list = alarmStretches(h.series, 1);
        for (const auto& [a, b] : list)
            stretches += (stretches.empty() ? "" : " ") + std::to_string((a - midnight) / 1000) +
                         "-" + std::to_string((b - midnight) / 1000);
        EXPECT_EQ(drawn(1), c.v1) << c.what;
        EXPECT_EQ(drawn(2), c.v2) << c.what;
        EXPECT_EQ(stretches, c.stretches) << c.what;
        EXPECT_EQ(alarmEpisodes(list, 120'000), c.episodes) << c.what;
    }
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
    EXPECT_FALSE(first.buckets[0].hasChannel(2)) << "V02's zero before its first value";
    EXPECT_EQ(first.buckets[0].alarm, 0) << "a missing value is in no alarm";
    EXPECT_EQ(first.buckets[1].last[1], 3.0f);

    for (qint64 ms = 2000; ms < 1'000'000; ms += 2) // 500 readings a second
        store.add(t + ms, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 0, 8);
    EXPECT_EQ(store.series(t, t + 1'000'000, 60'000).readings(), 2u + 499'000u);
    EXPECT_EQ(store.series(t + 990'000, t + 1'000'000, 100).readings(), 5000u);
    EXPECT_LT(store.memoryBytes(), 20u << 20);
}

TEST(Trend, CsvHasAHeaderAndTheTimeWithItsUtcOffset)
{
    const qint64 t = QDateTime(QDate(2025, 3, 12), QTime(8, 14, 59)).toMSecsSinceEpoch();
    Series s(t, t + 3000, 1000);
    const float values[8] = {3, NAN, 0, 0, 0, 0, 0, -0.5f};
    s.add(t + 2000, values, 0, 8);
    const std::string csv = csvOf(s, {"", "Tank \"A\"", "Pump"});
    const std::string header = "\"time\",\"V01 Tank A\",\"V02 Pump\",\"V03\",\"V04\",\"V05\","
                               "\"V06\",\"V07\",\"V08\"\r\n";
    EXPECT_EQ(csv.substr(0, header.size()), header);
    const QRegularExpression row(
        "^\"2025-03-12T08:15:01(Z|[+-]\\d\\d:\\d\\d)\",3,,0,0,0,0,0,-0.5\r\n$");
    EXPECT_TRUE(row.match(QString::fromStdString(csv.substr(header.size()))).hasMatch()) << csv;
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
