#include "channels/value_text.h"
#include "sampling/log_file.h"
#include "tests/support/app_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qm::test {
namespace {

TEST(ValueText, NumberReading)
{
    const struct {
        const char* text;
        float value;
    } cases[] = {
        {"23.47", 23.47f}, {"12.5abc", 12.5f}, {"abc", 0.0f},     {"", 0.0f},
        {"1 2.5", 12.5f},  {" \t\n-7", -7.0f}, {"+3", 3.0f},      {".5", 0.5f},
        {"5.", 5.0f},      {"1.2.3", 1.2f},    {"1E3", 1000.0f},  {"1D2", 100.0f},
        {"2e-1", 0.2f},    {"12E", 12.0f},     {"12E+", 12.0f},   {"- 4", -4.0f},
        {"1,5", 1.0f},     {"0x10", 0.0f},     {"1e-60", 0.0f},   {"V02=", 0.0f},
    };
    for (const auto& c : cases)
        EXPECT_EQ(valueOfText(c.text), c.value) << c.text;
    // Beyond the Single range an infinity, however far beyond (past double's
    // range too); below it a zero.
    const std::string digits309 = "1" + std::string(308, '0');
    const std::string tiny = "0." + std::string(400, '0') + "1";
    const struct {
        std::string text;
        float value;
    } beyond[] = {
        {"1E+39", INFINITY},   {"1e400", INFINITY},       {"-1e400", -INFINITY},
        {digits309, INFINITY}, {"-" + digits309, -INFINITY}, {"0.001e999999999999", INFINITY},
        {"1e-400", 0.0f},      {tiny, 0.0f},              {"100e-50", 0.0f},
        {"-0.01e-45", -0.0f},  {"0e999", 0.0f},
    };
    for (const auto& c : beyond)
        EXPECT_EQ(valueOfText(c.text), c.value) << c.text;
}

TEST(ValueUpdate, WorkedExamples)
{
    const struct {
        const char* text;
        float nr1, nr2;
        const char* display;
    } cases[] = {
        {"23.47", 0, 1, "23.5"}, {"1.25", 0, 1, "1.2"},   {"1.75", 0, 1, "1.8"},
        {"2.25", 0, 1, "2.2"},   {"0.35", 0, 1, "0.3"},   {"0.05", 0, 1, "0.1"},
        {"-0.04", 0, 1, "0"},    {"12.5abc", 0, 1, "12.5"}, {"abc", 4, 2.5f, "-10"},
        {"520", 20, 0.1f, "50"}, {"1234567.8", 0, 1, "1234568"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        AppFixture fx;
        MainForm& f = fx.start();
        f.Nr1[2] = c.nr1;
        f.Nr2[2] = c.nr2;
        EXPECT_TRUE(f.UpdateChannelValue(2, c.text));
        EXPECT_EQ(f.lblDIS[2].text(), QString::fromLatin1(c.display));
    }
}

TEST(ValueUpdate, OverflowKeepsTheDisplay)
{
    const struct {
        const char* text;
        float nr1, nr2;
        float stored; // what VValue holds after the failure
    } cases[] = {
        {"1E+39", 0, 1, INFINITY},
        {"1e400", 0, 1, INFINITY},
        {"-1e400", 0, 1, -INFINITY},
        {"3E+38", -3e38f, 1, INFINITY},
        {"1E+30", 0, 1e10f, INFINITY},
        {"214748365", 0, 1, 214748365.0f},
        {"-300000000", 0, 1, -300000000.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        AppFixture fx;
        MainForm& f = fx.start();
        f.Nr1[1] = c.nr1;
        f.Nr2[1] = c.nr2;
        EXPECT_FALSE(f.UpdateChannelValue(1, c.text));
        EXPECT_EQ(f.lblDIS[1].text(), QStringLiteral("-"));
        EXPECT_EQ(f.VValue[1], c.stored);
    }
    AppFixture fx;
    MainForm& f = fx.start();
    // The largest Single whose tenfold still fits in 32 bits.
    EXPECT_TRUE(f.UpdateChannelValue(1, "214748352"));
    EXPECT_EQ(f.lblDIS[1].text(), QStringLiteral("214748400"));
    EXPECT_FALSE(f.UpdateChannelValue(1, "214748368"));
}

struct EvalCase {
    const char* what;
    float value, hi, lo;
    bool alarm;
};

TEST(Evaluation, LampsAreStrict)
{
    const EvalCase cases[] = {
        {"inside", 50, 99.9f, 0, false},
        {"equal to SetHi", 99.9f, 99.9f, 0, false},
        {"equal to SetLo", 0, 99.9f, 0, false},
        {"above", 100, 99.9f, 0, true},
        {"below", -0.1f, 99.9f, 0, true},
        {"SetLo above SetHi", 50, 10, 20, true},
        {"never received, SetLo above 0", 0, 99.9f, 0.5f, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AppFixture fx;
        MainForm& f = fx.start();
        f.VValue[4] = c.value;
        f.SetHi[4] = c.hi;
        f.SetLo[4] = c.lo;
        f.cmdRadni1_Click();
        EXPECT_EQ(f.Led1[4].fillStyle(), c.alarm ? FillStyle::Transparent : FillStyle::Solid);
    }
}

TEST(Evaluation, OnlyChannelsUpToRVnrAndTheSoundTimer)
{
    AppFixture fx;
    MainForm& f = fx.start();
    f.WavOn = 1;
    for (int i = 1; i <= 8; ++i)
        f.VValue[i] = 200;
    f.RVnr = 3;
    f.cmdRadni1_Click();
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(f.Led1[i].fillStyle(), i <= 3 ? FillStyle::Transparent : FillStyle::Solid) << i;
    EXPECT_TRUE(f.TimerWav.enabled());

    // RVnr outside 1..8 changes nothing at all.
    for (Integer bad : {Integer(0), Integer(9), Integer(-1)}) {
        f.RVnr = bad;
        f.VValue[1] = 50;
        f.cmdRadni1_Click();
        EXPECT_EQ(f.Led1[1].fillStyle(), FillStyle::Transparent);
        EXPECT_TRUE(f.TimerWav.enabled());
    }

    // Sound option off: the timer is left as it is.
    f.RVnr = 3;
    f.WavOn = 0;
    for (int i = 1; i <= 3; ++i)
        f.VValue[i] = 50;
    f.cmdRadni1_Click();
    EXPECT_EQ(f.Led1[1].fillStyle(), FillStyle::Solid);
    EXPECT_TRUE(f.TimerWav.enabled());
    f.WavOn = 1;
    f.cmdRadni1_Click();
    EXPECT_FALSE(f.TimerWav.enabled());
    EXPECT_FALSE(QFileInfo::exists(fx.dir() + QStringLiteral("/quellmarkLog")));
}

TEST(LogFile, LineFormat)
{
    ChannelArray<Single> v{};
    v[1] = 23.4f;
    v[2] = -0.5f;
    EXPECT_EQ(logLine(QTime(8, 15, 2), v), "\"08:15:02\",23.4,-0.5,0,0,0,0,0,0\r\n");
    v[3] = -12;
    v[4] = 0.3f;
    v[5] = 1234568;
    v[8] = 99.9f;
    EXPECT_EQ(logLine(QTime(23, 59, 59), v),
              "\"23:59:59\",23.4,-0.5,-12,0.3,1234568,0,0,99.9\r\n");
    // An overflowed value is kept as an infinity until the next good one.
    v[2] = INFINITY;
    v[3] = -INFINITY;
    EXPECT_EQ(logLine(QTime(0, 0, 0), v), "\"00:00:00\",23.4,INF,-INF,0.3,1234568,0,0,99.9\r\n");
    EXPECT_EQ(logFileName(QDate(2025, 3, 12)), QStringLiteral("250312.txt"));
    EXPECT_EQ(logFileName(QDate(2031, 12, 1)), QStringLiteral("311201.txt"));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(LogFile, AppendsPerDayAndANewDateOpensANewFile)
{
    AppFixture fx(QStringLiteral("Pump2"));
    MainForm& f = fx.start();
    fx.wallClock.start = QDateTime(QDate(2025, 3, 12), QTime(23, 59, 58));
    f.RVnr = 3;
    f.LogOn = 1;
    f.VValue[1] = 23.4f;
    f.VValue[2] = -0.5f;
    f.VValue[6] = 7; // beyond RVnr, still logged
    fx.loop.post([&] { f.cmdRadni1_Click(); });
    fx.loop.postAt(fx.loop.now() + 1000, [&] { f.cmdRadni1_Click(); });
    fx.loop.postAt(fx.loop.now() + 2500, [&] { f.cmdRadni1_Click(); });
    fx.loop.runFor(3000);
    const QString dir = fx.dir() + QStringLiteral("/Pump2Log/");
    // Relative to the fixture's start the clock began at loop time 0.
    const QByteArray day1 = readFile(dir + QStringLiteral("250312.txt"));
    const QByteArray day2 = readFile(dir + QStringLiteral("250313.txt"));
    EXPECT_EQ(day1, "\"23:59:58\",23.4,-0.5,0,0,0,7,0,0\r\n"
                    "\"23:59:59\",23.4,-0.5,0,0,0,7,0,0\r\n");
    EXPECT_EQ(day2, "\"00:00:00\",23.4,-0.5,0,0,0,7,0,0\r\n");
}

TEST(LogFile, AnUnwritableFolderIsSilent)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes anywhere";
    AppFixture fx;
    MainForm& f = fx.start();
    QDir(fx.dir()).mkdir(QStringLiteral("quellmarkLog"));
    ::chmod(QFile::encodeName(fx.dir() + QStringLiteral("/quellmarkLog")).constData(), 0500);
    f.LogOn = 1;
    f.cmdRadni1_Click();
    EXPECT_EQ(f.lblStatus.text(), QStringLiteral("Status:"));
}

TEST(LogFile, AFileInTheWayOfTheFolderIsSilentAndLaterLinesArrive)
{
    AppFixture fx;
    MainForm& f = fx.start();
    const QString dir = fx.dir() + QStringLiteral("/quellmarkLog");
    {
        QFile blocker(dir);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    f.LogOn = 1;
    f.cmdRadni1_Click();
    EXPECT_EQ(f.lblStatus.text(), QStringLiteral("Status:"));
    QFile::remove(dir);
    f.cmdRadni1_Click();
    EXPECT_EQ(readFile(dir + QStringLiteral("/250312.txt")).count('\n'), 1);
}

} // namespace
} // namespace qm::test
