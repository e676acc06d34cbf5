#include "base/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <type_traits>

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

namespace qm {

namespace {

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Copies a run of digits; whether there was one.
bool copyDigits(std::string_view s, std::size_t& i, std::string& out)
{
    const std::size_t start = i;
    while (i < s.size() && isDigit(s[i]))
        out += s[i++];
    return i > start;
}

// Copies an optional sign, dropping "+".
void copySign(std::string_view s, std::size_t& i, std::string& out)
{
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-')
            out += '-';
        ++i;
    }
}

// A decimal number as the settings file writes it, rewritten for from_chars:
// no "+" sign, "e" for the exponent (E, e, D and d are read), a digit before
// the point. False when the text is not such a number.
bool normalizeNumber(std::string_view s, std::string& out)
{
    out.clear();
    std::size_t i = 0;
    copySign(s, i, out);
    bool digits = copyDigits(s, i, out);
    if (i < s.size() && s[i] == '.') {
        if (!digits)
            out += '0';
        out += s[i++];
        digits = copyDigits(s, i, out) || digits;
    }
    if (!digits)
        return false;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        out += 'e';
        ++i;
        copySign(s, i, out);
        if (!copyDigits(s, i, out))
            return false;
    }
    return i == s.size();
}

template <class T>
std::optional<T> readDotForm(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    std::string num;
    if (!normalizeNumber(trimBlanks(std::string_view(bytes.constData(), bytes.size())), num))
        return std::nullopt;
    T value = 0;
    const char* end = num.data() + num.size();
    const auto res = std::from_chars(num.data(), end, value);
    if (res.ec != std::errc() || res.ptr != end) {
        // Too small for T rounds to zero; anything else is not a number of T.
        double d = 0;
        const auto r2 = std::from_chars(num.data(), end, d);
        if (r2.ec == std::errc() && std::fabs(d) < 1.0)
            return T(0);
        return std::nullopt;
    }
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

bool hasDecimalForm(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    std::string num;
    return normalizeNumber(trimBlanks(std::string_view(bytes.constData(), bytes.size())), num);
}

namespace {

// The Dot form as the files have it, or a number in `locale`; finite only.
template <class T>
std::optional<T> readDecimal(const QString& text, DecimalPoint point, const QLocale& locale)
{
    if (point == DecimalPoint::Dot)
        return readDotForm<T>(text);
    bool ok = false;
    T v;
    if constexpr (std::is_same_v<T, float>)
        v = locale.toFloat(text.trimmed(), &ok);
    else
        v = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace

std::optional<float> readSingle(const QString& text, DecimalPoint point, const QLocale& locale)
{
    return readDecimal<float>(text, point, locale);
}

std::optional<double> readDouble(const QString& text, DecimalPoint point, const QLocale& locale)
{
    return readDecimal<double>(text, point, locale);
}

std::optional<long long> readRounded(const QString& text, DecimalPoint point, long long min,
                                     long long max, const QLocale& locale)
{
    const std::optional<double> v = readDouble(text, point, locale);
    if (!v)
        return std::nullopt;
    const double rounded = std::nearbyint(*v); // half to even
    if (rounded < double(min) || rounded > double(max))
        return std::nullopt;
    return static_cast<long long>(rounded);
}

} // namespace qm
