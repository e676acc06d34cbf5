#include "tests/support/app_fixture.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(Panels, HelpShowsAndHides)
{
    AppFixture fx;
    MainForm& f = fx.start();
    f.cmdHelp_Click();
    f.cmdHelp_Click();
    EXPECT_TRUE(f.frmHelp.visible());
    f.cmdSet_Click();
    EXPECT_TRUE(f.frmHelp.visible()); // the panels are independent
    f.cmdCloseHelp_Click();
    EXPECT_FALSE(f.frmHelp.visible());
    EXPECT_TRUE(f.frmSet.visible());
    // The eleven lines as the help panel lists them, trailing and double
    // blanks included, each ended by CR LF.
    const char* lines[] = {
        "- Set COM port (after connecting USB hardware see com port number in Device Manager)",
        "- Set Baud rate (default 9600)",
        "- Set ID (devices identifier - default NO)",
        "- Set Sample time (0=off(auto read data)  2-32000 sec.) ",
        "- Set the number of reading values (RVnr) 1-8 ",
        "- Check to create a Log file (at sample time) ",
        "- Check to play the wav file (a1) when the alarm is active. ",
        "- Add users labels, set color (W R G B Y),  Math: Displayed V=(V-Nr1)xNr2",
        "- Screen: The Alarm Led (rectangle shape) is red if the measured value is over/under set "
        "value SetHi/SetLo.",
        "- More devices can be connected to different ports copy the exe version under a different "
        "name ",
        "and use the various COM ports.",
    };
    QByteArray expected;
    for (const char* line : lines)
        expected += QByteArray(line) + "\r\n";
    EXPECT_EQ(f.Text1.text().toLatin1(), expected);
}

TEST(Panels, TheCloseQuestion)
{
    using A = Dialogs::Answer;
    for (A answer : {A::No, A::Cancel}) {
        AppFixture fx;
        MainForm& f = fx.start();
        fx.loop.runUntil(2500);
        fx.dialogs.answers = {answer};
        Integer cancel = 0;
        f.Form_Unload(cancel);
        EXPECT_EQ(cancel, 1);
        EXPECT_TRUE(fx.port.portOpen());
        ASSERT_EQ(fx.dialogs.asked.size(), 1u);
        EXPECT_EQ(fx.dialogs.asked[0], QStringLiteral("Do you want to close/exit App ? | Exit Dialog"));
        EXPECT_TRUE(fx.loop.runUntil(6000)); // still running
    }
    for (bool open : {true, false}) {
        AppFixture fx;
        MainForm& f = fx.start();
        if (open)
            fx.loop.runUntil(2500);
        fx.dialogs.answers = {A::Yes};
        fx.loop.post([&] {
            Integer cancel = 0;
            f.Form_Unload(cancel);
        });
        EXPECT_FALSE(fx.loop.runUntil(10000));
        EXPECT_TRUE(fx.loop.terminated());
        EXPECT_EQ(fx.loop.exitCode(), 0);
        EXPECT_FALSE(fx.port.portOpen());
        EXPECT_EQ(fx.port.closeCount, open ? 1 : 0);
    }
}

TEST(Panels, OpeningTheSettingsPanelStopsTheSampleClockOnly)
{
    AppFixture fx;
    MainForm& f = fx.start();
    f.StTimer.setEnabled(true);
    f.cmdSet_Click();
    EXPECT_FALSE(f.StTimer.enabled());
    EXPECT_TRUE(f.Timer1.enabled());
    // The boxes are not refreshed on opening.
    f.txtSet1[4].setUserText(QStringLiteral("99"));
    f.cmdSet_Click();
    EXPECT_EQ(f.txtSet1[4].text(), QStringLiteral("99"));
}

} // namespace
} // namespace qm::test
