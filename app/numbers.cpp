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

    // Seven significant digits, correctly rounded: d.dddddde±XX
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 6);
    const std::string sci(buf, res.ptr);
    const bool negative = sci[0] == '-';
    const std::size_t start = negative ? 1 : 0;
    const std::size_t ePos = sci.find('e');
    std::string digits;
    for (std::size_t i = start; i < ePos; ++i)
        if (sci[i] != '.')
            digits += sci[i];
    const int exponent = std::stoi(sci.substr(ePos + 1));
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    // Positional: the decimal point sits after digit (exponent + 1).
    std::string intPart, fracPart;
    const int pointAt = exponent + 1;
    if (pointAt <= 0) {
        intPart = "0";
        fracPart = std::string(static_cast<std::size_t>(-pointAt), '0') + digits;
    } else if (pointAt >= static_cast<int>(digits.size())) {
        intPart = digits + std::string(static_cast<std::size_t>(pointAt) - digits.size(), '0');
    } else {
        intPart = digits.substr(0, static_cast<std::size_t>(pointAt));
        fracPart = digits.substr(static_cast<std::size_t>(pointAt));
    }

    QString out;
    if (negative)
        out += QLatin1Char('-');
    out += QString::fromLatin1(intPart);
    if (!fracPart.empty()) {
        out += locale.decimalPoint();
        out += QString::fromLatin1(fracPart);
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
