#pragma once

#include "app/main_form.h"

#include <QDate>
#include <QString>
#include <QTime>

#include <string>

namespace qm {

// "yymmdd.txt" for the day's log file: 12 March 2025 -> "250312.txt".
QString logFileName(const QDate& date);

// One log line: the quoted time of day and the eight values in the invariant
// number form, CR LF at the end: "08:15:02",23.4,-0.5,0,0,0,0,0,0
std::string logLine(const QTime& time, const ChannelArray<Single>& values);

// Appends `line` to the file at `path`, creating its directory and the file
// when needed. Opened, written and closed in this one call. Returns false on
// any failure.
bool appendLine(const QString& dir, const QString& path, const std::string& line);

} // namespace qm
