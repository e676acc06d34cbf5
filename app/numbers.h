#pragma once

#include <QLocale>
#include <QString>

#include <string>

namespace qm {

// The display form of a Single: rounded to at most seven significant digits,
// no exponent, no trailing zeros or separator, no thousands separators, "-"
// when negative, "0" before the separator below 1, the locale's decimal
// separator. 99.9 -> "99.9", 1234567.8 -> "1234568", -0.5 -> "-0.5" ("-0,5").
QString displayForm(float value, const QLocale& locale);

// The invariant number form of the settings and log files, the same in every
// locale: "." as decimal point, at most `precision` significant digits,
// exponent form where they do not suffice: 0, 1, 99.9, -9999.99, 0.5, 1E+07,
// 1.5E-05; INF and -INF for the infinities.
std::string invariantForm(float value, int precision = 7);

} // namespace qm
