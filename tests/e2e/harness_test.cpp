// The log line reader of the harness must be strict, or the end-to-end
// checks of the log format would pass on any text.

#include "tests/e2e/harness.h"

namespace qm::e2e {
namespace {

TEST(LogLineFormat, AcceptsOnlyTheExactForm)
{
    struct Row {
        QByteArray line;
        bool valid;
    };
    const std::vector<Row> rows = {
        {"\"08:15:02\",23.4,-0.5,0,0,0,0,0,0\r\n", true},
        {"\"08:15:02\",23.4,-.5,0,0,0,0,0,0\r\n", true},
        {"\"23:59:59\",-12,100.5,1234567,0.1,99.9,0,0,7\r\n", true},
        {"\"08:15:02\",23.40,0,0,0,0,0,0,0\r\n", false}, // trailing zero
        {"\"08:15:02\",23.,0,0,0,0,0,0,0\r\n", false},   // trailing point
        {"\"08:15:02\",23,4,0,0,0,0,0,0,0\r\n", false},  // decimal comma
        {"\"08:15:02\",1,2,3,4,5,6,7\r\n", false},       // seven values
        {"\"08:15:02\",1,2,3,4,5,6,7,8\n", false},       // LF only
        {"\"08:15:02\",1,2,3,4,5,6,7,8", false},         // no line end
        {"\"08:15:02\", 1,2,3,4,5,6,7,8\r\n", false},    // blank
        {"08:15:02,1,2,3,4,5,6,7,8\r\n", false},         // time not quoted
        {"\"8:15:02\",1,2,3,4,5,6,7,8\r\n", false},      // one-digit hour
        {"\"24:00:00\",1,2,3,4,5,6,7,8\r\n", false},
        {"\"08:15:02\",\"1\",2,3,4,5,6,7,8\r\n", false}, // quoted value
        {"\"08:15:02\",1E+07,2,3,4,5,6,7,8\r\n", false},
    };
    for (const Row& r : rows) {
        LogLine l;
        EXPECT_EQ(parseLogLine(r.line, l), r.valid) << r.line.toStdString();
    }
    LogLine l;
    ASSERT_TRUE(parseLogLine("\"08:15:02\",23.4,-0.5,0,0,0,0,0,7\r\n", l));
    EXPECT_EQ(l.secondsOfDay, 8 * 3600 + 15 * 60 + 2);
    EXPECT_DOUBLE_EQ(l.values[1], 23.4);
    EXPECT_DOUBLE_EQ(l.values[2], -0.5);
    EXPECT_DOUBLE_EQ(l.values[8], 7);
}

} // namespace
} // namespace qm::e2e
