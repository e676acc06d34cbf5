#include "web/http_types.h"

#include <QList>

namespace qm {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool percentDecode(const QByteArray& in, QByteArray& out, bool plusIsBlank)
{
    out.clear();
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '%') {
            if (i + 2 >= in.size())
                return false;
            const int hi = hexDigit(in[i + 1]), lo = hexDigit(in[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += plusIsBlank && in[i] == '+' ? ' ' : in[i];
        }
    }
    return true;
}

} // namespace

bool decodePath(const QByteArray& raw, QByteArray& path, QByteArray& query)
{
    const qsizetype q = raw.indexOf('?');
    query = q < 0 ? QByteArray() : raw.mid(q + 1);
    if (!raw.startsWith('/') || !percentDecode(raw.left(q < 0 ? raw.size() : q), path, false))
        return false;
    return !path.contains('\0');
}

bool formPairs(const QByteArray& form, std::vector<std::pair<QByteArray, QByteArray>>& out)
{
    for (const QByteArray& part : form.split('&')) {
        if (part.isEmpty())
            continue;
        const qsizetype eq = part.indexOf('=');
        QByteArray key, value;
        if (!percentDecode(eq < 0 ? part : part.left(eq), key, true) ||
            !percentDecode(eq < 0 ? QByteArray() : part.mid(eq + 1), value, true))
            return false;
        out.emplace_back(key, value);
    }
    return true;
}

QByteArray formValue(const QByteArray& form, const QByteArray& key, bool* found)
{
    std::vector<std::pair<QByteArray, QByteArray>> pairs;
    formPairs(form, pairs);
    for (const auto& [k, v] : pairs)
        if (k == key) {
            if (found)
                *found = true;
            return v;
        }
    if (found)
        *found = false;
    return {};
}

} // namespace qm
