#pragma once

#include <QByteArray>

#include <string_view>
#include <sys/types.h>

namespace qm {

// The day's log file, appended to line by line. The descriptor stays open
// between lines; one lstat() confirms that the path still names the file it
// holds, so a file renamed, deleted or moved away while the program runs is
// followed by a new one at the path with the next line, as opening the path
// for every line would give. Lines handled in the same millisecond (a block
// of lines read at once) share one check. A line is one write(): it is
// whole in the file once append() returns, whatever happens to the program
// afterwards.
class AppendFile {
public:
    AppendFile() = default;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile() { close(); }

    // Appends `line` to the regular file at `path` (not through a link),
    // creating `dir` and the file when needed; never blocks. Returns false on
    // any failure, and then leaves no part of the line in the file.
    // `nowMs` is a monotonic time: the path is checked again when it differs
    // from the last check's.
    bool append(const QByteArray& dir, const QByteArray& path, std::string_view line, qint64 nowMs);
    void close();

private:
    bool open(const QByteArray& dir, const QByteArray& path);
    bool stillAtPath() const;

    int fd_ = -1;
    QByteArray path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    qint64 checkedAt_ = 0;
};

} // namespace qm
