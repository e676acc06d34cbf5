#include "tests/support/app_fixture.h"
#include "tests/support/settings_samples.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// An application whose port is open, with lines passed to the interpreter
// recorded as they arrive.
struct Receiver {
    explicit Receiver(const char* firstLine = "1,\"9600\",\"\",30,8,\"x\",0,0")
    {
        fx.writeSettings(settingsFileWithFirstLine(firstLine));
        fx.start();
        fx.loop.runUntil(2500); // INIT opens the port
        fx.port.writes.clear();
    }
    MainForm& f() { return *fx.form; }
    void send(const std::string& bytes)
    {
        fx.port.receive(bytes);
        fx.loop.runFor(0);
    }
    AppFixture fx;
};

TEST(Receive, LineEnds)
{
    const struct {
        const char* what;
        std::string bytes;
        const char* lastLine; // as the status line shows it
        int lines;
    } cases[] = {
        {"CR", "V01=1\r", "V01=1", 1},
        {"CR LF", "V01=1\r\n", "V01=1", 1},
        {"LF CR", "V01=1\n\r", "V01=1", 1},
        {"CR CR drops the empty line", "V01=1\r\rV02=2\r", "V02=2", 2},
        {"LF alone does not end a line", "V01=1\nV02=2\r", "V01=1V02=2", 1},
        {"no line end yet", "V01=1", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Receiver r;
        const auto before = r.fx.status.texts.size();
        r.send(c.bytes);
        int lines = 0;
        for (std::size_t i = before; i < r.fx.status.texts.size(); ++i)
            if (r.fx.status.texts[i].text.startsWith(QStringLiteral("COM:1 Baud:9600 COM data: ")) &&
                (i == before || r.fx.status.texts[i].text != r.fx.status.texts[i - 1].text))
                ++lines;
        EXPECT_EQ(lines, c.lines);
        if (c.lastLine) {
            EXPECT_EQ(r.f().lblStatus.text(),
                      QStringLiteral("COM:1 Baud:9600 COM data: ") + QString::fromLatin1(c.lastLine));
        }
    }
}

TEST(Receive, ALineInPiecesIsOneLine)
{
    Receiver r("1,\"9600\",\"\",0,8,\"x\",0,0");
    r.send("V0");
    r.send("3=2");
    r.send("1.5\r");
    r.send("\n");
    EXPECT_EQ(r.f().lblDIS[3].text(), QStringLiteral("21.5"));
}

TEST(Receive, ValuePrefixRules)
{
    const struct {
        const char* devId;
        std::string line;
        int channel;        // 0: no channel matched
        const char* display; // of that channel
    } cases[] = {
        {"", "V05=12.3", 5, "12.3"},
        {"A", "AV05=12.3", 5, "12.3"},
        {"", "V9=1", 0, nullptr},
        {"", "V09=1", 0, nullptr},
        {"", "v01=1", 0, nullptr},
        {"A", "V01=1", 0, nullptr},
        {"AB", "ABV01=5", 0, nullptr},
        {"", "V01=1V02=2", 1, "1"},
        {"", "V08= 7", 8, "7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string first = std::string("1,\"9600\",\"") + c.devId + "\",0,8,\"x\",0,0";
        Receiver r(first.c_str());
        r.send(c.line + "\r");
        for (int i = 1; i <= 8; ++i) {
            if (i == c.channel)
                EXPECT_EQ(r.f().lblDIS[i].text(), QString::fromLatin1(c.display)) << i;
            else
                EXPECT_EQ(r.f().lblDIS[i].text(), QStringLiteral("-")) << i;
        }
    }
}

TEST(Receive, AValueTextEqualToALaterPrefixFeedsThatChannelToo)
{
    Receiver r("1,\"9600\",\"\",0,8,\"x\",0,0");
    r.send("V01=V02=\r");
    // Both read V02= as no number: 0.
    EXPECT_EQ(r.f().lblDIS[1].text(), QStringLiteral("0"));
    EXPECT_EQ(r.f().lblDIS[2].text(), QStringLiteral("0"));
    EXPECT_EQ(r.f().lblDIS[3].text(), QStringLiteral("-"));
}

TEST(Receive, RecognitionInSampledMode)
{
    Receiver r;
    r.send("O");
    r.send("K\r\n");
    EXPECT_EQ(r.f().lblStatus.text(), QStringLiteral(" QmkApp recognition is OK! "));
    EXPECT_EQ(r.f().lblStatus.backColor(), colors::kStatusOk);
    EXPECT_FALSE(r.f().Timer1.enabled());
    EXPECT_TRUE(r.f().StTimer.enabled());
    EXPECT_EQ(r.f().STimerCnt, 29);

    // DevId AB: recognised, though its value lines never are.
    Receiver ab("1,\"9600\",\"AB\",30,8,\"x\",0,0");
    ab.send("ABOK\r");
    EXPECT_TRUE(ab.f().StTimer.enabled());
    ab.send("OK\r");
    EXPECT_EQ(ab.f().lblStatus.text(), QStringLiteral("COM:1 Baud:9600 COM data: OK"));
}

TEST(Receive, AnyLineStartsContinuousReadingAndIsEvaluated)
{
    Receiver r("1,\"9600\",\"\",0,8,\"x\",1,0");
    r.f().VValue[2] = 150.0f;
    r.send("OK\r\n");
    EXPECT_EQ(r.f().lblStatus.text(), QStringLiteral("COM:1 Baud:9600 COM data: OK"));
    EXPECT_EQ(r.f().lblStatus.backColor(), colors::kStatusOk);
    EXPECT_FALSE(r.f().Timer1.enabled());
    EXPECT_FALSE(r.f().StTimer.enabled());
    EXPECT_EQ(r.f().lblDevCode.text(), QStringLiteral("QuellmarK: MainForm"));
    EXPECT_EQ(r.f().lblDIS[1].text(), QStringLiteral("-"));
    // The evaluation ran.
    EXPECT_EQ(r.f().Led1[2].fillStyle(), FillStyle::Transparent);
}

TEST(Receive, AOneCharacterLineKeepsTheColourAndStopsTheWatchdog)
{
    Receiver r;
    ASSERT_TRUE(r.f().TimerCom.enabled());
    r.send("X\r");
    EXPECT_EQ(r.f().lblStatus.text(), QStringLiteral("COM:1 Baud:9600 COM data: X"));
    EXPECT_EQ(r.f().lblStatus.backColor(), colors::kStatusSearching);
    EXPECT_FALSE(r.f().TimerCom.enabled());
}

TEST(Receive, AnOverlongLineIsDroppedAndReadingGoesOn)
{
    Receiver r("1,\"9600\",\"\",0,8,\"x\",0,0");
    r.send("V01=5\r");
    r.send("V02=" + std::string(40000, '7'));
    EXPECT_EQ(r.f().lblStatus.text(), QStringLiteral("???"));
    EXPECT_LE(r.f().RxBuf.size(), 32767u);
    r.send(std::string(100000, '7') + "\rV03=4\r");
    EXPECT_EQ(r.f().lblDIS[2].text(), QStringLiteral("-"));
    EXPECT_EQ(r.f().lblDIS[3].text(), QStringLiteral("4"));
    EXPECT_EQ(r.f().lblDIS[1].text(), QStringLiteral("5"));

    // 32767 characters are still a line.
    r.send("V04=" + std::string(32763 - 3, '0') + "1.5\r");
    EXPECT_EQ(r.f().lblDIS[4].text(), QStringLiteral("1.5"));
}

TEST(Receive, AnOverflowingValueShowsQuestionMarksAndSkipsTheEvaluation)
{
    Receiver r("1,\"9600\",\"\",0,8,\"x\",1,0");
    r.send("V01=12\r");
    ASSERT_EQ(r.f().lblDIS[1].text(), QStringLiteral("12"));
    const QString logDir = r.fx.dir() + QStringLiteral("/quellmarkLog");
    r.send("V01=3E+9\r");
    EXPECT_EQ(r.f().lblStatus.text(), QStringLiteral("???"));
    EXPECT_EQ(r.f().lblDIS[1].text(), QStringLiteral("12")); // previous display kept
    EXPECT_EQ(r.f().VValue[1], 3e9f);                        // the scaled, unrounded value
    // Nothing evaluated: one log line (from the first reply), not two.
    QFile log(logDir + QStringLiteral("/250312.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count('\n'), 1);
    // The next line is processed normally.
    r.send("V01=2\r");
    EXPECT_EQ(r.f().lblDIS[1].text(), QStringLiteral("2"));
}

} // namespace
} // namespace qm::test
