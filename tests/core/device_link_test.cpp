#include "device/requests.h"
#include "tests/support/app_fixture.h"
#include "tests/support/settings_samples.h"
#include "tests/support/sim_device.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

std::string hex(const std::string& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST(Requests, BytesOnTheWire)
{
    const struct {
        std::string bytes;
        const char* hex;
    } cases[] = {
        {recognitionRequest(""), "41 54 0D"},
        {recognitionRequest("A"), "41 41 54 0D"},
        {readRequest(""), "0D 4F 41 0D"},
        {readRequest("A"), "0D 41 4F 41 0D"},
        {valueRequest("", 3), "0D 56 30 33 0D"},
        {valueRequest("", 8), "0D 56 30 38 0D"},
        {outputRequest("", 5, true), "0D 4F 35 48 0D"},
        {outputRequest("A", 8, true), "0D 41 4F 38 48 0D"},
        {outputRequest("", 1, false), "0D 4F 31 4C 0D"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex(c.bytes), c.hex);
}

TEST(Connection, FirstInitAt2500msOpensThePortAndAsksForTheDevice)
{
    AppFixture fx;
    MainForm& f = fx.start();
    fx.loop.runUntil(2500);
    EXPECT_TRUE(fx.port.portOpen());
    EXPECT_EQ(fx.port.settings, "9600,n,8,1");
    EXPECT_EQ(fx.port.handshaking, 0);
    EXPECT_FALSE(fx.port.dtr);
    EXPECT_FALSE(fx.port.rts);
    EXPECT_EQ(fx.port.rThreshold, 1);
    ASSERT_EQ(fx.port.writes.size(), 1u);
    EXPECT_EQ(fx.port.writes[0].at, 2500);
    EXPECT_EQ(fx.port.writes[0].bytes, "AT\r");
    EXPECT_EQ(f.lblStatus.text(), QStringLiteral("Searching for uc code..."));
    EXPECT_EQ(f.lblStatus.backColor(), (Rgb{255, 255, 192}));
    EXPECT_TRUE(f.TimerCom.enabled());
}

TEST(Connection, ASilentDeviceIsReportedAt7500msAndTheRetriesGoOn)
{
    AppFixture fx;
    MainForm& f = fx.start();
    fx.loop.runUntil(7499);
    EXPECT_EQ(f.lblStatus.text(), QStringLiteral("Searching for uc code..."));
    EXPECT_FALSE(fx.status.contains(QStringLiteral("No response!")));
    fx.loop.runUntil(7500);
    // The watchdog enabled by the first INIT fires first; the retry at the same
    // moment then searches again.
    ASSERT_TRUE(fx.status.contains(QStringLiteral("No response!")));
    const auto& seen = fx.status.texts;
    const auto it = std::find_if(seen.begin(), seen.end(),
                                 [](const auto& e) { return e.text == QStringLiteral("No response!"); });
    EXPECT_EQ(it->at, 7500);
    EXPECT_EQ(it->back, (Rgb{255, 128, 128}));
    EXPECT_EQ(fx.port.openCount, 1); // the open port is never reopened
    EXPECT_EQ(fx.port.writes.size(), 3u); // AT at 2500, 5000, 7500

    // The INIT at 5000 did not restart the watchdog; the one at 7500 started a
    // new period, so the next report comes at 12500.
    fx.loop.runUntil(12499);
    EXPECT_EQ(fx.status.count(QStringLiteral("No response!")), 1);
    fx.loop.runUntil(12500);
    EXPECT_EQ(fx.status.count(QStringLiteral("No response!")), 2);
}

TEST(Connection, ContinuousModeOpensAndSendsNothing)
{
    AppFixture fx;
    fx.writeSettings(settingsFileWithFirstLine("1,\"9600\",\"\",0,8,\"x\",0,0"));
    fx.start();
    fx.loop.runUntil(10000);
    EXPECT_TRUE(fx.port.portOpen());
    EXPECT_TRUE(fx.port.writes.empty());
    EXPECT_TRUE(fx.status.contains(QStringLiteral("No response!")));
}

TEST(Connection, PortFailuresAreShownAndRetried)
{
    const struct {
        int error;
        const char* text;
    } cases[] = {
        {comm_error::kInvalidPort, "Invalid Port Number!"},
        {comm_error::kPortInUse, "Port already open!"},
        {comm_error::kPermission, "COM Port comm-error! 8010"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        AppFixture fx;
        MainForm& f = fx.start();
        fx.port.openError = c.error;
        fx.loop.runUntil(2500);
        EXPECT_EQ(f.lblStatus.text(), QString::fromLatin1(c.text));
        EXPECT_EQ(f.lblStatus.backColor(), (Rgb{255, 128, 128}));
        EXPECT_TRUE(f.TimerCom.enabled()); // enabled before the open attempt
        EXPECT_TRUE(fx.port.writes.empty());
        fx.loop.runUntil(5000);
        EXPECT_EQ(f.lblStatus.text(), QString::fromLatin1(c.text));
        // Once the port can be had, the next retry opens it.
        fx.port.openError = 0;
        fx.loop.runUntil(7500);
        EXPECT_TRUE(fx.port.portOpen());
        EXPECT_EQ(fx.port.writes.size(), 1u);
    }
}

TEST(Connection, ABaudTextThePortRefusesFailsBeforeTheWatchdog)
{
    AppFixture fx;
    MainForm& f = fx.start();
    fx.port.settingsError = comm_error::kBadSettings;
    fx.loop.runUntil(2500);
    EXPECT_EQ(f.lblStatus.text(), QStringLiteral("COM Port comm-error! 8015"));
    EXPECT_FALSE(f.TimerCom.enabled());
    EXPECT_FALSE(fx.port.portOpen());
}

TEST(Connection, RecognitionStopsTheRetries)
{
    AppFixture fx;
    fx.writeSettings(settingsFileWithFirstLine("1,\"9600\",\"A\",30,8,\"x\",0,0"));
    MainForm& f = fx.start();
    fx.port.onWrite = [&](const std::string& bytes) {
        if (bytes == "AAT\r")
            fx.port.receiveAt(fx.loop.now() + 40, "AOK\r\n");
    };
    fx.loop.runUntil(2600);
    EXPECT_FALSE(f.Timer1.enabled());
    EXPECT_FALSE(f.TimerCom.enabled());
    EXPECT_TRUE(f.StTimer.enabled());
    EXPECT_EQ(f.STimerCnt, 29);
    EXPECT_EQ(f.lblStatus.text(), QStringLiteral(" QmkApp recognition is OK! "));
    EXPECT_EQ(f.lblStatus.backColor(), (Rgb{0, 192, 0}));
    EXPECT_EQ(f.lblDevCode.text(), QStringLiteral("QuellmarK: MainForm"));
    fx.loop.runUntil(3500);
    EXPECT_EQ(fx.port.writes.size(), 1u); // no more AT: the sample clock takes over
    EXPECT_FALSE(fx.status.contains(QStringLiteral("No response!")));
}

TEST(Connection, ReadRequestWaitsThenSends)
{
    AppFixture fx;
    MainForm& f = fx.start();
    fx.loop.runUntil(2500);
    fx.port.writes.clear();
    f.TimerCom.setEnabled(false);
    fx.loop.post([&] { f.cmdIspis_Click(); });
    fx.loop.runUntil(3000);
    ASSERT_EQ(fx.port.writes.size(), 1u);
    EXPECT_EQ(fx.port.writes[0].bytes, "\rOA\r");
    EXPECT_EQ(fx.port.writes[0].at, 2700);
    EXPECT_TRUE(f.TimerCom.enabled());
}

TEST(Connection, AFailedReadRequestEndsTheProgramThreeSecondsLater)
{
    AppFixture fx;
    MainForm& f = fx.start(); // port closed: the send fails
    fx.loop.postAt(1000, [&] { f.cmdIspis_Click(); });
    EXPECT_FALSE(fx.loop.runUntil(10000));
    EXPECT_TRUE(fx.loop.terminated());
    EXPECT_EQ(fx.loop.now(), 4200);
    EXPECT_EQ(fx.loop.exitCode(), 1); // ended by a failure, not by the user
    const auto& shown = fx.status.texts;
    const auto it = std::find_if(shown.begin(), shown.end(), [](const auto& e) {
        return e.text == QStringLiteral("COM Port communication error! Close App! 8018");
    });
    ASSERT_NE(it, shown.end());
    EXPECT_EQ(it->at, 1200);
    // The window stayed alive during the wait: the retry still ran.
    EXPECT_EQ(fx.port.openCount, 1);
}

TEST(Connection, OutputButtonsSendByTheirColour)
{
    AppFixture fx;
    fx.writeSettings(settingsFileWithFirstLine("1,\"9600\",\"A\",30,8,\"x\",0,0"));
    MainForm& f = fx.start();
    fx.loop.runUntil(2500);
    fx.port.writes.clear();
    f.cmdOut_Click(8);
    f.cmdOut_Click(8);
    f.cmdOut[3].setBackColor(colors::kStatusOk);
    f.cmdOut_Click(3);
    f.cmdOut[4].setBackColor(colors::kRed);
    f.cmdOut_Click(4);
    ASSERT_EQ(fx.port.writes.size(), 3u);
    EXPECT_EQ(hex(fx.port.writes[0].bytes), "0D 41 4F 38 48 0D");
    EXPECT_EQ(fx.port.writes[1].bytes, fx.port.writes[0].bytes);
    EXPECT_EQ(fx.port.writes[2].bytes, "\rAO3L\r");
    EXPECT_EQ(f.cmdOut[8].backColor(), colors::kButtonFace);
}

TEST(Connection, TheHalfSecondPauseLetsEventsRun)
{
    AppFixture fx;
    MainForm& f = fx.start();
    Millis returned = -1;
    fx.port.setPortOpen(true);
    fx.port.receiveAt(1200, "X\r");
    fx.loop.postAt(1000, [&] {
        f.cmdKasnjenje_Click();
        returned = fx.loop.now();
    });
    fx.loop.runUntil(2000);
    EXPECT_EQ(returned, 1500);
    EXPECT_TRUE(fx.status.contains(QStringLiteral("COM:1 Baud:9600 COM data: X")));
}

TEST(Connection, AnUnpluggedAdapterIsShownAndFoundAgain)
{
    for (const char* mode : {"0", "30"}) {
        SCOPED_TRACE(mode);
        AppFixture fx;
        fx.writeSettings(settingsFileWithFirstLine(std::string("1,\"9600\",\"\",") + mode + ",8,\"x\",0,0"));
        MainForm& f = fx.start();
        SimDevice device(fx.loop, fx.port);
        fx.port.receiveAt(2600, "V01=1\r");
        fx.port.loseDeviceAt(4000);
        fx.port.receiveAt(9000, "V01=2\r");
        fx.loop.runUntil(10000);

        const auto& seen = fx.status.texts;
        const auto lost = std::find_if(seen.begin(), seen.end(), [](const auto& e) {
            return e.text == QStringLiteral("COM Port comm-error! 8021");
        });
        ASSERT_NE(lost, seen.end());
        EXPECT_EQ(lost->at, 4000);
        EXPECT_EQ(lost->back, colors::kStatusFailure);
        // The retry opened the port again 2500 ms later and reading resumed.
        EXPECT_EQ(fx.port.openCount, 2);
        EXPECT_TRUE(fx.port.portOpen());
        EXPECT_FALSE(f.Timer1.enabled());
        if (std::string(mode) == "30")
            EXPECT_TRUE(f.StTimer.enabled());
        else
            EXPECT_EQ(f.lblDIS[1].text(), QStringLiteral("2"));
    }
}

} // namespace
} // namespace qm::test
