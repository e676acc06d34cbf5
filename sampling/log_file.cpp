#include "sampling/log_file.h"

#include "app/numbers.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

QString logFileName(const QDate& date)
{
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02d%02d.txt", date.year() % 100, date.month(), date.day());
    return QString::fromLatin1(name);
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

bool appendLine(const QString& dir, const QString& path, const std::string& line)
{
    // Plain system calls: this runs for every line a fast device sends. The
    // folder is made when the file cannot be opened for want of it.
    const QByteArray fileName = QFile::encodeName(path);
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    int fd = ::open(fileName.constData(), flags, 0666);
    if (fd < 0 && errno == ENOENT) {
        const QByteArray dirName = QFile::encodeName(dir);
        if (::mkdir(dirName.constData(), 0777) != 0 && errno != EEXIST)
            return false;
        fd = ::open(fileName.constData(), flags, 0666);
    }
    if (fd < 0)
        return false;
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    std::size_t done = 0;
    bool ok = true;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // A line that did not fit (disk full) is taken out again whole, so the
    // next line does not run into its first half.
    if (!ok && done > 0 && sized)
        (void)::ftruncate(fd, before.st_size);
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

void MainForm::WriteLog()
{
    const QDateTime now = wallClock_.localNow();
    const QString dir = paths_.dir + QLatin1Char('/') + paths_.name + QStringLiteral("Log");
    const QString path = dir + QLatin1Char('/') + logFileName(now.date());
    // Failures are silent: the line is lost and the next evaluation tries again.
    (void)appendLine(dir, path, logLine(now.time(), VValue));
}

} // namespace qm
