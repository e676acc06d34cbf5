#pragma once

#include "base/types.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QTime>

#include <string>

namespace qm {

// "yymmdd.txt" for the day's log file: 12 March 2025 -> "250312.txt".
QByteArray logFileName(const QDate& date);

// One log line: the quoted time of day and the eight values in the invariant
// number form, CR LF at the end: "08:15:02",23.4,-0.5,0,0,0,0,0,0
std::string logLine(const QTime& time, const ChannelArray<Single>& values);

} // namespace qm
