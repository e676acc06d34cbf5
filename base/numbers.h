#pragma once

#include <QLocale>
#include <QString>

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The display form of a Single: rounded to at most seven significant digits,
// no exponent, no trailing zeros or separator, no thousands separators, "-"
// when negative, "0" before the separator below 1, the locale's decimal
// separator. 99.9 -> "99.9", 1234567.8 -> "1234568", -0.5 -> "-0.5" ("-0,5").
QString displayForm(float value, const QLocale& locale);

// The invariant number form of the settings and log files, the same in every
// locale: "." as decimal point, at most `precision` significant digits,
// exponent form where they do not suffice: 0, 1, 99.9, -9999.99, 0.5, 1E+07,
// 1.5E-05; INF and -INF for the infinities.
std::string invariantForm(float value, int precision = 7);

// Reading numbers. Every number the program takes from a file, a command line
// or a box is read here, strictly: the number is the whole text, and what is
// not a number is refused, never taken as 0. (The device's replies have a
// tolerant reader of their own, channels/value_text.h.)

// Whether a leading "+" is taken; "-" is taken by signed types.
enum class PlusSign { Refused, Accepted };

// The whole text as a number of type T within [min, max]: digits, "-" for
// signed types, and for floating types a "." and an exponent ("1.5e3"). No
// blanks, no junk before or after; empty and out of range are refused.
template <class T>
std::optional<T> readNumber(std::string_view text, T min, T max, PlusSign plus = PlusSign::Refused)
{
    if (plus == PlusSign::Accepted && text.size() > 1 && text.front() == '+')
        text.remove_prefix(1);
    T value{};
    const char* end = text.data() + text.size();
    const auto res = std::from_chars(text.data(), end, value);
    if (text.empty() || res.ec != std::errc() || res.ptr != end || !(value >= min && value <= max))
        return std::nullopt;
    return value;
}

// The decimal point a decimal number is written with: "." whatever the locale
// (the settings file: blanks or tabs around the number, a sign, digits before
// or after the point, an exponent with E or D), or the given locale's number
// settings as QLocale reads them (what the user types into the Set panel or
// --set; white space around it).
enum class DecimalPoint { Dot, Locale };

// Whether the text is written as a decimal number with a "." point, however
// large or small: the settings file's form.
bool hasDecimalForm(const QString& text);

// A finite decimal number, or nothing. With DecimalPoint::Dot, a value too
// small for a float reads as 0.
std::optional<float> readSingle(const QString& text, DecimalPoint point,
                                const QLocale& locale = QLocale::c());
std::optional<double> readDouble(const QString& text, DecimalPoint point,
                                 const QLocale& locale = QLocale::c());

// A decimal number rounded half to even to a whole number within [min, max].
std::optional<long long> readRounded(const QString& text, DecimalPoint point, long long min,
                                     long long max, const QLocale& locale = QLocale::c());

} // namespace qm
