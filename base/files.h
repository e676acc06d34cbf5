#pragma once

#include "base/file_descriptor.h"

#include <QByteArray>

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The path with every link and "." or ".." resolved; empty when it leads
// nowhere (absent, dangling, unreadable).
QByteArray realPath(const QByteArray& path);

// Small file operations on byte paths (any name the file system holds), with
// plain system calls: nothing here blocks on a FIFO or device.

// The contents of a regular file (a link to one is followed), at most
// `maxSize` bytes of it. Nothing for a missing or unreadable file, or for
// anything but a regular file.
std::optional<std::string> readRegularFile(const QByteArray& path, std::size_t maxSize);

// Replaces the file at `path` with `bytes` in one step: written beside it,
// flushed to disk and renamed over it, so a crash or a full disk leaves either
// the old file or the new one, whole. A link is replaced at its target; the
// replaced file's permissions (and, for root, its owner) are kept. False when
// nothing was changed; errno then says why.
bool replaceFile(const QByteArray& path, std::string_view bytes);

// Writes all of `bytes` to the descriptor, retrying interrupted and partial
// writes. Returns how many were written.
std::size_t writeAll(int fd, std::string_view bytes);

} // namespace qm
