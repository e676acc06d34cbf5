#include "tests/support/app_fixture.h"
#include "tests/support/settings_samples.h"
#include "tests/support/sim_device.h"

#include <QFile>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// A device answering after 30 ms: INIT at 2500 is recognised at 2530, so the
// sample clock ticks at 3530, 4530, ...
struct Sampled {
    Sampled(int sTime, int rvnr, int logOn = 0, int wavOn = 0)
    {
        fx.writeSettings(settingsFileWithFirstLine("1,\"9600\",\"\"," + std::to_string(sTime) + "," +
                                      std::to_string(rvnr) + ",\"x\"," + std::to_string(logOn) +
                                      "," + std::to_string(wavOn)));
        fx.start();
    }
    MainForm& f() { return *fx.form; }
    // (time, frame) of every value request.
    std::vector<std::pair<Millis, std::string>> valueRequests() const
    {
        std::vector<std::pair<Millis, std::string>> out;
        for (const auto& w : fx.port.writes)
            if (w.bytes.size() == 5 && w.bytes[1] == 'V')
                out.push_back({w.at, w.bytes.substr(1, 3)});
        return out;
    }
    AppFixture fx;
    SimDevice device{fx.loop, fx.port};
};

TEST(Sampling, ThirtySecondCycleWithEightValues)
{
    Sampled s(30, 8);
    s.fx.loop.runUntil(3529);
    EXPECT_EQ(s.f().lblStatus.text(), QStringLiteral(" QmkApp recognition is OK! "));
    EXPECT_TRUE(s.valueRequests().empty());

    s.fx.loop.runUntil(40000);
    const auto reqs = s.valueRequests();
    ASSERT_EQ(reqs.size(), 16u);
    // V01 at once in the tick, then each after the pause that follows the answer.
    for (int n = 1; n <= 8; ++n) {
        EXPECT_EQ(reqs[n - 1].second, "V0" + std::to_string(n));
        EXPECT_EQ(reqs[n - 1].first, 3530 + (n - 1) * 530) << n;
    }
    // The cycle ended at 7270 with the answer to V08; the counter starts over:
    // the next cycle runs at the tick after the one that shows STimer:29.
    EXPECT_EQ(reqs[8].first, 36530);
    EXPECT_EQ(s.f().lblDIS[8].text(), QStringLiteral("8"));

    const auto shown = s.fx.status.shown();
    const auto at = [&](const QString& text) {
        return std::find(shown.begin(), shown.end(), text) - shown.begin();
    };
    EXPECT_LT(at(QStringLiteral(" QmkApp recognition is OK! ")), at(QStringLiteral("STime:30 STimer:29")));
    // Ticks during the cycle count on, then the counter starts again from 0.
    EXPECT_LT(at(QStringLiteral("STime:30 STimer:29")), at(QStringLiteral("STime:30 STimer:31")));
    EXPECT_LT(at(QStringLiteral("STime:30 STimer:32")), at(QStringLiteral("STime:30 STimer:0")));
    EXPECT_LT(at(QStringLiteral("STime:30 STimer:0")), at(QStringLiteral("STime:30 STimer:1")));
    EXPECT_EQ(s.fx.status.count(QStringLiteral("STime:30 STimer:29")), 2);
}

TEST(Sampling, OneSecondWithOneValue)
{
    Sampled s(1, 1);
    s.fx.loop.runUntil(6000);
    const auto reqs = s.valueRequests();
    // Every tick runs a cycle; RVnr 1 pauses before V01. (The cycle of the
    // tick at 5530 runs its pause to its end.)
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0], (std::pair<Millis, std::string>{4030, "V01"}));
    EXPECT_EQ(reqs[1], (std::pair<Millis, std::string>{5030, "V01"}));
    EXPECT_EQ(reqs[2], (std::pair<Millis, std::string>{6030, "V01"}));
    for (const auto& e : s.fx.status.shown()) {
        if (e.startsWith(QStringLiteral("STime:"))) {
            EXPECT_EQ(e, QStringLiteral("STime:1 STimer:0"));
        }
    }
}

TEST(Sampling, ASilentDeviceMakesEachRequestLastFiveAndAHalfSeconds)
{
    Sampled s(30, 3, /*logOn*/ 1);
    s.device.unanswered = {1, 2, 3};
    s.f().VValue[2] = 42; // what the channel held before
    s.fx.loop.runUntil(20030);
    const auto reqs = s.valueRequests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0].first, 4030);
    EXPECT_EQ(reqs[1].first, 9530);
    EXPECT_EQ(reqs[2].first, 15030);
    std::vector<Millis> reports;
    for (const auto& e : s.fx.status.texts)
        if (e.text == QStringLiteral("No response!") && (reports.empty() || reports.back() != e.at))
            reports.push_back(e.at);
    EXPECT_EQ(reports, (std::vector<Millis>{9030, 14530, 20030}));
    QFile log(s.fx.dir() + QStringLiteral("/quellmarkLog/250312.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll(), "\"08:15:20\",0,42,0,0,0,0,0,0\r\n");
}

TEST(Sampling, OpeningTheSettingsPanelLetsTheCycleFinishAndStartsNoOther)
{
    Sampled s(2, 3, /*logOn*/ 1);
    s.fx.loop.postAt(4100, [&] { s.f().cmdSet_Click(); });
    s.fx.loop.runUntil(60000);
    EXPECT_EQ(s.valueRequests().size(), 3u);
    QFile log(s.fx.dir() + QStringLiteral("/quellmarkLog/250312.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count('\n'), 1);
    EXPECT_FALSE(s.f().StTimer.enabled());
}

TEST(Sampling, RVnrOutsideOneToEightSendsNothingAndKeepsTheCounterSmall)
{
    Sampled s(2, 12);
    s.fx.loop.runUntil(100000);
    EXPECT_TRUE(s.valueRequests().empty());
    EXPECT_LE(s.f().STimerCnt, 2);
    EXPECT_TRUE(s.f().StTimer.enabled());
}

TEST(Sampling, TheCounterStaysInRangeWhenTheSampleTimeIsGone)
{
    Sampled s(2, 1);
    s.fx.loop.runUntil(3000);
    s.f().STime = 0; // a channel Save took a new sample time while the clock runs
    s.fx.loop.runUntil(40000000);
    EXPECT_EQ(s.f().STimerCnt, 32767);
}

TEST(Sampling, AFailedSendInACycleIsShownAndTheCycleEndsWithItsEvaluation)
{
    Sampled s(30, 3, /*logOn*/ 1);
    // The adapter is unplugged during the pause before V01 (sent at 4030).
    s.fx.port.loseDeviceAt(3800);
    s.fx.loop.runUntil(6000);
    EXPECT_FALSE(s.fx.loop.terminated());
    EXPECT_TRUE(s.fx.status.contains(QStringLiteral("COM Port comm-error! 8018")));
    QFile log(s.fx.dir() + QStringLiteral("/quellmarkLog/250312.txt"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count('\n'), 1);
}

TEST(Sampling, ARecognitionAnswerDuringACycleStartsNoSecondCycle)
{
    Sampled s(2, 3);
    // The device repeats its recognition answer unasked in the middle of the
    // first cycle (V01 at 4030, V02 at 4560, V03 at 5090).
    s.fx.port.receiveAt(4300, "OK\r\n");
    s.fx.loop.runUntil(5200);
    const auto reqs = s.valueRequests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[1].first, 4560);
    EXPECT_EQ(reqs[2].first, 5090);
    // The tick at 4530 reached the sample time inside the cycle and started
    // nothing; the next cycle follows the counter from 0 again.
    s.fx.loop.runUntil(12000);
    const auto all = s.valueRequests();
    ASSERT_GE(all.size(), 6u);
    for (std::size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i].second, "V0" + std::to_string(i % 3 + 1));
    EXPECT_EQ(all[3].first, 7030);
}

TEST(AlarmSound, FirstSoundThreeSecondsAfterTheAlarmThenEveryThreeSeconds)
{
    Sampled s(0, 8, 0, /*wavOn*/ 1);
    s.fx.loop.runUntil(2600); // port open, continuous
    // A value in alarm every 100 ms.
    for (Millis t = 3000; t < 13000; t += 100)
        s.fx.port.receiveAt(t, "V01=150\r");
    s.fx.loop.runUntil(13050);
    std::vector<Millis> times;
    for (const auto& p : s.fx.sound.plays)
        times.push_back(p.at);
    EXPECT_EQ(times, (std::vector<Millis>{6000, 9000, 12000}));
    EXPECT_EQ(s.fx.sound.plays[0].path, s.fx.dir() + QStringLiteral("/a1.wav"));
}

TEST(AlarmSound, AnAlarmThatClearsWithinThreeSecondsIsSilent)
{
    Sampled s(0, 8, 0, 1);
    s.fx.loop.runUntil(2600);
    s.fx.port.receiveAt(3000, "V01=150\r");
    s.fx.port.receiveAt(5999, "V01=50\r");
    s.fx.loop.runUntil(20000);
    EXPECT_TRUE(s.fx.sound.plays.empty());
    EXPECT_FALSE(s.f().TimerWav.enabled());
}

TEST(AlarmSound, SwitchingTheOptionOffKeepsItRepeating)
{
    Sampled s(0, 8, 0, 1);
    s.fx.loop.runUntil(2600);
    s.fx.port.receiveAt(3000, "V01=150\r");
    s.fx.loop.runUntil(4000);
    s.f().WavOn = 0;
    s.fx.port.receiveAt(5000, "V01=50\r");
    s.fx.loop.runUntil(12500);
    EXPECT_EQ(s.fx.sound.plays.size(), 3u); // 6000, 9000, 12000
    s.f().WavOn = 1;
    s.fx.port.receiveAt(13000, "V01=50\r");
    s.fx.loop.runUntil(30000);
    EXPECT_EQ(s.fx.sound.plays.size(), 3u);
}

} // namespace
} // namespace qm::test
