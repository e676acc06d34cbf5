#include "settings/settings_file.h"
#include "tests/support/settings_samples.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

const std::string kDefaultFile = test::defaultSettingsFile().toStdString();

std::string replaceLine(std::string file, int line, const std::string& text)
{
    std::size_t begin = 0;
    for (int i = 1; i < line; ++i)
        begin = file.find("\r\n", begin) + 2;
    const std::size_t end = file.find("\r\n", begin);
    return file.replace(begin, end - begin, text);
}

TEST(SettingsFile, TheDefaultFileReadsAsTheDefaults)
{
    const auto s = parseSettingsFile(kDefaultFile);
    ASSERT_TRUE(s);
    EXPECT_EQ(*s, defaultSettings());
}

TEST(SettingsFile, ItemsAreOneStreamWhateverTheLineLayout)
{
    std::string oneLine = kDefaultFile;
    for (std::size_t p; (p = oneLine.find("\r\n")) != std::string::npos;)
        oneLine.replace(p, 2, ",");
    oneLine.pop_back();
    EXPECT_EQ(parseSettingsFile(oneLine), defaultSettings());

    std::string lfOnly = kDefaultFile;
    for (std::size_t p; (p = lfOnly.find("\r\n")) != std::string::npos;)
        lfOnly.replace(p, 2, "\n");
    EXPECT_EQ(parseSettingsFile(lfOnly), defaultSettings());

    // Anything after the 64th item is ignored; the last line end is optional.
    EXPECT_EQ(parseSettingsFile(kDefaultFile + "garbage,\"more\"\r\n"), defaultSettings());
    EXPECT_EQ(parseSettingsFile(kDefaultFile.substr(0, kDefaultFile.size() - 2)),
              defaultSettings());
}

TEST(SettingsFile, TheExampleFirstLine)
{
    const auto s = parseSettingsFile(replaceLine(kDefaultFile, 1, "3,\"19200\",\"A\",0,4,\"x\",1,1"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->ComPort, 3);
    EXPECT_EQ(s->Baud, "19200");
    EXPECT_EQ(s->DevId, "A");
    EXPECT_EQ(s->STime, 0);
    EXPECT_EQ(s->RVnr, 4);
    EXPECT_EQ(s->BPass, "x");
    EXPECT_EQ(s->LogOn, 1);
    EXPECT_EQ(s->WavOn, 1);
}

TEST(SettingsFile, ReadFailuresGiveNothing)
{
    std::string sevenLines = kDefaultFile.substr(0, kDefaultFile.rfind("0,0,0,0,0,0,0,0"));
    const struct {
        const char* what;
        std::string file;
    } cases[] = {
        {"empty file", ""},
        {"seven lines", sevenLines},
        {"63 items", kDefaultFile.substr(0, kDefaultFile.rfind(",0"))},
        {"cut inside a quoted text", kDefaultFile.substr(0, kDefaultFile.find("V05"))},
        {"port out of range", replaceLine(kDefaultFile, 1, "32768,\"9600\",\"\",30,8,\"x\",0,0")},
        {"negative out of range", replaceLine(kDefaultFile, 1, "1,\"9600\",\"\",-32769,8,\"x\",0,0")},
        {"integer that is text", replaceLine(kDefaultFile, 1, "abc,\"9600\",\"\",30,8,\"x\",0,0")},
        {"single that is text", replaceLine(kDefaultFile, 4, "0,0,abc,0,0,0,0,0")},
        {"single with trailing text", replaceLine(kDefaultFile, 7, "99.9x,1,1,1,1,1,1,1")},
        {"single beyond range", replaceLine(kDefaultFile, 7, "1E+39,1,1,1,1,1,1,1")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(parseSettingsFile(c.file));
    }
}

TEST(SettingsFile, ItemForms)
{
    // Values as they stand, no range checks beyond the 16-bit Integer.
    auto s = parseSettingsFile(replaceLine(kDefaultFile, 1, "  7,9600,,-5,12,\"a,b\" ,2,1"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->ComPort, 7);
    EXPECT_EQ(s->Baud, "9600");
    EXPECT_EQ(s->DevId, "");
    EXPECT_EQ(s->STime, -5);
    EXPECT_EQ(s->RVnr, 12);
    EXPECT_EQ(s->BPass, "a,b");
    EXPECT_EQ(s->LogOn, 2);

    s = parseSettingsFile(replaceLine(kDefaultFile, 7, ".5,0.5,1E+07,-2.5e-1,,1D2,+3,-9999.99"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->SetHi[1], 0.5f);
    EXPECT_EQ(s->SetHi[2], 0.5f);
    EXPECT_EQ(s->SetHi[3], 1e7f);
    EXPECT_EQ(s->SetHi[4], -0.25f);
    EXPECT_EQ(s->SetHi[5], 0.0f);
    EXPECT_EQ(s->SetHi[6], 100.0f);
    EXPECT_EQ(s->SetHi[7], 3.0f);
    EXPECT_EQ(s->SetHi[8], -9999.99f);
}

TEST(SettingsFile, IntegerItemsRoundHalfToEven)
{
    const struct {
        const char* text;
        Integer value;
    } cases[] = {{"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"2.4", 2}, {"1E+2", 100},
                 {"32767", 32767}, {"-32768", -32768}, {"32767.4", 32767}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseIntegerItem(c.text), c.value);
    }
    EXPECT_FALSE(parseIntegerItem("32767.5"));
    EXPECT_FALSE(parseIntegerItem("1e"));
    EXPECT_FALSE(parseIntegerItem("."));
}

TEST(SettingsFile, TextBytesAreKeptAsTheyStand)
{
    const std::string label = "Temp \xB0" "C \xE4\xF6";
    const auto s = parseSettingsFile(replaceLine(
        kDefaultFile, 2, "\"" + label + "\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\""));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->MyLabel[1], label);
}

TEST(SettingsFile, ColourLetters)
{
    EXPECT_EQ(colorForLetter("R"), colors::kRed);
    EXPECT_EQ(colorForLetter("G"), colors::kGreen);
    EXPECT_EQ(colorForLetter("B"), colors::kCyan);
    EXPECT_EQ(colorForLetter("Y"), colors::kYellow);
    EXPECT_EQ(colorForLetter("W"), colors::kWhite);
    for (const char* other : {"r", "Blue", "", "RR", " R"})
        EXPECT_EQ(colorForLetter(other), colors::kWhite) << other;
}

} // namespace
} // namespace qm
