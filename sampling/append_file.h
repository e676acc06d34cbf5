#pragma once

#include "base/files.h"

#include "base/event_loop.h"

#include <QByteArray>

#include <string_view>
#include <sys/types.h>

namespace qm {

// The day's log file, appended to line by line. While lines come close
// together the descriptor stays open; after a quiet spell of at most
// kQuietMs it is closed, so the folder's disk can be unmounted between the
// lines of a sampled instance. While open, one lstat() confirms that the
// path still names the file it holds, with the same owner and permissions,
// so a file renamed, deleted, replaced, made read-only or given away while
// the program runs is opened afresh with the next line, as opening the path
// for every line would give. Lines handled in the same millisecond (a block
// of lines read at once) share one check. A line is one write(): it is
// whole in the file once append() returns, whatever happens to the program
// afterwards.
class AppendFile {
public:
    static constexpr int kQuietMs = 1000;

    explicit AppendFile(EventLoop& loop)
        : loop_(loop)
    {
    }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    ~AppendFile() { close(); }

    // Appends `line` to the regular file at `path` (not through a link),
    // creating `dir` and the file when needed; never blocks. Returns false on
    // any failure, and then leaves no part of the line in the file; error()
    // says why.
    bool append(const QByteArray& dir, const QByteArray& path, std::string_view line);
    void close();

    bool isOpen() const { return fd_.valid(); }
    int opens() const { return opens_; } // since construction
    int error() const { return error_; } // errno of the last failure

private:
    bool open(const QByteArray& dir, const QByteArray& path);
    bool stillAtPath() const;
    void quietTick();

    EventLoop& loop_;
    FileDescriptor fd_;
    QByteArray path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    mode_t mode_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    Millis checkedAt_ = -1;
    int quietTimer_ = 0;
    bool lineSinceTick_ = false;
    int opens_ = 0;
    int error_ = 0;
};

} // namespace qm
