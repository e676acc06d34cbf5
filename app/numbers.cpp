#include "app/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace qm {

namespace {

// The significant digits of a finite, non-zero value, correctly rounded to
// `precision` digits, without trailing zeros: value = 0.d1d2... * 10^(exponent + 1).
struct Significant {
    bool negative = false;
    char digits[12]{};
    int count = 0;
    int exponent = 0; // of the first digit
};

Significant significant(float value, int precision)
{
    // [-]d.ddddde[+-]XX, locale-free
    char sci[40];
    const auto res =
        std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific, precision - 1);
    Significant s;
    const char* p = sci;
    s.negative = *p == '-';
    if (s.negative)
        ++p;
    for (; *p != 'e'; ++p)
        if (*p != '.')
            s.digits[s.count++] = *p;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, s.exponent);
    while (s.count > 1 && s.digits[s.count - 1] == '0')
        --s.count;
    return s;
}

// Without exponent: "-0.05", "12", "1234568", with "." as the point.
void positional(const Significant& s, std::string& out)
{
    if (s.negative)
        out += '-';
    const int pointAt = s.exponent + 1; // digits before the point
    if (pointAt <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-pointAt), '0');
        out.append(s.digits, static_cast<std::size_t>(s.count));
    } else if (pointAt >= s.count) {
        out.append(s.digits, static_cast<std::size_t>(s.count));
        out.append(static_cast<std::size_t>(pointAt - s.count), '0');
    } else {
        out.append(s.digits, static_cast<std::size_t>(pointAt));
        out += '.';
        out.append(s.digits + pointAt, static_cast<std::size_t>(s.count - pointAt));
    }
}

} // namespace

QString displayForm(float value, const QLocale& locale)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0.0f)
        return QStringLiteral("0");
    std::string text;
    positional(significant(value, 7), text);
    QString out = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    const QString point = locale.decimalPoint();
    if (point != QLatin1String("."))
        out.replace(QLatin1Char('.'), point);
    return out;
}

std::string invariantForm(float value, int precision)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    if (value == 0.0f)
        return "0"; // also -0
    const Significant s = significant(value, precision);
    std::string out;
    if (s.exponent >= -4 && s.exponent < precision) {
        positional(s, out);
        return out;
    }
    // d.dddE+XX, at least two exponent digits
    if (s.negative)
        out += '-';
    out += s.digits[0];
    if (s.count > 1) {
        out += '.';
        out.append(s.digits + 1, static_cast<std::size_t>(s.count - 1));
    }
    out += s.exponent < 0 ? "E-" : "E+";
    const int e = std::abs(s.exponent);
    if (e < 10)
        out += '0';
    out += std::to_string(e);
    return out;
}

} // namespace qm
