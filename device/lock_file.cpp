#include "device/lock_file.h"

#include "base/files.h"
#include "base/numbers.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

// The process id a lock file names; 0 when it names none.
pid_t lockOwner(const QByteArray& path)
{
    FileDescriptor fd(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid())
        return 0;
    char buf[64];
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    fd.close();
    if (n <= 0)
        return 0;
    // "%10d\n": blanks, the number, and whatever follows it.
    std::string_view text(buf, std::size_t(n));
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    const std::size_t digitsAt = !text.empty() && text.front() == '-' ? 1 : 0;
    text = text.substr(0, std::min(text.find_first_not_of("0123456789", digitsAt), text.size()));
    return readNumber<pid_t>(text, 1, std::numeric_limits<pid_t>::max()).value_or(0);
}

// "%10d\n", as every serial program writes it.
QByteArray lockFileContent(pid_t pid)
{
    char text[16];
    const auto [end, ec] = std::to_chars(text, text + 10, static_cast<long>(pid));
    const std::size_t digits = static_cast<std::size_t>(end - text);
    QByteArray content(static_cast<qsizetype>(10 - digits), ' ');
    return content.append(text, static_cast<qsizetype>(digits)).append('\n');
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

QString userName(uid_t uid)
{
    const passwd* p = ::getpwuid(uid);
    return p ? QString::fromLocal8Bit(p->pw_name) : QString::number(uid);
}

// "process 1234 (minicom)", the name where it can be read.
QString processText(pid_t pid)
{
    QString text = QStringLiteral("process %1").arg(pid);
    const QByteArray comm = "/proc/" + QByteArray::number(pid) + "/comm";
    FileDescriptor fd(::open(comm.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return text;
    char name[64];
    const ssize_t n = ::read(fd.get(), name, sizeof name);
    fd.close();
    if (n > 1)
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(name, n - 1));
    return text;
}

// The lock file and who made it: "the lock file /run/lock/LCK..pts_3 (owner
// root)".
QString lockText(const QByteArray& path)
{
    QString text = QStringLiteral("the lock file ") + QString::fromLocal8Bit(path);
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0)
        text += QStringLiteral(" (owner %1)").arg(userName(st.st_uid));
    return text;
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
    refusal_.clear();
    const QByteArray folder = lockFolder();
    if (folder.isEmpty())
        return true;
    const QByteArray path = folder + '/' + fileName(devicePath);
    const QByteArray content = lockFileContent(::getpid());
    for (int attempt = 0; attempt < 2; ++attempt) {
        FileDescriptor fd(
            ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (fd.valid()) {
            // Readable by every serial program, whatever the umask.
            ::fchmod(fd.get(), 0644);
            const bool written =
                ::write(fd.get(), content.constData(), content.size()) == content.size();
            fd.close();
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
        if (owner > 0 && running(owner)) {
            refusal_ =
                lockText(path) + QStringLiteral(" names %1, which is running: close that "
                                                "program, or give this instance another port")
                                     .arg(processText(owner));
            return false;
        }
        if (owner <= 0 && justMade(path)) {
            refusal_ = lockText(path) +
                       QStringLiteral(" names no process yet: another program is taking the "
                                      "device just now");
            return false;
        }
        // Stale: its process is gone.
        if (::unlink(path.constData()) != 0 && errno != ENOENT) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            refusal_ =
                lockText(path) +
                (owner > 0 ? QStringLiteral(" names process %1, which no longer runs,").arg(owner)
                           : QStringLiteral(" names no process,")) +
                QStringLiteral(" and user %1 may not remove it (%2): remove it with "
                               "sudo rm %3")
                    .arg(userName(::geteuid()), reason, QString::fromLocal8Bit(path));
            return false;
        }
    }
    refusal_ = lockText(path) +
               QStringLiteral(" keeps coming back: another program is taking the device just now");
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
