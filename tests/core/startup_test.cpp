#include "tests/support/app_fixture.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

const QByteArray kSevenLines =
    "1,\"9600\",\"\",30,8,\"not used\",0,0\r\n"
    "\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n"
    "\"W\",\"R\",\"G\",\"B\",\"Y\",\"W\",\"R\",\"G\"\r\n"
    "0,0,0,0,0,0,0,0\r\n"
    "1,1,1,1,1,1,1,1\r\n"
    "\"OUT1\",\"OUT2\",\"OUT3\",\"OUT4\",\"OUT5\",\"OUT6\",\"OUT7\",\"OUT8\"\r\n"
    "99.9,99.9,99.9,99.9,99.9,99.9,99.9,99.9\r\n";

QByteArray fileWith(const QByteArray& firstLine, const QByteArray& colours = "\"R\",\"r\",\"Blue\",\"B\",\"Y\",\"\",\"G\",\"W\"")
{
    return firstLine + "\r\n"
                       "\"Pump\",\"Tank, left\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n" +
           colours +
           "\r\n"
           "1.5,0,0,0,0,0,0,0\r\n"
           "2,1,1,1,1,1,1,1\r\n"
           "\"P1\",\"P2\",\"P3\",\"P4\",\"P5\",\"P6\",\"P7\",\"P8\"\r\n"
           "12.5,99.9,99.9,99.9,99.9,99.9,99.9,99.9\r\n"
           "-3,0,0,0,0,0,0,0\r\n";
}

TEST(Startup, WithoutASettingsFileTheDefaultsAreShownAndNoFileIsCreated)
{
    AppFixture fx(QStringLiteral("pump"));
    MainForm& f = fx.start();

    EXPECT_EQ(f.Caption.text(), QStringLiteral("Quellmark: pump"));
    EXPECT_EQ(f.lblStatus.text(), QStringLiteral("Status:"));
    EXPECT_EQ(f.lblStatus.backColor(), (Rgb{255, 255, 192}));
    EXPECT_EQ(f.IniFile, fx.settingsPath());
    EXPECT_FALSE(QFileInfo::exists(fx.settingsPath()));

    EXPECT_EQ(f.txtSet1[1].text(), QStringLiteral("1"));
    EXPECT_EQ(f.txtSet1[2].text(), QStringLiteral("9600"));
    EXPECT_EQ(f.txtSet1[3].text(), QString());
    EXPECT_EQ(f.txtSet1[4].text(), QStringLiteral("30"));
    EXPECT_EQ(f.txtSet1[5].text(), QStringLiteral("8"));
    EXPECT_EQ(f.txtBPass.text(), QStringLiteral("not used"));
    EXPECT_FALSE(f.Chk1.checked());
    EXPECT_FALSE(f.Chk2.checked());
    const Rgb displayColours[] = {colors::kWhite, colors::kRed,   colors::kGreen, colors::kCyan,
                                  colors::kYellow, colors::kWhite, colors::kRed,   colors::kGreen};
    for (int i = 1; i <= 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f.lblMyLbl1[i].text(), QStringLiteral("V0%1 label:").arg(i));
        EXPECT_EQ(f.txtSetLabel1[i].text(), QStringLiteral("V0%1 label:").arg(i));
        EXPECT_EQ(f.lblDIS[i].foreColor(), displayColours[i - 1]);
        EXPECT_EQ(f.lblDIS[i].text(), QStringLiteral("-"));
        EXPECT_EQ(f.txtSetNR1[i].text(), QStringLiteral("0"));
        EXPECT_EQ(f.txtSetNR2[i].text(), QStringLiteral("1"));
        EXPECT_EQ(f.txtSetHi[i].text(), QStringLiteral("99.9"));
        EXPECT_EQ(f.txtSetLo[i].text(), QStringLiteral("0"));
        EXPECT_EQ(f.cmdOut[i].text(), QStringLiteral("OUT%1").arg(i));
        EXPECT_EQ(f.txtOutName[i].text(), QStringLiteral("OUT%1").arg(i));
    }
    EXPECT_FALSE(f.frmNevidi.visible());
    EXPECT_FALSE(f.frmSet.visible());
    EXPECT_FALSE(f.frmHelp.visible());

    // Handed to the serial layer, not opened.
    EXPECT_EQ(fx.port.commPort, 1);
    EXPECT_EQ(fx.port.settings, "9600,N,8,1");
    EXPECT_FALSE(fx.port.portOpen());
}

TEST(Startup, OnlyTheRetryTimerRunsAndItFirstTicksAfter2500ms)
{
    AppFixture fx;
    MainForm& f = fx.start();
    EXPECT_TRUE(f.Timer1.enabled());
    EXPECT_FALSE(f.StTimer.enabled());
    EXPECT_FALSE(f.TimerCom.enabled());
    EXPECT_FALSE(f.TimerWav.enabled());
    EXPECT_EQ(fx.loop.activeTimers(), 1);

    fx.loop.runUntil(2499);
    EXPECT_EQ(f.lblStatus.text(), QStringLiteral("Status:"));
    EXPECT_EQ(fx.port.openCount, 0);
    fx.loop.runUntil(2500);
    EXPECT_EQ(f.lblStatus.text(), QStringLiteral("Searching for uc code..."));
}

TEST(Startup, TheExampleFileIsLoadedAndShown)
{
    AppFixture fx;
    fx.writeSettings(fileWith("3,\"19200\",\"A\",0,4,\"x\",1,1"));
    MainForm& f = fx.start();

    EXPECT_EQ(f.ComPort, 3);
    EXPECT_EQ(fx.port.commPort, 3);
    EXPECT_EQ(fx.port.settings, "19200,N,8,1");
    EXPECT_EQ(f.DevId, "A");
    EXPECT_EQ(f.txtSet1[3].text(), QStringLiteral("A"));
    EXPECT_EQ(f.STime, 0);
    EXPECT_FALSE(f.StTimer.enabled());
    EXPECT_EQ(f.RVnr, 4);
    EXPECT_TRUE(f.Chk1.checked());
    EXPECT_TRUE(f.Chk2.checked());
    EXPECT_EQ(f.txtBPass.text(), QStringLiteral("x"));
    EXPECT_EQ(f.lblMyLbl1[2].text(), QStringLiteral("Tank, left"));
    EXPECT_EQ(f.txtSetNR1[1].text(), QStringLiteral("1.5"));
    EXPECT_EQ(f.txtSetNR2[1].text(), QStringLiteral("2"));
    EXPECT_EQ(f.txtSetHi[1].text(), QStringLiteral("12.5"));
    EXPECT_EQ(f.txtSetLo[1].text(), QStringLiteral("-3"));
    EXPECT_EQ(f.cmdOut[8].text(), QStringLiteral("P8"));

    // Colour letters are exact: lower-case r, Blue and empty stay white.
    const Rgb expected[] = {colors::kRed,  colors::kWhite, colors::kWhite, colors::kCyan,
                            colors::kYellow, colors::kWhite, colors::kGreen, colors::kWhite};
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(f.lblDIS[i].foreColor(), expected[i - 1]) << i;
}

TEST(Startup, SetBoxesShowTheLocaleDecimalSeparator)
{
    AppFixture fx(QStringLiteral("quellmark"), QLocale(QLocale::German, QLocale::Germany));
    fx.writeSettings(fileWith("1,\"9600\",\"\",30,8,\"x\",0,0"));
    MainForm& f = fx.start();
    EXPECT_EQ(f.txtSetHi[1].text(), QStringLiteral("12,5"));
    EXPECT_EQ(f.txtSetNR1[1].text(), QStringLiteral("1,5"));
    EXPECT_EQ(f.txtSetHi[2].text(), QStringLiteral("99,9"));
}

TEST(Startup, OutOfRangeValuesAreLoadedAsTheyStand)
{
    AppFixture fx;
    fx.writeSettings(fileWith("1,\"9600\",\"\",30,12,\"x\",0,0"));
    MainForm& f = fx.start();
    EXPECT_EQ(f.RVnr, 12);
    EXPECT_EQ(f.txtSet1[5].text(), QStringLiteral("12"));
}

TEST(Startup, AFileThatFailsToReadGivesTheWholeDefaultSet)
{
    const QByteArray cases[] = {kSevenLines, fileWith("1,\"9600\",\"\",30,40000,\"x\",0,0"),
                                fileWith("abc,\"9600\",\"\",30,8,\"x\",0,0")};
    for (const QByteArray& bytes : cases) {
        AppFixture fx;
        fx.writeSettings(bytes);
        MainForm& f = fx.start();
        EXPECT_EQ(f.lblMyLbl1[1].text(), QStringLiteral("V01 label:"));
        EXPECT_EQ(f.STime, 30);
        EXPECT_EQ(f.RVnr, 8);
        EXPECT_EQ(f.BPass, "not used");
        // The broken file is left alone.
        QFile file(fx.settingsPath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), bytes);
    }
}

TEST(Startup, APortSettingTheSerialLayerRejectsGivesTheDefaults)
{
    AppFixture fx;
    fx.writeSettings(fileWith("3,\"fast\",\"A\",0,4,\"x\",1,1"));
    fx.create();
    fx.port.settingsError = comm_error::kBadSettings;
    // The defaults' settings text is rejected too here: they are still shown.
    fx.form->Form_Load();
    EXPECT_EQ(fx.form->ComPort, 1);
    EXPECT_EQ(fx.form->Baud, "9600");
    EXPECT_EQ(fx.form->txtSet1[2].text(), QStringLiteral("9600"));
    EXPECT_TRUE(fx.form->Timer1.enabled());
}

TEST(Startup, TwoProgramNamesInOneDirectoryUseTwoSettingsFiles)
{
    AppFixture pump1(QStringLiteral("pump1"));
    pump1.writeSettings(fileWith("4,\"9600\",\"\",30,8,\"x\",0,0"));
    // A second instance in the same directory under another name.
    AppFixture pump2(QStringLiteral("pump2"));
    pump2.tmp.remove();
    Platform p{pump2.loop,      pump2.port,
               pump2.sound,     pump2.dialogs,
               pump2.wallClock, ProgramPaths{"pump2", QFile::encodeName(pump1.dir())},
               QLocale::c()};
    MainForm second(p);
    second.Form_Load();
    MainForm& first = pump1.start();

    EXPECT_EQ(first.Caption.text(), QStringLiteral("Quellmark: pump1"));
    EXPECT_EQ(second.Caption.text(), QStringLiteral("Quellmark: pump2"));
    EXPECT_EQ(first.ComPort, 4);
    EXPECT_EQ(second.ComPort, 1);
    EXPECT_NE(first.IniFile, second.IniFile);
    EXPECT_TRUE(second.IniFile.endsWith("/pump2.ini"));
}

TEST(Startup, LatinOneLabelsReachTheScreen)
{
    AppFixture fx;
    QByteArray bytes = fileWith("1,\"9600\",\"\",30,8,\"x\",0,0");
    bytes.replace("\"Pump\"", "\"Temp \xB0" "C\"");
    fx.writeSettings(bytes);
    MainForm& f = fx.start();
    EXPECT_EQ(f.MyLabel[1], "Temp \xB0" "C");
    EXPECT_EQ(f.lblMyLbl1[1].text(), QStringLiteral("Temp \u00B0C"));
}

} // namespace
} // namespace qm::test
