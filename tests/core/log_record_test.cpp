// Reading the day log back: its lines and its files.
#include "sampling/log_record.h"
#include "tests/support/app_fixture.h"

#include <QFile>
#include <QTime>

#include <cmath>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(LogRecord, LinesAreReadOnlyInTheLogsOwnForm)
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
        {"\"08:15:02\",23,4,-0,5,0,0,0,0,0,0\r\n", -1}, // a decimal comma: a field too many
    };
    for (const auto& c : cases) {
        const auto r = parseLogRecord(c.line);
        EXPECT_EQ(r ? r->secondOfDay : -1, c.second)
            << "second of the day (-1: no log line) of " << c.line;
        if (r) {
            EXPECT_EQ(r->values[1], c.v1) << "value 1 of " << c.line;
            EXPECT_EQ(r->values[8], c.v8) << "value 8 of " << c.line;
        }
    }
}

// Lines cut by the end of a piece read come whole; broken ones are counted.
TEST(LogRecord, DayFilesAreReadAsAStreamWhateverTheirSize)
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
    EXPECT_TRUE(r.opened) << "the day file opened";
    EXPECT_EQ(r.skipped, 1) << "the one broken line counted";
    ASSERT_EQ(records.size(), 5001u) << "every whole line read, the last one without its end too";
    EXPECT_EQ(records[4999].values[2], 4999.0f) << "a line cut by the end of a piece read whole";
    EXPECT_EQ(records[5000].secondOfDay, 82800) << "the last line without its end read";
    EXPECT_FALSE(readDayFile(QFile::encodeName(fx.path("none.txt")), [](auto&) {}).opened)
        << "a missing day file is not opened";
}

} // namespace
} // namespace qm::test
