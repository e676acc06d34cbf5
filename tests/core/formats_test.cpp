// Number forms, the number reader, the settings file, program paths.
#include "app/program_paths.h"
#include "base/files.h"
#include "base/numbers.h"
#include "channels/value_text.h"
#include "device/malformed_lines.h"
#include "settings/settings_file.h"
#include "tests/support/app_fixture.h"

#include <QFile>
#include <QTemporaryDir>

#include <clocale>
#include <cmath>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qm::test {
namespace {

TEST(Formats, DisplayAndInvariantNumberForms)
{
    const struct {
        float value;
        const char *display, *invariant; // display in the C locale
    } cases[] = {{0.0f, "0", "0"},
                 {-9999.99f, "-9999.99", "-9999.99"},
                 {0.3f, "0.3", "0.3"},
                 {1234567.8f, "1234568", "1234568"},
                 {12345678.0f, "12345680", "1.234568E+07"},
                 {1e7f, "10000000", "1E+07"},
                 {1.5e-5f, "0.000015", "1.5E-05"},
                 {1e-30f, "0.000000000000000000000000000001", "1E-30"},
                 {INFINITY, "Infinity", "INF"},
                 {-INFINITY, "-Infinity", "-INF"}};
    for (const auto& c : cases) {
        EXPECT_EQ(displayForm(c.value, QLocale::c()), c.display) << c.value;
        EXPECT_EQ(invariantForm(c.value), c.invariant) << c.value;
    }
}

// A user's decimal-comma locale is the process's LC_NUMERIC.
TEST(Formats, FilesUseAPointUnderADecimalCommaProcessLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ::setenv("LOCPATH", QM_LOCALE_DIR, 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the test locale (build/locale) is missing";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(QByteArray::fromStdString(writeSettingsFile(defaultSettings())),
              kDefaultSettingsFile);
    std::setlocale(LC_ALL, previous.c_str());
}

TEST(Formats, ValueTextReading)
{
    const struct {
        std::string text;
        float value;
    } cases[] = {
        {"23.47", 23.47f},
        {"", 0.0f},
        {"1 2.5", 12.5f},
        {" \t\n-7", -7.0f},
        {"+3", 3.0f},
        {".5", 0.5f},
        {"5.", 5.0f},
        {"1D2", 100.0f},
        {"2e-1", 0.2f},
        {"2E+1", 20.0f},
        {"12E+", 12.0f},
        {"1,5", 1.0f},
        {"1E+39", INFINITY}, // its first digit its only significant one
        {"-1e400", -INFINITY},
        {"0.001e999999999999", INFINITY},
        {"1e-60", 0.0f},
        {"0." + std::string(400, '0') + "1e5", 0.0f},
        {"0.0000000001e50", INFINITY},
    };
    for (const auto& c : cases)
        EXPECT_EQ(valueOfText(c.text), c.value) << c.text;
}

TEST(Formats, SettingsFileReading)
{
    const std::string file = kDefaultSettingsFile.toStdString();
    const std::string oneLine = QByteArray(kDefaultSettingsFile).replace("\r\n", ",").toStdString(),
                      lfOnly = QByteArray(kDefaultSettingsFile).replace("\r\n", "\n").toStdString();
    for (const std::string& same :
         {file, oneLine, lfOnly, file + "garbage,\"more\"\r\n", file.substr(0, file.size() - 2)})
        EXPECT_EQ(parseSettingsFile(same), defaultSettings()) << same;

    const auto line = [](int n, const QByteArray& text) { // line n replaced
        QList<QByteArray> lines = kDefaultSettingsFile.split('\n');
        lines[n - 1] = text + '\r';
        return lines.join('\n').toStdString();
    };
    const std::pair<std::string, std::string> failures[] = {
        {"", "the file ends after 0 of the 64 items"},
        {line(4, "0,0,abc,0,0,0,0,0"), "line 4: Nr1 of V3 \"abc\" is not a number"},
        {line(7, "99.9x,1,1,1,1,1,1,1"), "line 7: Set Hi of V1 \"99.9x\" is not a number"},
        {line(7, "1E+39,1,1,1,1,1,1,1"), "line 7: Set Hi of V1 \"1E+39\" is out of range"},
        {line(1, "1,\"9600\",\"\",30,40000,\"x\",0,0"),
         "line 1: RVnr \"40000\" is outside -32768 to 32767"},
        {line(8, "0,0,0,0,0,0,0,\"0"), "line 8: a text in quotes never ends"}};
    for (const auto& [f, failure] : failures)
        EXPECT_EQ(readSettings(f).failure, failure) << f;

    // Loaded as they stand, but told.
    const std::pair<std::string, std::vector<std::string>> noted[] = {
        {oneLine, {}},
        {line(7, "99,5,99.9,99.9,99.9,99.9,99.9,99.9,99.9"),
         {"line 7 holds 9 items, not 8 (a decimal comma?): every later item lands in the wrong "
          "setting"}},
        {line(1, "1,\"9600\",\"\",-5,0,\"x\",0,0"),
         {"line 1: STime -5 is below 0: nothing is ever read",
          "line 1: RVnr 0 is outside 1 to 8: no channel is evaluated or logged"}},
        {file + "\r\n\r\n  junk,\"more\"\r\n",
         {"line 11: what follows the 64th item is ignored (19 bytes)"}}};
    for (const auto& [f, notes] : noted)
        EXPECT_EQ(readSettings(f).notes, notes) << f;

    auto s = parseSettingsFile(line(1, "  7 ,9600,,-5,12,\"a,b,\" ,2,1"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->comPort, 7) << "blanks around a number";
    EXPECT_EQ(s->baud, "9600") << "an unquoted text";
    EXPECT_EQ(s->deviceId, "") << "an empty item";
    EXPECT_EQ(s->logOn, 2) << "an item after a text ending in a comma";
    s = parseSettingsFile(line(7, ".5,0.5,1E+07,-2.5e-1,,1D2,+3,-9999.99"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->setHi, (ChannelArray<Single>{0, 0.5f, 0.5f, 1e7f, -0.25f, 0, 100, 3, -9999.99f}));
    s = parseSettingsFile(line(2, "a,b,c,d,e,f,g,h"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->labels[8], "h") << "an unquoted text at the end of a line";
}

// Every number from a file, a command line or a box is read by one reader.
TEST(Formats, TheNumberReaderTakesOnlyAWholeNumberText)
{
    // Whole numbers from -100 to 100 (Plus: "+" taken too), rounded to 16 bits
    // or floats with "." (Dot) or the German locale.
    enum Reader { Whole, Plus, Dot, DotFloat, German, GermanFloat };
    const QLocale german(QLocale::German, QLocale::Germany);
    const auto read = [&](Reader r, const char* t) -> std::optional<double> {
        const QString text = QString::fromLatin1(t);
        switch (r) {
        case Whole:
            return readNumber<int>(t, -100, 100);
        case Plus:
            return readNumber<int>(t, -100, 100, PlusSign::Accepted);
        case Dot:
            return readRounded(text, DecimalPoint::Dot, -32768, 32767);
        case DotFloat:
            return readSingle(text, DecimalPoint::Dot);
        case German:
            return readRounded(text, DecimalPoint::Locale, -32768, 32767, german);
        case GermanFloat:
            return readSingle(text, DecimalPoint::Locale, german);
        }
        return std::nullopt;
    };
    const struct {
        Reader reader;
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {Whole, "42", 42},
        {Whole, "-7", -7},
        {Whole, "+7", {}},
        {Whole, " 7", {}},
        {Whole, "7x", {}},
        {Whole, "", {}},
        {Whole, "101", {}},
        {Whole, "99999999999", {}},
        {Plus, "+7", 7},
        {Plus, "+", {}},
        {Dot, " 2.5\t", 2},
        {Dot, "3.5", 4},
        {Dot, "1E+2", 100},
        {Dot, "1D2", 100},
        {Dot, ".5", 0},
        {Dot, "32767.4", 32767},
        {Dot, "32767.5", {}},
        {Dot, "-32769", {}},
        {Dot, "1e", {}},
        {Dot, "1,5", {}},
        {Dot, "1e400", {}},
        {Dot, "", {}},
        {Dot, "5 x", {}},
        {DotFloat, "-2.5e-1", -0.25},
        {DotFloat, "1e-50", 0},
        {DotFloat, "1e39", {}},
        {DotFloat, "inf", {}},
        {DotFloat, ".", {}},
        {German, " 2,5 ", 2},
        {German, "40000", {}},
        {GermanFloat, "-12,5", -12.5},
        {GermanFloat, "1e39", {}},
        {GermanFloat, "abc", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read(c.reader, c.text), c.value)
            << "reader " << c.reader << " on \"" << c.text << "\"";
}

TEST(Formats, ReplyLinesTheProgramCannotUse)
{
    const struct {
        std::string line, id;
        const char* problem;
    } cases[] = {{"AOK", "A", ""},
                 {"V08= -1.5E+3 ", "", ""},
                 {"V01=21.5C", "", "the value after V01= is not a number"},
                 {"V09=1", "", "not a reply the program knows"},
                 {"V01=1", "A", "not a reply the program knows"},
                 {"ABV01=5", "AB", "value lines are read only with an ID of at most one character"},
                 {std::string("V01=1\0", 6), "", "control bytes: noise, or a wrong baud rate"}};
    for (const auto& c : cases)
        EXPECT_EQ(replyLineProblem(c.line, c.id), c.problem) << c.line;
    EXPECT_EQ(escapedLine("a\\b\x01\xff"), "a\\\\b\\x01\\xFF");
    EXPECT_EQ(escapedLine(std::string(100, 'x'), 4), "xxxx... (100 bytes)");
}

TEST(Formats, SettingsFileWritingReadsBackTheSame)
{
    SettingsValues s = defaultSettings();
    s.labels[1] = "Tank, left";
    const float singles[] = {0.1f,  1e7f,        12345678.0f,   -9999.99f,
                             1e-7f, 16777217.0f, 3.4028235e38f, 0.3f};
    for (int i = 1; i <= 8; ++i) {
        s.offsets[i] = singles[i - 1];
        s.setHi[i] = std::nextafter(singles[i - 1], 0.0f);
    }
    s.setLo[1] = 109.488625f; // nine digits
    EXPECT_EQ(parseSettingsFile(writeSettingsFile(s)), s);
}

TEST(Formats, ProgramNameAndDirectoryFromTheStartPath)
{
    QTemporaryDir bin;
    const QByteArray binDir = QFile::encodeName(bin.path());
    ::close(::open((binDir + "/pump.v2").constData(), O_CREAT | O_WRONLY, 0755));
    ::close(::open((binDir + "/data").constData(), O_CREAT | O_WRONLY, 0644));
    const struct {
        QByteArray start, path, cwd, name, dir;
    } cases[] = {{"./pumps/../tanks//tank2", "", "/home/ann", "tank2", "/home/ann/tanks"},
                 {"pump.v2", "/nowhere:" + binDir, "/home/ann", "pump.v2", binDir},
                 {"pump.v2", ":/nowhere", binDir, "pump.v2", binDir}, // empty PATH entry: the cwd
                 {"data", binDir, "/home/ann", "data", "/home/ann"},  // not executable
                 {"/quellmark", "", "/", "quellmark", "/"}};
    for (const auto& c : cases) {
        const ProgramPaths p = programPathsFromStartPath(c.start, c.path, c.cwd);
        EXPECT_EQ(p.name, c.name) << c.start;
        EXPECT_EQ(p.dir, c.dir) << c.start;
    }
    EXPECT_EQ((ProgramPaths{"q\xff m", "/d\xfe"}.file("q\xff m.ini")), "/d\xfe/q\xff m.ini");
    EXPECT_EQ((ProgramPaths{"quellmark", "/"}.file("a1.wav")), "/a1.wav");
}

} // namespace
} // namespace qm::test

namespace qm::test {
namespace {

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

TEST(Files, ADescriptorIsClosedOnceByItsLastOwner)
{
    int raw = -1;
    {
        FileDescriptor first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        raw = first.get();
        FileDescriptor second(std::move(first));
        EXPECT_FALSE(first.valid()) << "a moved-from owner holds nothing";
        EXPECT_TRUE(isOpen(raw)) << "a move does not close";
        FileDescriptor third;
        third = std::move(second);
        EXPECT_EQ(third.get(), raw) << "the descriptor moves whole";
    }
    EXPECT_FALSE(isOpen(raw)) << "the last owner closes it";
    FileDescriptor kept(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int released = kept.release();
    kept.reset();
    EXPECT_TRUE(isOpen(released)) << "a released descriptor is the caller's";
    ::close(released);
}

TEST(Files, ARealPathResolvesLinksAndIsEmptyWhereNothingIs)
{
    QTemporaryDir dir;
    const QByteArray base = QFile::encodeName(dir.path());
    ASSERT_EQ(::symlink("/dev/null", (base + "/link").constData()), 0);
    ASSERT_EQ(::symlink("/nowhere/at/all", (base + "/dangling").constData()), 0);
    EXPECT_EQ(realPath(base + "/link"), "/dev/null");
    EXPECT_EQ(realPath(base + "/dangling"), "") << "a dangling link leads nowhere";
}

} // namespace
} // namespace qm::test
