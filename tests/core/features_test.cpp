// What observes the core and what lies beside it: the trend store, the port
// chooser's lists and links.
#include "device/port_list.h"
#include "tests/support/app_fixture.h"
#include "trend/trend_store.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
        {"\"08:60:00\",1,1,1,1,1,1,1,1\r\n", -1},
        {"08:15:02,1,1,1,1,1,1,1,1\r\n", -1},
        {"\"08:15:02\",1,1,1,1,1,1,1,x\r\n", -1},
        {"\"08:15:02\",23,4,-0,5,0,0,0,0\r\n", 29702, 23, 0}, // "," for "." reads as other values
        {"\"08:15:02\",+1,1,1,1,1,1,1,1\r\n", -1},
        {"\"8:15:02\",1,1,1,1,1,1,1,1\r\n", -1},
        {"", -1},
    };
    for (const auto& c : cases) {
        const auto r = parseLogRecord(c.line);
        EXPECT_EQ(r ? r->secondOfDay : -1, c.second) << c.line;
        if (r) {
            EXPECT_EQ(std::pair(r->values[1], r->values[8]), std::pair(c.v1, c.v8)) << c.line;
        }
    }
}

// Readings (ms, value of channel 1, alarm) aggregated per second and drawn
// into columns: each column's lowest, highest and last value.
TEST(Trend, ColumnsHoldTheLowestHighestAndLastValue)
{
    const struct {
        const char* what;
        std::vector<std::tuple<qint64, float, bool>> readings;
        qint64 from, to;
        int columns;
        std::string drawn;     // per column min/max/last, "." for none, "+" / "-" an infinity
        std::string stretches; // alarm stretches in seconds
    } cases[] = {
        {"raw, three columns",
         {{100, 5, false}, {900, 2, true}, {1900, 7, false}, {2500, 1, false}},
         0,
         3000,
         3,
         "2/5/2 7/7/7 1/1/1",
         "0.9-1.9"},
        {"an infinity and a gap",
         {{0, 1, false}, {1000, INFINITY, true}, {4000, 3, true}},
         0,
         5000,
         5,
         "1/1/1 + . . 3/3/3",
         "1-5"},
        {"a clock stepping back",
         {{5000, 1, false}, {2000, 9, false}, {2500, 4, false}},
         0,
         6000,
         2,
         "4/9/4 1/1/1",
         ""},
        {"per second beyond ten minutes",
         {{0, 3, false}, {300, 8, false}, {700'000, 5, false}},
         0,
         1'000'000,
         2,
         "3/8/8 5/5/5",
         ""},
        {"nothing yet", {}, 0, 1000, 2, ". .", ""},
    };
    for (const auto& c : cases) {
        TrendStore store;
        for (const auto& [ms, v, alarm] : c.readings)
            store.add(ms, {0, v, 0, 0, 0, 0, 0, 0, 0}, alarm ? 1 : 0, 1);
        std::string drawn, stretches;
        for (const auto& column : store.columns(c.from, c.to, c.columns)) {
            const Span& s = column[1];
            const auto n = [](float v) { return QString::number(v).toStdString(); };
            drawn += (drawn.empty() ? "" : " ") +
                     (s.posInf    ? std::string("+")
                      : s.empty() ? std::string(".")
                                  : n(s.min) + "/" + n(s.max) + "/" + n(s.last));
        }
        for (const auto& [a, b] : store.alarmStretches(1, c.from, c.to))
            stretches += (stretches.empty() ? "" : " ") +
                         QString::number(a / 1000.0).toStdString() + "-" +
                         QString::number(b / 1000.0).toStdString();
        EXPECT_EQ(drawn, c.drawn) << c.what;
        EXPECT_EQ(stretches, c.stretches) << c.what;
        EXPECT_EQ(store.channelsWithData(), c.readings.empty() ? 0 : 1);
    }
}

// After a restart the last 24 hours come back from yesterday's and today's
// log files, past midnight, with the alarms from the limits; broken lines are
// counted and skipped. Memory stays bounded at any rate.
TEST(Trend, HistoryComesBackFromTheLogAndMemoryStaysBounded)
{
    AppFixture fx;
    QDir(fx.tmp.path()).mkdir("quellmarkLog");
    fx.write("quellmarkLog/250311.txt",
             "\"08:00:00\",1,0,0,0,0,0,0,0\r\n\"23:59:59\",150,0,0,0,0,0,0,0\r\n");
    fx.write("quellmarkLog/250312.txt",
             "\"00:00:10\",2,0,0,0,0,0,0,0\r\n\"00:00:1\r\n\"08:14:59\",3,0,0,0,0,0,0,0\r\n");
    TrendStore store;
    ChannelArray<Single> hi, lo{};
    hi.fill(99.9f);
    const QDateTime now(QDate(2025, 3, 12), QTime(8, 15));
    EXPECT_EQ(store.loadHistory(QFile::encodeName(fx.path("quellmarkLog")), now, hi, lo, 1), 1);
    const qint64 t = now.toMSecsSinceEpoch();
    const Span all = store.summary(t - TrendStore::kDayMs, t)[1];
    EXPECT_EQ(std::tuple(all.count, all.min, all.max, all.last), std::tuple(3, 2.0f, 150.0f, 3.0f));
    EXPECT_EQ(store.alarmStretches(1, t - TrendStore::kDayMs, t).size(), 1u);
    EXPECT_EQ(store.csv(t - 1000, t), "\"2025-03-12 08:14:59\",3,0,0,0,0,0,0,0\r\n");

    for (qint64 ms = 0; ms < 1'000'000; ms += 2) // 500 readings a second
        store.add(t + ms, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 0, 8);
    EXPECT_EQ(store.summary(t, t + 1'000'000)[8].count, 500'000);
    EXPECT_EQ(store.summary(t + 990'000, t + 1'000'000)[8].count, 5000);
}

TEST(PortList, DevicesWithStableNamesAndTheLinksOfTheProgramDirectory)
{
    AppFixture fx;
    const QByteArray root = QFile::encodeName(fx.tmp.path());
    ASSERT_EQ(::mkdir(root + "/dev", 0755) | ::mkdir(root + "/dev/serial", 0755) |
                  ::mkdir(root + "/dev/serial/by-id", 0755),
              0);
    for (const char* tty : {"ttyUSB0", "ttyUSB1", "ttyS0"})
        ::close(
            ::open(root + "/dev/" + tty, O_CREAT | O_WRONLY, 0)); // nobody may open ttyS0 but root
    ::chmod(root + "/dev/ttyUSB0", 0660), ::chmod(root + "/dev/ttyUSB1", 0660);
    ::symlink("../../ttyUSB0", root + "/dev/serial/by-id/usb-FTDI_A1-port0");
    const QString dev = QFile::decodeName(root + "/dev/");
    const auto devices = describeDevices({{dev + "ttyUSB0", {}, "FT232R", "FTDI", "A1", {}},
                                          {dev + "ttyUSB1", {}, "CP2102", "Silicon Labs", "", {}},
                                          {dev + "ttyS0", {}, {}, {}, {}, {}}},
                                         root + "/dev");
    EXPECT_EQ(devices[0].stableName, dev + "serial/by-id/usb-FTDI_A1-port0");
    EXPECT_TRUE(devices[1].stableName.isEmpty());
    EXPECT_EQ(devices[2].problem.isEmpty(), ::geteuid() == 0); // root opens anything

    // Links: made, replaced in one step (a dangling old one too), refused.
    QString error;
    EXPECT_TRUE(makePortLink(root, 3, devices[0].stableName, error));
    ::symlink("/gone", root + "/ports/com7");
    EXPECT_TRUE(makePortLink(root, 2, dev + "ttyUSB1", error));
    EXPECT_TRUE(makePortLink(root, 3, dev + "ttyUSB1", error));
    const auto links = portLinks(root);
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(std::tuple(links[0].number, links[0].target, links[0].dangling),
              std::tuple(2, dev + "ttyUSB1", false));
    EXPECT_EQ(std::tuple(links[1].number, links[1].target), std::tuple(3, dev + "ttyUSB1"));
    EXPECT_TRUE(links[2].dangling);
    ::mkdir(root + "/ports/com2.new",
            0755); // in the way of the new link: refused, the old one stays
    EXPECT_FALSE(makePortLink(root, 2, dev + "ttyUSB0", error));
    EXPECT_TRUE(error.startsWith("Cannot make port link ")) << error.toStdString();
    EXPECT_EQ(portLinks(root).at(0).target, dev + "ttyUSB1");
    EXPECT_FALSE(makePortLink(root + "/dev/ttyS0", 1, dev, error)); // no folder can be made there
    EXPECT_EQ(portListText(links, {devices[0]}),
              "COM ports:\n  COM2 -> " + dev + "ttyUSB1\n  COM3 -> " + dev +
                  "ttyUSB1\n  COM7 -> /gone (missing)\nSerial devices:\n  " + dev + "ttyUSB0  " +
                  dev + "serial/by-id/usb-FTDI_A1-port0  FT232R  FTDI  A1\n");
}

} // namespace
} // namespace qm::test
