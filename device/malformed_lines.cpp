#include "device/malformed_lines.h"

#include "base/log_categories.h"

namespace qm {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Optional sign, digits with at most one ".", an optional exponent (E or D):
// the whole text, blanks around it allowed.
bool isPlainNumber(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    std::size_t i = 0;
    const auto digitsFrom = [&s, &i] {
        const std::size_t start = i;
        while (i < s.size() && isDigit(s[i]))
            ++i;
        return i > start;
    };
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    bool mantissa = digitsFrom();
    if (i < s.size() && s[i] == '.') {
        ++i;
        mantissa = digitsFrom() || mantissa;
    }
    if (!mantissa)
        return false;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (!digitsFrom())
            return false;
    }
    return i == s.size();
}

// "12 s", "3 min", "2 h 5 min".
QString duration(Millis ms)
{
    const Millis s = ms / 1000;
    if (s < 120)
        return QStringLiteral("%1 s").arg(s);
    if (s < 7200)
        return QStringLiteral("%1 min").arg(s / 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60);
}

} // namespace

std::string replyLineProblem(std::string_view line, std::string_view devId)
{
    for (const char c : line)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
            return "control bytes: noise, or a wrong baud rate";
    if (line.size() == devId.size() + 2 && line.substr(0, devId.size()) == devId &&
        line.substr(devId.size()) == "OK")
        return {};
    // As the interpreter reads them: deviceId, "V0", the digit 1 to 8, "=".
    const std::size_t d = devId.size();
    const std::size_t k = devId.empty() ? 4 : 5;
    const bool valueLine = d <= 1 && line.size() >= k && line.substr(0, d) == devId &&
                           line[d] == 'V' && line[d + 1] == '0' && line[d + 2] >= '1' &&
                           line[d + 2] <= '8' && line[d + 3] == '=';
    if (valueLine) {
        if (isPlainNumber(line.substr(k)))
            return {};
        return "the value after " + std::string(line.substr(d, 4)) + " is not a number";
    }
    if (d > 1 && line.substr(0, std::min(line.size(), d + 2)) == std::string(devId) + "V0")
        return "value lines are read only with an ID of at most one character";
    return "not a reply the program knows";
}

std::string escapedLine(std::string_view line, std::size_t maxBytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < line.size() && i < maxBytes; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    if (line.size() > maxBytes)
        out += "... (" + std::to_string(line.size()) + " bytes)";
    return out;
}

MalformedLines::~MalformedLines()
{
    if (timer_)
        loop_.stopTimer(timer_);
}

void MalformedLines::seen(std::string_view line, const std::string& problem, const QString& port)
{
    lastAt_ = loop_.now();
    if (count_++ > 0)
        return;
    firstAt_ = lastAt_;
    first_ =
        QStringLiteral("%1: \"%2\" (%3)")
            .arg(port, QString::fromStdString(escapedLine(line)), QString::fromStdString(problem));
    qCWarning(lcDevice).noquote() << "A line the program cannot use from" << first_
                                  << "- more are counted";
    timer_ = loop_.startTimer(static_cast<int>(kQuietMs), [this] { tick(); });
}

void MalformedLines::tick()
{
    const Millis now = loop_.now();
    if (now - lastAt_ < kQuietMs && now - firstAt_ < kLongestSpellMs)
        return;
    if (count_ > 1)
        qCWarning(lcDevice).noquote()
            << count_ << "lines the program cannot use in"
            << duration(lastAt_ - firstAt_) + ", the first from" << first_;
    count_ = 0;
    loop_.stopTimer(timer_);
    timer_ = 0;
}

} // namespace qm
