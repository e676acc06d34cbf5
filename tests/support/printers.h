#pragma once

// How GoogleTest shows Qt values, and Qt texts in a failure's message; every
// test file gets these through the build (-include), as a type's printer must
// be the same in every file.

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"';
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\r') {
            *os << "\\r";
        } else if (c == '\n') {
            *os << "\\n";
        } else if (c == '"' || c == '\\') {
            *os << '\\' << c;
        } else if (b < 0x20 || b >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            *os << hex;
        } else {
            *os << c;
        }
    }
    *os << '"';
}

// In a message: the text as it is, a program's output line by line.
inline std::ostream& operator<<(std::ostream& os, const QString& s)
{
    return os << s.toStdString();
}

inline std::ostream& operator<<(std::ostream& os, const QByteArray& bytes)
{
    return os.write(bytes.constData(), bytes.size());
}

#ifdef QT_GUI_LIB
#include <QColor>

inline void PrintTo(const QColor& c, std::ostream* os)
{
    *os << c.name(QColor::HexArgb).toStdString();
}
#endif
