#pragma once

#include "app/types.h"

#include <QByteArray>
#include <QString>

namespace qm {

// Small pieces of JSON text, written with "." whatever the locale.
namespace json {

// `text` as a JSON string, quotes included; control characters escaped.
QByteArray string(const QString& text);
// A number in its shortest exact form; null when it is not finite.
QByteArray number(double value);
QByteArray number(qint64 value);
QByteArray boolean(bool value);
// The double that prints as the float does in its shortest form (99.9f
// becomes 99.9, not 99.9000015258789).
double widened(float value);
// "#rrggbb" as a JSON string.
QByteArray colour(Rgb c);

} // namespace json

} // namespace qm
