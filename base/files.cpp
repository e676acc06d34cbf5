#include "base/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

QByteArray realPath(const QByteArray& path)
{
    char* real = ::realpath(path.constData(), nullptr);
    const QByteArray out = real ? QByteArray(real) : QByteArray();
    std::free(real);
    return out;
}

std::optional<std::string> readRegularFile(const QByteArray& path, std::size_t maxSize)
{
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const FileDescriptor file(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    const int fd = file.get();
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> out;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::string bytes;
        char buf[65536];
        for (;;) {
            // No more than is wanted (a byte at least, to see the end).
            const ssize_t n = ::read(
                fd, buf, std::min(sizeof buf, std::max<std::size_t>(maxSize - bytes.size(), 1)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0)
                    out = std::move(bytes);
                break;
            }
            bytes.append(
                buf, std::min<std::size_t>(static_cast<std::size_t>(n), maxSize - bytes.size()));
            if (bytes.size() >= maxSize) {
                out = std::move(bytes);
                break;
            }
        }
    }
    return out;
}

std::size_t writeAll(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool replaceFile(const QByteArray& path, std::string_view bytes)
{
    QByteArray target = path;
    mode_t mode = 0;
    struct stat st {};
    const bool existed = ::stat(path.constData(), &st) == 0;
    if (existed) {
        if (const QByteArray real = realPath(path); !real.isEmpty())
            target = real;
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    QByteArray temp = target + ".XXXXXX";
    FileDescriptor file(::mkostemp(temp.data(), O_CLOEXEC));
    const int fd = file.get();
    if (fd < 0)
        return false;
    // The replaced file's owner too, where this user may give it (root
    // setting up a service's files).
    if (existed && ::geteuid() == 0) [[maybe_unused]]
        const int owned = ::fchown(fd, st.st_uid, st.st_gid);
    errno = ENOSPC; // a write that takes less without a word: the disk is full
    const bool ok =
        ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) == bytes.size() && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (file.close() != 0 && ok)
        error = errno;
    if (!error && ::rename(temp.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temp.constData());
        errno = error;
    }
    return !error;
}

} // namespace qm
