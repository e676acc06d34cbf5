#include "app/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace qm {

QString displayForm(float value, const QLocale& locale)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0.0f)
        return QStringLiteral("0");

    // Seven significant digits, correctly rounded: [-]d.dddddde[+-]XX
    char sci[32];
    const auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific, 6);
    const char* p = sci;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    char digits[8];
    int count = 0;
    for (; *p != 'e'; ++p)
        if (*p != '.')
            digits[count++] = *p;
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), res.ptr, exponent);
    while (count > 1 && digits[count - 1] == '0')
        --count;

    // Positional: the decimal point sits after digit (exponent + 1).
    QString out;
    out.reserve(48);
    if (negative)
        out += QLatin1Char('-');
    const int pointAt = exponent + 1;
    if (pointAt <= 0) {
        out += QLatin1Char('0');
        out += locale.decimalPoint();
        out += QString(-pointAt, QLatin1Char('0'));
        out += QLatin1StringView(digits, count);
    } else if (pointAt >= count) {
        out += QLatin1StringView(digits, count);
        out += QString(pointAt - count, QLatin1Char('0'));
    } else {
        out += QLatin1StringView(digits, pointAt);
        out += locale.decimalPoint();
        out += QLatin1StringView(digits + pointAt, count - pointAt);
    }
    return out;
}

std::string invariantForm(float value)
{
    if (value == 0.0f)
        return "0"; // also -0
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(value));
    return buf;
}

} // namespace qm
