#include "settings/settings_file.h"
#include "tests/support/app_fixture.h"
#include "tests/support/settings_samples.h"
#include "tests/support/sim_device.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

const QByteArray& kDefaultFile = defaultSettingsFile();

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QByteArray> fileLines(const QString& path)
{
    QList<QByteArray> lines = readAll(path).split('\n');
    for (auto& l : lines)
        l.chop(1);
    return lines;
}

TEST(SettingsWriter, WritesTheDefaultFileByteForByte)
{
    EXPECT_EQ(QByteArray::fromStdString(writeSettingsFile(defaultSettings())), kDefaultFile);
}

TEST(SettingsWriter, WhatItWritesReadsBackTheSame)
{
    SettingsValues s = defaultSettings();
    s.MyLabel[1] = "Tank, left";
    s.MyLabel[2] = "Temp \xB0" "C";
    s.OutName[3] = "a,b,,c";
    s.DevId = "A";
    s.BPass = "";
    s.STime = -5;
    s.RVnr = 12;
    const float singles[] = {0.1f, 1e7f, 12345678.0f, -9999.99f, 1e-7f, 16777217.0f,
                             3.4028235e38f, 1.1754944e-38f, 0.3f, 8.589973e9f};
    for (int i = 1; i <= 8; ++i) {
        s.Nr1[i] = singles[i - 1];
        s.SetLo[i] = singles[(i + 1) % 10];
        s.SetHi[i] = std::nextafter(singles[i - 1], 0.0f);
    }
    const auto back = parseSettingsFile(writeSettingsFile(s));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, s);
}

struct Saving {
    explicit Saving(QLocale locale = QLocale::c(), const QByteArray& file = {})
        : fx(QStringLiteral("quellmark"), locale)
    {
        if (!file.isEmpty())
            fx.writeSettings(file);
        fx.start();
    }
    MainForm& f() { return *fx.form; }
    AppFixture fx;
};

TEST(SettingsSave, SaveCloseWithoutChangesWritesTheDefaultFile)
{
    Saving s;
    s.f().cmdSet_Click();
    s.f().cmdExit_Click();
    EXPECT_EQ(readAll(s.fx.settingsPath()), kDefaultFile);
    EXPECT_FALSE(s.f().frmSet.visible());
}

TEST(SettingsSave, RVnrIsClampedToOneToEight)
{
    const struct {
        const char* entry;
        Integer saved;
    } cases[] = {{"0", 1}, {"-3", 1}, {"12", 8}, {" 5 ", 5}, {"2.5", 2}, {"3.5", 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        Saving s;
        s.f().txtSet1[5].setUserText(QString::fromLatin1(c.entry));
        s.f().cmdSave_Click(1);
        EXPECT_EQ(s.f().RVnr, c.saved);
        EXPECT_TRUE(fileLines(s.fx.settingsPath())[0].startsWith(
            "1,\"9600\",\"\",30," + QByteArray::number(c.saved) + ","));
        // A channel Save leaves the box as typed.
        EXPECT_EQ(s.f().txtSet1[5].text(), QString::fromLatin1(c.entry));
    }
}

TEST(SettingsSave, AChannelSetPointActsFromTheNextEvaluation)
{
    Saving s;
    s.f().VValue[3] = 20;
    s.f().cmdRadni1_Click();
    ASSERT_EQ(s.f().Led1[3].fillStyle(), FillStyle::Solid);
    s.f().txtSetHi[3].setUserText(QStringLiteral("12"));
    s.f().cmdSave_Click(5); // any panel's button saves every panel
    EXPECT_EQ(fileLines(s.fx.settingsPath())[6], "99.9,99.9,12,99.9,99.9,99.9,99.9,99.9");
    EXPECT_EQ(s.f().Led1[3].fillStyle(), FillStyle::Solid); // not at the press
    s.f().cmdRadni1_Click();
    EXPECT_EQ(s.f().Led1[3].fillStyle(), FillStyle::Transparent);
}

TEST(SettingsSave, CommasSurviveAndBPassIsWrittenBack)
{
    Saving s(QLocale::c(), QByteArray(kDefaultFile).replace("\"not used\"", "\"spare\""));
    s.f().txtSetLabel1[1].setUserText(QStringLiteral("Tank, left"));
    s.f().txtOutName[2].setUserText(QStringLiteral("Pump, main"));
    s.f().txtBPass.setUserText(QStringLiteral("ignored while disabled"));
    s.f().cmdSet_Click();
    s.f().cmdExit_Click();
    EXPECT_EQ(s.f().lblMyLbl1[1].text(), QStringLiteral("Tank, left"));
    EXPECT_EQ(s.f().cmdOut[2].text(), QStringLiteral("Pump, main"));
    EXPECT_EQ(s.f().BPass, "spare");
    EXPECT_EQ(s.f().txtBPass.text(), QStringLiteral("spare"));
}

TEST(SettingsSave, SaveCloseClosesTheOpenPortAndReconnectsWithTheNewSettings)
{
    Saving s;
    SimDevice device(s.fx.loop, s.fx.port);
    s.fx.loop.runUntil(3000);
    ASSERT_TRUE(s.fx.port.portOpen());
    s.fx.loop.postAt(5000, [&] {
        s.f().cmdSet_Click();
        s.f().txtSet1[1].setUserText(QStringLiteral("4"));
        s.f().txtSet1[2].setUserText(QStringLiteral("19200"));
        s.f().cmdExit_Click();
    });
    s.fx.loop.runUntil(5000);
    EXPECT_FALSE(s.fx.port.portOpen());
    EXPECT_EQ(s.fx.port.closeCount, 1);
    EXPECT_EQ(s.fx.port.commPort, 4);
    EXPECT_EQ(s.fx.port.settings, "19200,N,8,1");
    EXPECT_EQ(s.f().Caption.text(), QStringLiteral("Quellmark: quellmark"));
    // Start-up ran again (the cycle that was running then reports its
    // skipped requests on the closed port).
    const auto& seen = s.fx.status.texts;
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](const auto& e) {
        return e.at == 5000 && e.text == QStringLiteral("Status:") && e.back == colors::kStatusSearching;
    }));
    EXPECT_TRUE(s.f().Timer1.enabled());
    s.fx.loop.runUntil(7499);
    EXPECT_FALSE(s.fx.port.portOpen());
    s.fx.loop.runUntil(7500);
    EXPECT_TRUE(s.fx.port.portOpen());
    EXPECT_EQ(s.fx.port.settings, "19200,n,8,1");

    // With the port closed there is nothing to close.
    s.fx.port.setPortOpen(false);
    const int closes = s.fx.port.closeCount;
    s.f().cmdExit_Click();
    EXPECT_EQ(s.fx.port.closeCount, closes);
}

TEST(SettingsSave, AChannelSaveLeavesThePortAndTheShownLabelsAlone)
{
    Saving s;
    s.fx.loop.runUntil(3000);
    s.f().txtSetLabel1[2].setUserText(QStringLiteral("Pressure"));
    s.f().txtSetColor1[2].setUserText(QStringLiteral("Y"));
    s.f().txtSet1[1].setUserText(QStringLiteral("7"));
    s.f().cmdSave_Click(2);
    EXPECT_TRUE(s.fx.port.portOpen());
    EXPECT_EQ(s.fx.port.closeCount, 0);
    EXPECT_EQ(s.fx.port.commPort, 1);
    EXPECT_EQ(s.f().ComPort, 7);
    EXPECT_EQ(s.f().MyLabel[2], "Pressure");
    EXPECT_EQ(s.f().lblMyLbl1[2].text(), QStringLiteral("V02 label:"));
    EXPECT_EQ(s.f().lblDIS[2].foreColor(), colors::kRed);
}

TEST(SettingsSave, TheUsersDecimalCommaIsReadAndTheFileKeepsItsPoint)
{
    Saving s(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(s.f().txtSetHi[1].text(), QStringLiteral("99,9"));
    s.f().txtSetHi[1].setUserText(QStringLiteral("12,5"));
    s.f().txtSetNR2[1].setUserText(QStringLiteral(" 0,25 "));
    s.f().cmdSave_Click(1);
    const auto lines = fileLines(s.fx.settingsPath());
    EXPECT_EQ(lines[6], "12.5,99.9,99.9,99.9,99.9,99.9,99.9,99.9");
    EXPECT_EQ(lines[4], "0.25,1,1,1,1,1,1,1");
}

TEST(SettingsSave, AnInvalidEntryChangesNothing)
{
    using Box = Control& (*)(MainForm&);
    const struct {
        Box box;
        const char* entry;
        const char* message;
    } cases[] = {
        {[](MainForm& f) -> Control& { return f.txtSet1[5]; }, "abc", "Invalid entry in RVnr: abc"},
        {[](MainForm& f) -> Control& { return f.txtSetLo[4]; }, "", "Invalid entry in V04 Set Lo: "},
        {[](MainForm& f) -> Control& { return f.txtSet1[4]; }, "40000", "Invalid entry in STime: 40000"},
        {[](MainForm& f) -> Control& { return f.txtSetLabel1[6]; }, "5\" pipe",
         "Invalid entry in V6 label: 5\" pipe"},
        {[](MainForm& f) -> Control& { return f.txtSet1[3]; }, "A\nB", "Invalid entry in ID: A\nB"},
        {[](MainForm& f) -> Control& { return f.txtSetLabel1[1]; }, "\u20AC",
         "Invalid entry in V1 label: \u20AC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Saving s;
        s.fx.loop.runUntil(3000);
        s.f().cmdSet_Click();
        s.f().txtSet1[1].setUserText(QStringLiteral("5")); // read before the bad box
        Control& box = c.box(s.f());
        box.setUserText(QString::fromUtf8(c.entry));
        s.f().cmdExit_Click();
        EXPECT_EQ(s.f().lblStatus.text(), QString::fromUtf8(c.message));
        EXPECT_EQ(s.f().ComPort, 1);
        EXPECT_TRUE(s.fx.port.portOpen());
        EXPECT_FALSE(QFile::exists(s.fx.settingsPath()));
        EXPECT_TRUE(s.f().frmSet.visible());
        // The box keeps the reason after the status line has moved on, until
        // it is edited; another Save marks only what is still wrong.
        s.fx.port.receive("V01=1\r");
        s.fx.loop.runFor(10);
        EXPECT_NE(s.f().lblStatus.text(), QString::fromUtf8(c.message));
        EXPECT_EQ(box.error(), QString::fromUtf8(c.message));
        EXPECT_TRUE(s.f().txtSet1[1].error().isEmpty());
        s.f().cmdSave_Click(2);
        EXPECT_EQ(box.error(), QString::fromUtf8(c.message));
        box.setUserText(box.text());
        EXPECT_TRUE(box.error().isEmpty());
    }
}

TEST(SettingsSave, AFileThatCannotBeWrittenIsReportedAndKeepsEverything)
{
    Saving s;
    s.fx.loop.runUntil(3000);
    // A directory in the file's place: nothing can replace it.
    QDir(s.fx.dir()).mkdir(QStringLiteral("quellmark.ini"));
    s.f().cmdSet_Click();
    s.f().txtSet1[4].setUserText(QStringLiteral("60"));
    s.f().cmdExit_Click();
    const QString message = QStringLiteral("Cannot write settings file ") + s.fx.settingsPath();
    EXPECT_EQ(s.f().lblStatus.text(), message);
    EXPECT_EQ(s.f().STime, 30);
    EXPECT_TRUE(s.fx.port.portOpen());
    EXPECT_TRUE(s.f().frmSet.visible());
    // Every save button keeps the reason until a save succeeds.
    EXPECT_EQ(s.f().cmdExit.error(), message);
    EXPECT_EQ(s.f().cmdSave[8].error(), message);
    QDir(s.fx.dir()).rmdir(QStringLiteral("quellmark.ini"));
    s.f().cmdSave_Click(1);
    EXPECT_TRUE(s.f().cmdExit.error().isEmpty());
    EXPECT_TRUE(s.f().cmdSave[8].error().isEmpty());
    EXPECT_EQ(readAll(s.fx.settingsPath()).left(2), "1,");
}

TEST(SettingsSave, LatinOneBytesSurviveALoadAndASave)
{
    QByteArray file = kDefaultFile;
    file.replace("\"V03 label:\"", "\"Temp \xB0" "C \xFF\x80\"");
    Saving s(QLocale::c(), file);
    s.f().cmdSave_Click(1);
    EXPECT_EQ(readAll(s.fx.settingsPath()), file);
}

} // namespace
} // namespace qm::test
