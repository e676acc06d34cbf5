#include "sampling/log_file.h"

#include "app/files.h"
#include "app/numbers.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

QByteArray logFileName(const QDate& date)
{
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02d%02d.txt", date.year() % 100, date.month(), date.day());
    return name;
}

std::string logLine(const QTime& time, const ChannelArray<Single>& values)
{
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "\"%02d:%02d:%02d\"", time.hour(), time.minute(), time.second());
    std::string line = stamp;
    for (int i = 1; i <= 8; ++i) {
        line += ',';
        line += invariantForm(values[i]);
    }
    line += "\r\n";
    return line;
}

bool appendLine(const QByteArray& dir, const QByteArray& path, const std::string& line)
{
    // Plain system calls: this runs for every line a fast device sends. The
    // folder is made when the file cannot be opened for want of it. The day's
    // file itself is never a link and never blocks (a FIFO in its place is a
    // failure); the folder may be a link (to another disk, say).
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(path.constData(), flags, 0666);
    if (fd < 0 && errno == ENOENT) {
        if (::mkdir(dir.constData(), 0777) != 0 && errno != EEXIST)
            return false;
        fd = ::open(path.constData(), flags, 0666);
    }
    if (fd < 0)
        return false;
    struct stat before {};
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        ::close(fd);
        return false;
    }
    const std::size_t done = writeAll(fd, line);
    bool ok = done == line.size();
    // A line that did not fit (disk full) is taken out again whole, so the
    // next line does not run into its first half.
    if (!ok && done > 0)
        (void)::ftruncate(fd, before.st_size);
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

QDateTime MainForm::WriteLog()
{
    const QDateTime now = wallClock_.localNow();
    const QByteArray dir = paths_.file(paths_.name + "Log");
    const QByteArray path = dir + '/' + logFileName(now.date());
    // Failures are silent: the line is lost and the next evaluation tries again.
    (void)appendLine(dir, path, logLine(now.time(), VValue));
    return now;
}

} // namespace qm
