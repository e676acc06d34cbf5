#include "sampling/append_file.h"

#include "base/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

void AppendFile::close()
{
    if (quietTimer_)
        loop_.stopTimer(quietTimer_);
    quietTimer_ = 0;
    fd_.reset();
    path_.clear();
}

bool AppendFile::stillAtPath() const
{
    struct stat st {};
    return ::lstat(path_.constData(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_ &&
           st.st_mode == mode_ && st.st_uid == uid_ && st.st_gid == gid_;
}

bool AppendFile::open(const QByteArray& dir, const QByteArray& path)
{
    close();
    // The folder is made when the file cannot be opened for want of it. The
    // day's file itself is never a link and never blocks (a FIFO in its place
    // is a failure); the folder may be a link (to another disk, say).
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    FileDescriptor fd(::open(path.constData(), flags, 0666));
    if (!fd.valid() && errno == ENOENT) {
        if (::mkdir(dir.constData(), 0777) != 0 && errno != EEXIST) {
            error_ = errno;
            return false;
        }
        fd.reset(::open(path.constData(), flags, 0666));
    }
    if (!fd.valid()) {
        error_ = errno;
        return false;
    }
    ++opens_;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = EINVAL;
        return false;
    }
    fd_ = std::move(fd);
    path_ = path;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    mode_ = st.st_mode;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
    // Ticks at half the quiet time: the file is closed at the first tick
    // that saw no line since the one before, between kQuietMs / 2 and
    // kQuietMs after the last line.
    quietTimer_ = loop_.startTimer(kQuietMs / 2, [this] { quietTick(); });
    return true;
}

void AppendFile::quietTick()
{
    if (!lineSinceTick_)
        close();
    lineSinceTick_ = false;
}

bool AppendFile::append(const QByteArray& dir, const QByteArray& path, std::string_view line)
{
    const Millis now = loop_.now();
    const bool check = now != checkedAt_;
    checkedAt_ = now;
    if (!fd_.valid() || path != path_ || (check && !stillAtPath())) {
        if (!open(dir, path))
            return false;
    }
    lineSinceTick_ = true;
    const std::size_t done = writeAll(fd_.get(), line);
    if (done == line.size())
        return true;
    error_ = errno;
    // A line that did not fit (disk full) is taken out again whole, so the
    // next line does not run into its first half. The file is opened afresh
    // for the next line.
    struct stat st {};
    if (done > 0 && ::fstat(fd_.get(), &st) == 0 && st.st_size >= static_cast<off_t>(done) &&
        ::ftruncate(fd_.get(), st.st_size - static_cast<off_t>(done)) != 0) {
        // Best effort: the line is lost either way.
    }
    close();
    return false;
}

} // namespace qm
