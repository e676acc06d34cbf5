#include "settings/settings_file.h"

#include "app/numbers.h"

#include <charconv>
#include <cmath>

namespace qm {

SettingsValues defaultSettings()
{
    SettingsValues s;
    s.ComPort = 1;
    s.Baud = "9600";
    s.DevId = "";
    s.STime = 30;
    s.RVnr = 8;
    s.BPass = "not used";
    s.LogOn = 0;
    s.WavOn = 0;
    const char* colours[] = {"W", "R", "G", "B", "Y", "W", "R", "G"};
    for (int i = 1; i <= 8; ++i) {
        s.MyLabel[i] = "V0" + std::to_string(i) + " label:";
        s.VColor[i] = colours[i - 1];
        s.Nr1[i] = 0.0f;
        s.Nr2[i] = 1.0f;
        s.OutName[i] = "OUT" + std::to_string(i);
        s.SetHi[i] = 99.9f;
        s.SetLo[i] = 0.0f;
    }
    return s;
}

Rgb colorForLetter(const String& letter)
{
    if (letter == "R")
        return colors::kRed;
    if (letter == "G")
        return colors::kGreen;
    if (letter == "B")
        return colors::kCyan;
    if (letter == "Y")
        return colors::kYellow;
    return colors::kWhite;
}

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A decimal number as the file writes it, rewritten for from_chars: no "+"
// sign, "E" for the exponent (D is accepted too), digits before the point.
// Returns false when the text is not such a number.
bool normalizeNumber(std::string_view s, std::string& out)
{
    out.clear();
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        if (s[i] == '-')
            out += '-';
        ++i;
    }
    bool digits = false;
    bool leading = true;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        out += s[i++];
        digits = true;
        leading = false;
    }
    if (i < s.size() && s[i] == '.') {
        if (leading)
            out += '0';
        out += s[i++];
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            out += s[i++];
            digits = true;
        }
    }
    if (!digits)
        return false;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        out += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            if (s[i] == '-')
                out += '-';
            ++i;
        }
        bool expDigits = false;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            out += s[i++];
            expDigits = true;
        }
        if (!expDigits)
            return false;
    }
    return i == s.size();
}

} // namespace

std::optional<Single> parseSingleItem(std::string_view item)
{
    item = trimBlanks(item);
    if (item.empty())
        return 0.0f;
    std::string text;
    if (!normalizeNumber(item, text))
        return std::nullopt;
    float value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size()) {
        // Underflow rounds to zero; anything else is not a Single.
        double d = 0;
        const auto r2 = std::from_chars(text.data(), text.data() + text.size(), d);
        if (r2.ec == std::errc() && std::fabs(d) < 1.0)
            return 0.0f;
        return std::nullopt;
    }
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<Integer> parseIntegerItem(std::string_view item)
{
    item = trimBlanks(item);
    if (item.empty())
        return Integer{0};
    std::string text;
    if (!normalizeNumber(item, text))
        return std::nullopt;
    double value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec != std::errc() || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // half to even
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return static_cast<Integer>(rounded);
}

namespace {

// Splits the file into items as one stream.
class ItemReader {
public:
    explicit ItemReader(std::string_view bytes)
        : s_(bytes)
    {
    }

    // The next item's text without its quotes, or nothing at the end of the
    // file.
    std::optional<std::string_view> next()
    {
        while (pos_ < s_.size() && isBlank(s_[pos_]))
            ++pos_;
        if (pos_ >= s_.size())
            return std::nullopt;
        std::string_view item;
        if (s_[pos_] == '"') {
            const std::size_t close = s_.find('"', pos_ + 1);
            if (close == std::string_view::npos)
                return std::nullopt; // the text never ends: the file is cut short
            item = s_.substr(pos_ + 1, close - pos_ - 1);
            pos_ = close + 1;
            // Whatever stands between the closing quote and the item's end is dropped.
            while (pos_ < s_.size() && !isEnd(s_[pos_]))
                ++pos_;
        } else {
            const std::size_t begin = pos_;
            while (pos_ < s_.size() && !isEnd(s_[pos_]))
                ++pos_;
            item = s_.substr(begin, pos_ - begin);
            while (!item.empty() && isBlank(item.back()))
                item.remove_suffix(1);
        }
        skipEnd();
        return item;
    }

private:
    static bool isEnd(char c) { return c == ',' || c == '\r' || c == '\n'; }

    void skipEnd()
    {
        if (pos_ >= s_.size())
            return;
        if (s_[pos_] == ',') {
            ++pos_;
        } else if (s_[pos_] == '\r') {
            ++pos_;
            if (pos_ < s_.size() && s_[pos_] == '\n')
                ++pos_;
        } else if (s_[pos_] == '\n') {
            ++pos_;
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
};

} // namespace

std::optional<SettingsValues> parseSettingsFile(std::string_view bytes)
{
    ItemReader reader(bytes);
    bool ok = true;
    auto text = [&](String& out) {
        if (!ok)
            return;
        auto item = reader.next();
        if (!item) {
            ok = false;
            return;
        }
        out.assign(item->begin(), item->end());
    };
    auto integer = [&](Integer& out) {
        if (!ok)
            return;
        auto item = reader.next();
        std::optional<Integer> v = item ? parseIntegerItem(*item) : std::nullopt;
        if (!v) {
            ok = false;
            return;
        }
        out = *v;
    };
    auto single = [&](Single& out) {
        if (!ok)
            return;
        auto item = reader.next();
        std::optional<Single> v = item ? parseSingleItem(*item) : std::nullopt;
        if (!v) {
            ok = false;
            return;
        }
        out = *v;
    };

    SettingsValues s;
    integer(s.ComPort);
    text(s.Baud);
    text(s.DevId);
    integer(s.STime);
    integer(s.RVnr);
    text(s.BPass);
    integer(s.LogOn);
    integer(s.WavOn);
    for (int i = 1; i <= 8; ++i)
        text(s.MyLabel[i]);
    for (int i = 1; i <= 8; ++i)
        text(s.VColor[i]);
    for (int i = 1; i <= 8; ++i)
        single(s.Nr1[i]);
    for (int i = 1; i <= 8; ++i)
        single(s.Nr2[i]);
    for (int i = 1; i <= 8; ++i)
        text(s.OutName[i]);
    for (int i = 1; i <= 8; ++i)
        single(s.SetHi[i]);
    for (int i = 1; i <= 8; ++i)
        single(s.SetLo[i]);
    if (!ok)
        return std::nullopt;
    return s;
}

} // namespace qm

namespace qm {

namespace {

// The invariant form, with more digits only where seven would not read back
// to the same Single.
std::string singleItem(float v)
{
    std::string text = invariantForm(v);
    for (int digits = 8; parseSingleItem(text) != v && digits <= 9; ++digits)
        text = invariantForm(v, digits);
    return text;
}

std::string quoted(const String& s)
{
    return "\"" + s + "\"";
}

template <class T, class F>
std::string line(const ChannelArray<T>& items, F&& form)
{
    std::string out;
    for (int i = 1; i <= 8; ++i) {
        if (i > 1)
            out += ',';
        out += form(items[i]);
    }
    return out + "\r\n";
}

} // namespace

std::string writeSettingsFile(const SettingsValues& s)
{
    std::string out = std::to_string(s.ComPort) + "," + quoted(s.Baud) + "," + quoted(s.DevId) +
                      "," + std::to_string(s.STime) + "," + std::to_string(s.RVnr) + "," +
                      quoted(s.BPass) + "," + std::to_string(s.LogOn) + "," +
                      std::to_string(s.WavOn) + "\r\n";
    out += line(s.MyLabel, quoted);
    out += line(s.VColor, quoted);
    out += line(s.Nr1, singleItem);
    out += line(s.Nr2, singleItem);
    out += line(s.OutName, quoted);
    out += line(s.SetHi, singleItem);
    out += line(s.SetLo, singleItem);
    return out;
}

} // namespace qm
