#include "web/json.h"

#include <charconv>
#include <cmath>

namespace qm::json {

QByteArray string(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    static const char hex[] = "0123456789abcdef";
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u == 0x7f) {
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

QByteArray number(double value)
{
    if (!std::isfinite(value))
        return QByteArrayLiteral("null");
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return QByteArray(buf, r.ptr - buf);
}

QByteArray number(qint64 value)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return QByteArray(buf, r.ptr - buf);
}

double widened(float value)
{
    if (!std::isfinite(value))
        return double(value);
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    double out = 0;
    std::from_chars(buf, r.ptr, out);
    return out;
}

QByteArray boolean(bool value)
{
    return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

QByteArray colour(Rgb c)
{
    char buf[10];
    static const char hex[] = "0123456789abcdef";
    buf[0] = '"';
    buf[1] = '#';
    const unsigned char parts[3] = {c.r, c.g, c.b};
    for (int i = 0; i < 3; ++i) {
        buf[2 + 2 * i] = hex[parts[i] >> 4];
        buf[3 + 2 * i] = hex[parts[i] & 15];
    }
    buf[8] = '"';
    return QByteArray(buf, 9);
}

} // namespace qm::json
