#pragma once

#include "app/main_form.h"

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

// Appends `line` to the regular file at `path` (not through a link), creating
// its directory and the file when needed. Opened, written and closed in this
// one call; never blocks. Returns false on any failure, and then leaves no
// part of the line in the file.
bool appendLine(const QByteArray& dir, const QByteArray& path, const std::string& line);

} // namespace qm
