#pragma once

#include "web/snapshot_hub.h"

#include <QByteArray>
#include <QDate>

#include <optional>
#include <vector>

namespace qm {

// A day file of the log folder: "250312.txt", the day it holds, its size.
struct LogFile {
    QByteArray name;
    QDate date;
    qint64 size = 0;
};

// The day files in the folder, newest first: regular files (not links) named
// as the log names them. Only these are ever served.
std::vector<LogFile> listLogFiles(const QByteArray& logDir);
// The listed file `name` is, byte for byte; null for any other name.
const LogFile* findLogFile(const std::vector<LogFile>& files, const QByteArray& name);
// /api/logs' JSON object.
QByteArray logListJson(const std::vector<LogFile>& files);
// The file's bytes as logged; nothing when it cannot be read (or has become
// something else than a regular file).
std::optional<QByteArray> readLogFile(const QByteArray& logDir, const LogFile& file);
// The day as the trend exports it: CSV, every reading.
QByteArray dayCsv(const QByteArray& logDir, const LogFile& file, const Snapshot& snap);

} // namespace qm
