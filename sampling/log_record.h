#pragma once

#include <QByteArray>

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// A log line taken apart: the time of day and the eight values. Nothing for a
// line that is not exactly the log's form (cut off, edited by hand). The
// lines are written by logLine (sampling/log_file.h).
struct LogRecord {
    int secondOfDay = 0;
    std::array<float, 9> values{}; // elements 1..8
};
std::optional<LogRecord> parseLogRecord(std::string_view line);

// Reads a day's log file as a stream, `chunkBytes` at a time, whatever its
// size: calls `line` for every line that is in the log's form. The lines that
// are not are counted. Stops early when `cancel` turns true.
struct DayFileResult {
    bool opened = false;
    int skipped = 0;
    std::string problem; // why it cannot be read ("Permission denied", "a directory")
};
DayFileResult readDayFile(const QByteArray& path, const std::function<void(const LogRecord&)>& line,
                          std::size_t chunkBytes = 1 << 20,
                          const std::function<void(qint64 bytes)>& progress = {},
                          const std::atomic<bool>* cancel = nullptr);

} // namespace qm
