#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

namespace qm {

// "section/key" to the value as written: the line's text after '=', without
// the blanks around it and without a comment (';' or '#' after a blank, or
// anything after a closing quote). A value in double quotes is taken whole.
// A section header may be followed by a comment; a key given twice is an
// error, not the last one winning. Errors name mqtt.conf and the line.
using Ini = std::map<QByteArray, QByteArray>;
std::optional<Ini> parseIni(const QByteArray& text, QString& error);

// The values of an INI file by their type. The first value that is not of
// its type is the error, named with its key; later ones leave it as it is.
class IniReader {
public:
    IniReader(const Ini& ini, QString& error)
        : ini_(ini)
        , error_(error)
    {
    }
    bool has(const char* key) const { return ini_.count(key) != 0; }
    QByteArray bytes(const char* key) const;
    // Text must be UTF-8 as written: a byte that is not would reach a topic
    // or the broker as U+FFFD.
    QString text(const char* key);
    bool boolean(const char* key, bool fallback);
    int number(const char* key, int fallback, int lo, int hi);
    void fail(const QString& message);

private:
    const Ini& ini_;
    QString& error_;
};

} // namespace qm
