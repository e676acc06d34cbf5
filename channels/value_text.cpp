#include "channels/value_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace qm {

namespace {

bool isSkipped(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether the number "[-]digits[.digits][e[-]digits]" has a magnitude of at
// least 1: the decimal exponent of its first significant digit is not
// negative. Decided on the text, so it holds beyond every floating type.
bool atLeastOne(std::string_view num)
{
    std::size_t i = num[0] == '-' ? 1 : 0;
    const std::size_t mantissaEnd = std::min(num.find('e'), num.size());
    // The decimal exponent of the digit at i.
    long long position = static_cast<long long>(std::min(num.find('.'), mantissaEnd) - i) - 1;
    for (; i < mantissaEnd; ++i) {
        if (num[i] == '.')
            continue;
        if (num[i] != '0')
            break;
        --position;
    }
    if (i == mantissaEnd)
        return false; // all zeros
    long long exponent = 0;
    if (mantissaEnd < num.size()) {
        std::size_t e = mantissaEnd + 1;
        const bool negative = num[e] == '-';
        if (negative)
            ++e;
        for (; e < num.size() && exponent < 1'000'000'000; ++e)
            exponent = exponent * 10 + (num[e] - '0');
        if (negative)
            exponent = -exponent;
    }
    return position + exponent >= 0;
}

// The number's characters, blanks skipped, in the form from_chars reads:
// "-12.5e3". Empty when the text has no digit before its exponent.
std::string numberCharacters(std::string_view text)
{
    std::string num;
    std::size_t i = 0;
    auto peek = [&]() -> char {
        while (i < text.size() && isSkipped(text[i]))
            ++i;
        return i < text.size() ? text[i] : '\0';
    };

    char c = peek();
    if (c == '+' || c == '-') {
        if (c == '-')
            num += '-';
        ++i;
    }
    bool digits = false;
    while (isDigit(c = peek())) {
        num += c;
        ++i;
        digits = true;
    }
    if (c == '.') {
        ++i;
        std::string frac;
        while (isDigit(c = peek())) {
            frac += c;
            ++i;
        }
        if (!frac.empty()) {
            num += (digits ? "." : "0.") + frac;
            digits = true;
        }
    }
    if (!digits)
        return {};
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
        const std::size_t save = i;
        ++i;
        std::string exp = "e";
        c = peek();
        if (c == '+' || c == '-') {
            if (c == '-')
                exp += '-';
            ++i;
        }
        bool expDigits = false;
        while (isDigit(c = peek())) {
            exp += c;
            ++i;
            expDigits = true;
        }
        if (expDigits)
            num += exp;
        else
            i = save;
    }
    return num;
}

} // namespace

float valueOfText(std::string_view text)
{
    const std::string num = numberCharacters(text);
    if (num.empty())
        return 0.0f;
    float value = 0.0f;
    const auto res = std::from_chars(num.data(), num.data() + num.size(), value);
    if (res.ec == std::errc::result_out_of_range) {
        // Too large gives an infinity, too small a zero, however many digits.
        const bool negative = num[0] == '-';
        if (!atLeastOne(num))
            return negative ? -0.0f : 0.0f;
        return negative ? -std::numeric_limits<float>::infinity()
                        : std::numeric_limits<float>::infinity();
    }
    return value;
}

bool scaleAndRound(float& value, float nr1, float nr2)
{
    if (!std::isfinite(value))
        return false; // the received number was beyond the Single range
    value = value - nr1;
    if (!std::isfinite(value))
        return false;
    value = nr2 * value;
    if (!std::isfinite(value))
        return false;
    // The tenfold of a Single is exact in double precision.
    const double tenfold = std::nearbyint(static_cast<double>(value) * 10.0);
    if (tenfold < -2147483648.0 || tenfold > 2147483647.0)
        return false;
    value = static_cast<float>(tenfold / 10.0);
    return true;
}

} // namespace qm
