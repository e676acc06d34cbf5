#include "app/numbers.h"
#include "sampling/log_file.h"
#include "settings/settings_file.h"
#include "tests/support/app_fixture.h"
#include "tests/support/settings_samples.h"

#include <clocale>
#include <cmath>

#include <gtest/gtest.h>

namespace qm {
namespace {

struct FormCase {
    float value;
    const char* display; // in the C locale
    const char* invariant;
};

TEST(NumberForms, DisplayAndInvariantForms)
{
    const FormCase cases[] = {
        {0.0f, "0", "0"},
        {-0.0f, "0", "0"},
        {1.0f, "1", "1"},
        {99.9f, "99.9", "99.9"},
        {-9999.99f, "-9999.99", "-9999.99"},
        {0.5f, "0.5", "0.5"},
        {-0.5f, "-0.5", "-0.5"},
        {0.3f, "0.3", "0.3"},
        {23.5f, "23.5", "23.5"},
        {-12.0f, "-12", "-12"},
        {1234567.8f, "1234568", "1234568"},
        {12345678.0f, "12345680", "1.234568E+07"},
        {1e7f, "10000000", "1E+07"},
        {0.00001f, "0.00001", "1E-05"},
        {0.0001f, "0.0001", "0.0001"},
        {214748352.0f, "214748400", "2.147484E+08"},
        {INFINITY, "Infinity", "INF"},
        {-INFINITY, "-Infinity", "-INF"},
    };
    const QLocale c = QLocale::c();
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.display);
        EXPECT_EQ(displayForm(tc.value, c), QString::fromLatin1(tc.display));
        EXPECT_EQ(invariantForm(tc.value), tc.invariant);
    }
}

TEST(NumberForms, DisplayUsesTheLocaleDecimalSeparatorWithoutGrouping)
{
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(displayForm(99.9f, de), QStringLiteral("99,9"));
    EXPECT_EQ(displayForm(-0.5f, de), QStringLiteral("-0,5"));
    EXPECT_EQ(displayForm(1234567.0f, de), QStringLiteral("1234567"));
    EXPECT_EQ(invariantForm(99.9f), "99.9");
}

// The files hold "." whatever the C library's locale: the process of a user
// with a decimal-comma locale has LC_NUMERIC set from the environment.
TEST(NumberForms, FilesUseAPointUnderADecimalCommaProcessLocale)
{
    test::DecimalCommaLocale comma;
    ASSERT_TRUE(comma.active()) << "the test locale (build/locale) is missing";
    ChannelArray<Single> values{};
    values[1] = 23.5f;
    values[2] = -0.5f;
    const std::string line = logLine(QTime(15, 25, 12), values);
    const std::string written = writeSettingsFile(defaultSettings());
    const std::string exponent = invariantForm(1.5e-5f);

    EXPECT_EQ(line, "\"15:25:12\",23.5,-0.5,0,0,0,0,0,0\r\n");
    EXPECT_EQ(QByteArray::fromStdString(written), test::defaultSettingsFile());
    EXPECT_EQ(exponent, "1.5E-05");
}

} // namespace
} // namespace qm
