#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace qm {

// The text of the configuration file `name` ("mqtt.conf") at `path`: nothing,
// with an error, when it is not a regular file, cannot be read or is larger
// than `maxSize` bytes (`sizeText`: "1 MiB"). Never cut short: a value could
// be read as another ("18831" as "188").
std::optional<std::string> readConfigText(const QByteArray& path, const QString& name,
                                          std::size_t maxSize, const QString& sizeText,
                                          QString& error);

// "section/key" to the value as written: the line's text after '=', without
// the blanks around it and without a comment (';' or '#' after a blank, or
// anything after a closing quote). A value in double quotes is taken whole.
// A section header may be followed by a comment; a key given twice is an
// error, not the last one winning. A key before any section header is the
// key alone. Errors name `file` (mqtt.conf, web.conf) and the line.
using Ini = std::map<QByteArray, QByteArray>;
std::optional<Ini> parseIni(const QByteArray& text, QString& error,
                            const QString& file = QStringLiteral("mqtt.conf"));

// The values of an INI file by their type. The first value that is not of
// its type is the error, named with the file and its key; later ones leave
// it as it is.
class IniReader {
public:
    IniReader(const Ini& ini, QString& error, const QString& file = QStringLiteral("mqtt.conf"))
        : ini_(ini)
        , error_(error)
        , file_(file)
    {
    }
    bool has(const char* key) const { return ini_.count(key) != 0; }
    QByteArray bytes(const char* key) const;
    // Text must be UTF-8 as written: a byte that is not would reach a topic
    // or the broker as U+FFFD.
    QString text(const char* key);
    bool boolean(const char* key, bool fallback);
    int number(const char* key, int fallback, int lo, int hi);
    // The first line of the file the key names, without the blanks around
    // it: a password only the user may read (the file's mode refuses group
    // and others). Empty without the key.
    QString secret(const char* key);
    void fail(const QString& message);
    const QString& file() const { return file_; }

private:
    const Ini& ini_;
    QString& error_;
    QString file_;
};

} // namespace qm
