#include "device/lock_file.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

// The process id a lock file names; 0 when it names none.
pid_t lockOwner(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return 0;
    char buf[64];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0)
        return 0;
    const char* p = buf;
    const char* end = buf + n;
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    long pid = 0;
    if (std::from_chars(p, end, pid).ec != std::errc() || pid <= 0)
        return 0;
    return static_cast<pid_t>(pid);
}

bool running(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// A lock file that names no process yet: being written just now, or left
// broken long ago.
bool justMade(const QByteArray& path)
{
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && std::time(nullptr) - st.st_mtime < 2;
}

QByteArray lockFolder()
{
    for (const char* dir : {"/var/lock", "/run/lock"}) {
        struct stat st {};
        if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && ::access(dir, W_OK) == 0)
            return dir;
    }
    return {};
}

} // namespace

QByteArray DeviceLock::fileName(const QByteArray& devicePath)
{
    QByteArray name = devicePath.startsWith("/dev/") ? devicePath.mid(5) : devicePath;
    name.replace('/', '_');
    return "LCK.." + name;
}

bool DeviceLock::acquire(const QByteArray& devicePath)
{
    release();
    const QByteArray folder = lockFolder();
    if (folder.isEmpty())
        return true;
    const QByteArray path = folder + '/' + fileName(devicePath);
    char text[16];
    const auto [end, ec] = std::to_chars(text, text + 10, static_cast<long>(::getpid()));
    const std::size_t digits = static_cast<std::size_t>(end - text);
    QByteArray content(static_cast<qsizetype>(10 - digits), ' ');
    content.append(text, static_cast<qsizetype>(digits)).append('\n');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd =
            ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            const bool written = ::write(fd, content.constData(), content.size()) == content.size();
            ::close(fd);
            if (!written) {
                ::unlink(path.constData());
                return true; // a full disk: the device is still taken, unlocked
            }
            path_ = path;
            return true;
        }
        if (errno != EEXIST)
            return true; // no lock to be had here; the exclusive open still guards
        const pid_t owner = lockOwner(path);
        if (owner > 0 ? running(owner) : justMade(path))
            return false;
        ::unlink(path.constData()); // stale: its process is gone
    }
    return false;
}

void DeviceLock::release()
{
    if (path_.isEmpty())
        return;
    if (lockOwner(path_) == ::getpid())
        ::unlink(path_.constData());
    path_.clear();
}

} // namespace qm
