#include "base/ini_file.h"

#include "base/files.h"
#include "base/numbers.h"

#include <QList>

#include <sys/stat.h>

namespace qm {

namespace {

// `text` without its comment: from a ';' or '#' that starts it or follows a
// blank on.
QByteArray withoutComment(const QByteArray& text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if ((text[i] == ';' || text[i] == '#') &&
            (i == 0 || text[i - 1] == ' ' || text[i - 1] == '\t'))
            return text.left(i).trimmed();
    return text.trimmed();
}

} // namespace

std::optional<Ini> parseIni(const QByteArray& text, QString& error, const QString& file)
{
    Ini out;
    std::map<QByteArray, int> given; // the line of each key
    QByteArray section;
    int number = 0;
    for (QByteArray line : text.split('\n')) {
        ++number;
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            line = withoutComment(line);
            if (!line.endsWith(']')) {
                error = QStringLiteral("%1: line %2 is not \"[section]\"").arg(file).arg(number);
                return std::nullopt;
            }
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0) {
            error = QStringLiteral("%1: line %2 is not \"key = value\"").arg(file).arg(number);
            return std::nullopt;
        }
        QByteArray value = line.mid(eq + 1).trimmed();
        if (value.startsWith('"')) {
            const qsizetype close = value.indexOf('"', 1);
            value = close < 0 ? value.mid(1) : value.mid(1, close - 1);
        } else {
            value = withoutComment(value);
        }
        const QByteArray name = line.left(eq).trimmed();
        const QByteArray key = section.isEmpty() ? name : section + '/' + name;
        if (const auto [first, fresh] = given.emplace(key, number); !fresh) {
            error = QStringLiteral("%1: line %2: %3 is given twice (first on line %4)")
                        .arg(file)
                        .arg(number)
                        .arg(QString::fromUtf8(key))
                        .arg(first->second);
            return std::nullopt;
        }
        out[key] = value;
    }
    return out;
}

QByteArray IniReader::bytes(const char* key) const
{
    const auto it = ini_.find(key);
    return it == ini_.end() ? QByteArray() : it->second;
}

QString IniReader::text(const char* key)
{
    const QByteArray b = bytes(key);
    const QString s = QString::fromUtf8(b);
    if (s.toUtf8() != b)
        fail(QStringLiteral("%1: %2 is not UTF-8 text").arg(file_, QLatin1String(key)));
    return s;
}

bool IniReader::boolean(const char* key, bool fallback)
{
    const QByteArray v = bytes(key).toLower();
    if (v.isEmpty())
        return fallback;
    if (v != "true" && v != "false")
        fail(QStringLiteral("%1: %2 must be true or false, not \"%3\"")
                 .arg(file_, QLatin1String(key), QString::fromUtf8(bytes(key))));
    return v == "true";
}

int IniReader::number(const char* key, int fallback, int lo, int hi)
{
    if (!has(key))
        return fallback;
    const QByteArray v = bytes(key);
    const auto n = readNumber<int>(std::string_view(v.constData(), std::size_t(v.size())), lo, hi);
    if (!n)
        fail(QStringLiteral("%1: %2 must be a whole number from %3 to %4, not \"%5\"")
                 .arg(file_, QLatin1String(key))
                 .arg(lo)
                 .arg(hi)
                 .arg(QString::fromUtf8(v)));
    return n.value_or(0);
}

QString IniReader::secret(const char* key)
{
    const QByteArray file = bytes(key);
    if (file.isEmpty())
        return {};
    struct stat st {};
    const std::optional<std::string> text = readRegularFile(file, 4096);
    if (!text || ::stat(file.constData(), &st) != 0)
        fail(QStringLiteral("%1: %2 %3 cannot be read")
                 .arg(file_, QLatin1String(key), QString::fromUtf8(file)));
    else if (st.st_mode & 077)
        fail(QStringLiteral("%1: %2 %3 may be read by others (chmod 600 it)")
                 .arg(file_, QLatin1String(key), QString::fromUtf8(file)));
    else
        return QString::fromUtf8(QByteArray::fromStdString(*text).split('\n').value(0)).trimmed();
    return {};
}

void IniReader::fail(const QString& message)
{
    if (error_.isEmpty())
        error_ = message;
}

std::optional<std::string> readConfigText(const QByteArray& path, const QString& name,
                                          std::size_t maxSize, const QString& sizeText,
                                          QString& error)
{
    struct stat st {};
    if (::stat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = name + QStringLiteral(" is not a regular file");
        return std::nullopt;
    }
    const std::optional<std::string> text = readRegularFile(path, maxSize + 1);
    if (!text) {
        error = name + QStringLiteral(" cannot be read");
        return std::nullopt;
    }
    if (text->size() > maxSize) {
        error = name + QStringLiteral(" is larger than ") + sizeText;
        return std::nullopt;
    }
    return text;
}

} // namespace qm
