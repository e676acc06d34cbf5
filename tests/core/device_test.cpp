// The link's retries and watchdog, the reply interpreter, the lines, on the
// monitor alone.
#include "device/line_framer.h"
#include "device/tty_line.h"
#include "sampling/reading_observer.h"
#include "tests/support/core_fixture.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

const QString kData = QStringLiteral("COM:1 Baud:9600 COM data: ");

QStringList g_journal; // what the core told the journal

void toJournal(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_journal << text;
}

TEST(Device, InitEvery2500msUntilTheDeviceAnswersAndTheWatchdogEvery5s)
{
    CoreFixture fx;
    Monitor& m = fx.start();
    g_journal.clear();
    const QtMessageHandler journal = qInstallMessageHandler(toJournal);
    fx.loop.runUntil(7499);
    EXPECT_TRUE(fx.port.portOpen());
    EXPECT_EQ(fx.port.settings, "9600,n,8,1");
    EXPECT_EQ(fx.port.handshaking, 0) << "no flow control";
    EXPECT_FALSE(fx.port.dtr) << "DTR inactive";
    EXPECT_FALSE(fx.port.rts) << "RTS inactive";
    EXPECT_EQ(fx.port.rThreshold, 1) << "an event per character";
    EXPECT_EQ(fx.port.writes, (Writes{{2500, "AT\r"}, {5000, "AT\r"}}));
    EXPECT_EQ(fx.statusShown(), "Searching for uc code...");
    EXPECT_EQ(fx.colour, colors::kStatusSearching);
    // The second INIT does not postpone the first one's watchdog.
    fx.loop.runUntil(7500);
    EXPECT_EQ(fx.shownAt("No response!"), 7500);
    fx.loop.runUntil(12499);
    EXPECT_EQ(fx.timesShown("No response!"), 1);
    fx.loop.runUntil(12500);
    EXPECT_EQ(fx.timesShown("No response!"), 2);
    EXPECT_EQ(fx.port.openCount, 1); // an open port is never reopened

    fx.port.answering = true;
    fx.loop.runUntil(15100);
    EXPECT_EQ(g_journal, QStringList{"COM1 (/dev/ttyS0): No response! (none within 5 s)"});
    EXPECT_FALSE(m.link().retrying()) << "the retries go on after recognition";
    EXPECT_FALSE(m.link().awaitingReply()) << "the watchdog runs on after recognition";
    EXPECT_TRUE(m.sampleClockRunning()) << "the sample clock did not start";
    EXPECT_EQ(fx.statusShown(), " QmkApp recognition is OK! ");
    EXPECT_EQ(fx.colour, colors::kStatusOk);
    EXPECT_EQ(fx.deviceCode, "QuellmarK: MainForm");
    // Back, but not steadily: the value requests go unanswered for a while.
    fx.port.answering = false;
    fx.loop.runUntil(120000);
    fx.port.answering = true;
    fx.loop.runUntil(180000); // answering again since 162 s
    EXPECT_EQ(g_journal.size(), 1) << "the device told back before it answered steadily";
    fx.loop.runUntil(240000);
    qInstallMessageHandler(journal);
    EXPECT_EQ(g_journal.size(), 2) << "lines while the device failed again after it came back";
    EXPECT_EQ(g_journal.value(1), "Device found on COM1 (/dev/ttyS0), answering steadily again");
}

// For a minute of retries the journal hears of a failure once, with what the
// port knows of it, and never of "No response!": nothing was asked.
TEST(Device, PortFailuresAreShownAndRetried)
{
    const struct {
        int open, settings, output;
        const char* text;
        bool watchdog; // enabled before the failing step
        const char *detail, *journal;
    } cases[] = {{comm_error::kInvalidPort, 0, 0, "Invalid Port Number!", true,
                  "ports/com1 leads to x",
                  "Invalid Port Number! (error 8002): ports/com1 leads to x"},
                 {comm_error::kPortInUse, 0, 0, "Port already open!", true, "",
                  "Port already open! (error 8005)"},
                 {0, comm_error::kBadSettings, 0, "COM Port comm-error! 8015", false, "",
                  "COM Port comm-error! 8015"},
                 {0, 0, 8020, "COM Port comm-error! 8020", true, "", "COM Port comm-error! 8020"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CoreFixture fx;
        Monitor& m = fx.start();
        fx.port.openError = c.open;
        fx.port.settingsError = c.settings;
        fx.port.outputError = c.output;
        fx.port.detail = c.detail;
        g_journal.clear();
        const QtMessageHandler journal = qInstallMessageHandler(toJournal);
        fx.loop.runUntil(2500);
        EXPECT_EQ(fx.statusShown(), c.text);
        EXPECT_EQ(fx.colour, colors::kStatusFailure);
        EXPECT_EQ(m.link().awaitingReply(), c.watchdog) << "the watchdog";
        EXPECT_EQ(fx.port.portOpen(), c.output != 0) << "open only when the request failed";
        fx.loop.runUntil(60000);
        qInstallMessageHandler(journal);
        EXPECT_EQ(g_journal, QStringList{QStringLiteral("COM1 (/dev/ttyS0): ") + c.journal});
        fx.port.openError = 0;
        fx.port.settingsError = 0;
        fx.port.outputError = 0;
        fx.loop.runUntil(62500); // the next retry opens it
        EXPECT_EQ(fx.port.writes.size(), 1u);
    }
}

TEST(Device, ContinuousModeSendsNothingAndAnyLineStartsReading)
{
    CoreFixture fx;
    Monitor& m = fx.startWith(settingsWith(0, 8, true, false));
    fx.loop.runUntil(7500);
    EXPECT_TRUE(fx.port.writes.empty()) << "continuous mode sends no recognition request";
    fx.send("OK\r\n");
    EXPECT_EQ(fx.colour, colors::kStatusOk);
    EXPECT_EQ(fx.deviceCode, "QuellmarK: MainForm");
    EXPECT_FALSE(m.sampleClockRunning()) << "continuous mode has no sample clock";
}

TEST(Device, OddLinesOverlongLinesAndOverflowsNeverStopReading)
{
    CoreFixture fx;
    Monitor& m = fx.startWith(settingsWith(0, 8, true, false));
    fx.loop.runUntil(2500);
    fx.send("X\r");
    EXPECT_EQ(fx.statusShown(), kData + "X");
    EXPECT_EQ(fx.colour, colors::kStatusSearching) << "a one-character line";
    fx.send("V01=5\r");
    fx.send("V02=" + std::string(40000, '7'));
    EXPECT_EQ(fx.statusShown(), "???");
    EXPECT_LE(m.link().pendingLine().size(), 32767u);
    fx.send(std::string(100000, '7') + "\rV03=4\r");
    fx.send("V04=" + std::string(32763 - 3, '0') + "1.5\r"); // 32767 characters: a line
    EXPECT_EQ(fx.valueTexts[2], "-") << "an overlong line is dropped";
    EXPECT_EQ(fx.valueTexts[3], "4") << "the line after an overflow";
    EXPECT_EQ(fx.valueTexts[4], "1.5") << "a line of 32767 characters";
    const int lines = fx.log().count('\n');
    EXPECT_EQ(lines, 4);
    fx.send("V01=3E+9\r"); // beyond the scaling
    EXPECT_EQ(fx.statusShown(), "???");
    EXPECT_EQ(fx.valueTexts[1], "5") << "the display is kept";
    EXPECT_EQ(fx.log().count('\n'), lines) << "no evaluation";
    fx.send("V01=2\r");
    EXPECT_EQ(fx.valueTexts[1], "2");
}

// The Baud box: rate, parity, data bits, stop bits; a box that is not all
// four leaves the line as it was.
TEST(Device, LineSettingsFromTheBaudBox)
{
    const struct {
        const char* text;
        bool ok;
        LineSettings line;
    } cases[] = {{"9600,n,8,1", true, {9600, 'n', 8, 2}},
                 {"19200,E,7,2", true, {19200, 'e', 7, 4}},
                 {"4800,o,5,1.5", true, {4800, 'o', 5, 3}},
                 {"9600,n,9,1", false, {}},
                 {"9600,x,8,1", false, {}},
                 {"9600,n,8,3", false, {}},
                 {"9600,n,8", false, {}},
                 {"1234567890,n,8,1", false, {}}};
    const LineSettings before{1, 'm', 6, 3};
    for (const auto& c : cases) {
        LineSettings line = before;
        EXPECT_EQ(parseLineSettings(c.text, line), c.ok) << c.text;
        EXPECT_EQ(line, c.ok ? c.line : before) << c.text;
    }
}

TEST(Device, BytesAreCutIntoLines)
{
    const std::string longLine(LineFramer::kMaxLineLength + 1, '7');
    const struct {
        std::string bytes;
        std::vector<std::string> lines;
        int overlong;
    } cases[] = {{"A\r\nB\rC", {"A", "B"}, 0},
                 {"\r\n\r", {}, 0},
                 {longLine.substr(1) + "\r", {longLine.substr(1)}, 0},
                 {longLine + "\rD\r", {"D"}, 1}};
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        int overlong = 0;
        LineFramer framer([&](const String& l) { lines.push_back(l); },
                          [&](const String&) { ++overlong; });
        framer.feed(c.bytes);
        EXPECT_EQ(lines, c.lines) << "the lines of " << c.bytes.substr(0, 20);
        EXPECT_EQ(overlong, c.overlong) << "overlong lines in " << c.bytes.substr(0, 20);
    }
}

// The first at once, with its reason; how many when a minute has passed
// without one.
TEST(Device, LinesThatCannotBeUsedAreToldOnceASpell)
{
    CoreFixture fx;
    fx.startWith(settingsWith(0, 8, true, false));
    fx.loop.runUntil(2500);
    g_journal.clear();
    const QtMessageHandler journal = qInstallMessageHandler(toJournal);
    for (const char* line : {"V01=abc\r", "\x01\xff\r", "V01=1\r", "1,2,3\r"})
        fx.send(line);
    fx.loop.runUntil(200000);
    qInstallMessageHandler(journal);
    const QString first = "COM1 (/dev/ttyS0): \"V01=abc\" (the value after V01= is not a number)";
    EXPECT_EQ(g_journal,
              (QStringList{"Device found on COM1 (/dev/ttyS0)",
                           "A line the program cannot use from " + first + " - more are counted",
                           "3 lines the program cannot use in 0 s, the first from " + first}));
}

TEST(Device, TheObserversHearEachChangeOfTheLinkOnce)
{
    struct : ReadingObserver {
        QStringList states;
        void readingTaken(const Reading&) override {}
        void linkChanged(const LinkState& state) override { states << state.text(); }
    } heard;
    CoreFixture fx;
    fx.port.openError = comm_error::kInvalidPort;
    fx.start().addObserver(&heard);
    fx.loop.runUntil(5000); // two failed retries
    fx.port.openError = 0;
    fx.loop.runUntil(12500); // opened, asked, unanswered
    fx.port.answering = true;
    fx.loop.runUntil(16000);
    EXPECT_EQ(heard.states, (QStringList{"port error 8002", "no response", "connected"}));
}

TEST(Device, APortWithoutPermissionSaysWhatToDo)
{
    CoreFixture fx;
    fx.port.openError = comm_error::kPermission;
    fx.start();
    fx.loop.runUntil(2500);
    EXPECT_EQ(fx.statusShown(), "COM Port comm-error! 8010");
    EXPECT_TRUE(fx.portNoteShown.startsWith("No permission to open /dev/ttyS0: add your user"))
        << fx.portNoteShown;
    fx.port.openError = 0;
    fx.loop.runUntil(5000);
    EXPECT_EQ(fx.portNoteShown, "") << "once the port opened";
}

} // namespace
} // namespace qm::test
