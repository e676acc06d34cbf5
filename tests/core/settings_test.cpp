// The settings file loaded and saved, the panels and the close question.
#include "settings/settings_file.h"
#include "tests/support/app_fixture.h"

#include <QDir>
#include <QFile>

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::test {
namespace {

const QByteArray kExample = "3,\"19200\",\"A\",0,4,\"x\",1,1\r\n"
                            "\"Pump\",\"Tank, left\",\"c\",\"d\",\"e\",\"f\",\"g\",\"\xB0"
                            "C\"\r\n"
                            "\"R\",\"r\",\"Blue\",\"B\",\"Y\",\"\",\"G\",\"W\"\r\n"
                            "1.5,0,0,0,0,0,0,0\r\n"
                            "2,1,1,1,1,1,1,1\r\n"
                            "\"P1\",\"P2\",\"P3\",\"P4\",\"P5\",\"P6\",\"P7\",\"P8\"\r\n"
                            "12.5,99.9,99.9,99.9,99.9,99.9,99.9,99.9\r\n"
                            "-3,0,0,0,0,0,0,0\r\n";

// What the panels show, row by row: label, colour box, display colour, offset,
// factor, Set Hi, Set Lo, output name.
std::vector<QString> shown(const MonitorPresenter& f)
{
    std::vector<QString> out{f.Caption.text(),
                             f.statusLine.text(),
                             f.comPortBox.text(),
                             f.baudBox.text(),
                             f.deviceIdBox.text(),
                             f.sampleTimeBox.text(),
                             f.valueCountBox.text(),
                             f.passwordBox.text(),
                             QString::number(f.logCheck.checked()) +
                                 QString::number(f.soundCheck.checked())};
    for (int i = 1; i <= 8; ++i) {
        const Rgb c = f.valueDisplays[i].foreColor();
        out.push_back(f.labelDisplays[i].text() + "|" + f.labelBoxes[i].text() + "|" +
                      f.colourBoxes[i].text() + "|" +
                      QString::number(c.r * 65536 + c.g * 256 + c.b, 16) + "|" +
                      f.offsetBoxes[i].text() + "|" + f.factorBoxes[i].text() + "|" +
                      f.setHiBoxes[i].text() + "|" + f.setLoBoxes[i].text() + "|" +
                      QString::fromLatin1(f.monitor().settings().outputNames[i]));
    }
    return out;
}

const std::vector<QString> kDefaultsShown = [] {
    std::vector<QString> rows{
        "Quellmark: quellmark", "Status:", "1", "9600", "", "30", "8", "not used", "00"};
    const char* colours[] = {"W|ffffff", "R|ff0000", "G|ff00",   "B|ffff",
                             "Y|ffff00", "W|ffffff", "R|ff0000", "G|ff00"};
    for (int i = 1; i <= 8; ++i)
        rows.push_back(QStringLiteral("V0%1 label:|V0%1 label:|%2|0|1|99.9|0|OUT%1")
                           .arg(i)
                           .arg(colours[i - 1]));
    return rows;
}();

TEST(Settings, WithoutAFileTheDefaultsAreShown)
{
    AppFixture fx;
    MonitorPresenter& f = fx.start();
    EXPECT_EQ(shown(f), kDefaultsShown);
    EXPECT_EQ(f.statusLine.backColor(), colors::kStatusSearching);
    EXPECT_FALSE(QFile::exists(fx.path("quellmark.ini")));
    for (const Control* frame : {&f.settingsPanel, &f.helpPanel})
        EXPECT_FALSE(frame->visible()) << frame->name() << " starts hidden";
}

// A FIFO would block the start for good.
TEST(Settings, AnythingButAGoodFileGivesTheWholeDefaultSet)
{
    const struct {
        const char* what;
        QByteArray file;
        std::function<void(AppFixture&)> arrange;
        const char* tip; // the end of the status line's tooltip
    } cases[] = {
        {"port rejected", kExample, [](AppFixture& fx) { fx.port.setPortOpen(true); },
         "COM3 at 19200 - defaults used"},
        {"settings rejected", kExample,
         [](AppFixture& fx) { fx.port.settingsError = comm_error::kBadSettings; },
         "COM3 at 19200 - defaults used"},
        {"fifo",
         {},
         [](AppFixture& fx) { ::mkfifo(QFile::encodeName(fx.path("quellmark.ini")), 0666); },
         "could not be read - defaults used"},
        {"no number", settingsWithFirstLine("x,\"9600\",\"\",30,8,\"\",0,0"), [](AppFixture&) {},
         "file: line 1: COM \"x\" is not a number - defaults used"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AppFixture fx;
        c.arrange(fx);
        MonitorPresenter& f = fx.start(c.file);
        EXPECT_EQ(shown(f), kDefaultsShown);
        EXPECT_TRUE(f.statusLine.toolTip().endsWith(c.tip)) << f.statusLine.toolTip();
    }
}

// A decimal comma shifts every later item; the retries keep the word.
TEST(Settings, AFileThatLooksWrongLoadsAsItStandsAndIsToldWithItsLine)
{
    AppFixture fx;
    fx.port.openError = comm_error::kInvalidPort;
    fx.port.detail = "no link";
    MonitorPresenter& f = fx.start(QByteArray(kDefaultSettingsFile).replace("99.9,", "99,5,"));
    fx.loop.runUntil(10000);
    EXPECT_EQ(f.monitor().settings().setHi[2], 5.0f) << "taken as it stands";
    EXPECT_TRUE(f.statusLine.toolTip().contains(
        "quellmark.ini: line 7 holds 15 items, not 8 (a decimal comma?)"))
        << f.statusLine.toolTip();
    EXPECT_TRUE(f.statusLine.toolTip().endsWith("setting\nno link")) << f.statusLine.toolTip();
}

struct Saving : AppFixture {
    explicit Saving(QLocale l = QLocale::c())
        : AppFixture(l)
    {
        startWith("1,\"9600\",\"\",30,8,\"not used\",0,0");
        loop.runUntil(3000);
    }
    MonitorPresenter& f() { return *form; }
    QByteArray line(int n) { return file("quellmark.ini").split('\n').value(n - 1).chopped(1); }
};

// Whole numbers are rounded half to even.
TEST(Settings, SaveCloseWritesEveryBoxAndReconnectsWithTheNewPort)
{
    Saving s(QLocale(QLocale::German, QLocale::Germany));
    s.f().openSettings();
    const std::pair<Control*, const char*> edits[] = {
        {&s.f().comPortBox, "4,5"},        {&s.f().baudBox, "19200"},
        {&s.f().deviceIdBox, "A"},         {&s.f().sampleTimeBox, "2,5"},
        {&s.f().valueCountBox, "12"},      {&s.f().labelBoxes[1], "Tank, left"},
        {&s.f().colourBoxes[2], "Y"},      {&s.f().offsetBoxes[3], "1,5"},
        {&s.f().factorBoxes[4], " 0,25 "}, {&s.f().setHiBoxes[6], "12"},
        {&s.f().setLoBoxes[7], "-3,5"},    {&s.f().passwordBox, "ignored while disabled"}};
    for (auto [box, text] : edits)
        box->setUserText(QString::fromLatin1(text));
    s.f().logCheck.setUserChecked(true);
    s.f().saveAndCloseSettings();
    EXPECT_EQ(
        s.file("quellmark.ini"),
        "4,\"19200\",\"A\",2,8,\"not used\",1,0\r\n"
        "\"Tank, left\",\"V02 label:\",\"V03 label:\",\"V04 label:\",\"V05 label:\",\"V06 label:\","
        "\"V07 label:\",\"V08 label:\"\r\n"
        "\"W\",\"Y\",\"G\",\"B\",\"Y\",\"W\",\"R\",\"G\"\r\n"
        "0,0,1.5,0,0,0,0,0\r\n1,1,1,0.25,1,1,1,1\r\n"
        "\"OUT1\",\"OUT2\",\"OUT3\",\"OUT4\",\"OUT5\",\"OUT6\",\"OUT7\",\"OUT8\"\r\n"
        "99.9,99.9,99.9,99.9,99.9,12,99.9,99.9\r\n0,0,0,0,0,0,-3.5,0\r\n");
    EXPECT_FALSE(s.port.portOpen()) << "SAVE-CLOSE closes the port";
    EXPECT_EQ(s.f().labelDisplays[1].text(), "Tank, left");
    EXPECT_EQ(s.port.commPort, 4);
    s.loop.runFor(2499);
    EXPECT_FALSE(s.port.portOpen()) << "the retry starts 2500 ms after SAVE-CLOSE";
    s.loop.runFor(1);
    EXPECT_TRUE(s.port.portOpen());
    EXPECT_EQ(s.port.settings, "19200,n,8,1");
}

TEST(Settings, ARefusedEntryChangesNothingAndStaysMarkedUntilEdited)
{
    const struct {
        const char* name;
        const char* entry;
        const char* reason;
    } cases[] = {{"txtSet1(5)", "abc", "RVnr: abc"},
                 {"txtSetLo(4)", "", "V04 Set Lo: "},
                 {"txtSetHi(2)", "1e39", "V02 Set Hi: 1e39"},
                 {"txtSet1(4)", "40000", "STime: 40000"},
                 {"txtSet1(1)", "-32769", "COM port: -32769"},
                 {"txtSetLabel1(6)", "5\" pipe", "V6 label: 5\" pipe"},
                 {"txtSetColor1(6)", "\r", "V6 color: \r"},
                 {"txtSet1(3)", "A\nB", "ID: A\nB"},
                 {"txtSet1(2)", "\u20AC", "Baud: \u20AC"}};
    for (const auto& [name, entry, reason] : cases) {
        const QString message = "Invalid entry in " + QString::fromUtf8(reason);
        SCOPED_TRACE(name);
        Saving s;
        s.f().openSettings();
        s.f().comPortBox.setUserText("5"); // read before the bad box
        Control* found = nullptr;
        s.f().forEachControl(
            [&, wanted = name](Control& c) { found = c.name() == wanted ? &c : found; });
        Control& box = *found;
        box.setUserText(QString::fromUtf8(entry));
        s.f().saveAndCloseSettings();
        EXPECT_EQ(s.f().statusLine.text(), message);
        EXPECT_EQ(s.f().statusLine.backColor(), colors::kStatusFailure);
        EXPECT_EQ(s.f().monitor().settings().comPort, 1) << "nothing is applied";
        EXPECT_TRUE(s.f().settingsPanel.visible()) << "the panel stays open";
        EXPECT_EQ(s.file("quellmark.ini"), kDefaultSettingsFile);
        s.send("V01=1\r");
        EXPECT_EQ(box.error(), message);
        EXPECT_TRUE(s.f().setHiBoxes[8].error().isEmpty());
        s.f().saveSetPoints(2);
        EXPECT_EQ(box.error(), message);
        box.setUserText(box.text());
        EXPECT_TRUE(box.error().isEmpty());
    }
}

// SAVE-CLOSE failing twice in a row leaves the panel, unsaved: the instance
// reconnects as its file has it.
TEST(Settings, AFileThatCannotBeWrittenMarksEverySaveButtonUntilASaveSucceeds)
{
    Saving s;
    QFile::remove(s.path("quellmark.ini"));
    ASSERT_TRUE(QDir(s.tmp.path()).mkdir("quellmark.ini")); // nothing can replace it
    s.f().openSettings();
    s.f().sampleTimeBox.setUserText("60");
    s.f().saveAndCloseSettings();
    const QString message =
        "Cannot write settings file " + s.path("quellmark.ini") + ": Is a directory";
    EXPECT_EQ(s.f().statusLine.text(), message);
    EXPECT_EQ(s.f().monitor().settings().sampleTime, 30) << "nothing is applied";
    for (Control* c : {&s.f().saveButtons[1], &s.f().saveButtons[8]})
        EXPECT_EQ(c->error(), message);
    EXPECT_TRUE(s.f().settingsPanel.visible()) << "open after the first failure";
    EXPECT_TRUE(s.port.portOpen()) << "the first failure closes nothing";
    s.f().saveAndCloseSettings();
    EXPECT_FALSE(s.f().settingsPanel.visible()) << "left after the second";
    EXPECT_EQ(s.f().statusLine.text(), message + " - not saved");
    EXPECT_EQ(s.f().sampleTimeBox.text(), "30") << "the boxes as the file has them";
    s.loop.runFor(2500);
    EXPECT_TRUE(s.port.portOpen()) << "reconnected";
    QDir(s.tmp.path()).rmdir("quellmark.ini");
    s.f().sampleTimeBox.setUserText("60");
    s.f().saveSetPoints(1);
    for (Control* c : {&s.f().saveCloseButton, &s.f().saveButtons[8]})
        EXPECT_EQ(c->error(), "") << "a successful save clears every mark";
    EXPECT_EQ(s.line(1), "1,\"9600\",\"\",60,8,\"not used\",0,0");
}

// The values just saved are taken as they were written, findings included.
TEST(Settings, SaveCloseTellsWhatLooksWrongInTheValuesSaved)
{
    Saving s;
    s.f().openSettings();
    s.f().sampleTimeBox.setUserText("-5");
    s.f().saveAndCloseSettings();
    EXPECT_EQ(s.f().monitor().settings().sampleTime, -5)
        << "a sample time below 0 is saved as typed";
    EXPECT_TRUE(s.f().statusLine.toolTip().contains("line 1: STime -5 is below 0"))
        << "the tooltip names the finding, as a load of the file would: "
        << s.f().statusLine.toolTip().toStdString();
}

TEST(Settings, PanelsAndTheCloseQuestion)
{
    AppFixture fx;
    MonitorPresenter& f = fx.start();
    f.sampleTimeBox.setUserText("99");
    f.openSettings(); // the boxes are not refreshed
    EXPECT_EQ(f.sampleTimeBox.text(), "99");

    fx.loop.runUntil(2500);
    fx.answers = {Dialogs::Answer::No, Dialogs::Answer::Cancel};
    Integer cancel = 0;
    for (int i = 0; i < 3; ++i) { // No, Cancel, dismissed
        f.askToClose(cancel = 0);
        EXPECT_EQ(cancel, 1);
    }
    EXPECT_EQ(fx.questions, 3);
    EXPECT_TRUE(fx.port.portOpen()) << "only Yes closes";
    fx.answers = {Dialogs::Answer::Yes};
    fx.loop.postAt(3000, [&] { f.askToClose(cancel); });
    EXPECT_FALSE(fx.loop.runUntil(10000));
    EXPECT_EQ(fx.loop.exitCode(), 0);
    EXPECT_FALSE(fx.port.portOpen());
}

} // namespace
} // namespace qm::test
