#include "app/instance_lock.h"

#include "base/files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

// A write lock on the whole file (a record lock: the kernel drops it with the
// process).
struct flock wholeFile(short type)
{
    struct flock l {};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = 0;
    l.l_len = 0;
    return l;
}

long holderOfDescriptor(int fd)
{
    struct flock l = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_GETLK, &l) != 0 || l.l_type == F_UNLCK)
        return 0;
    return static_cast<long>(l.l_pid);
}

} // namespace

InstanceLock::InstanceLock(const QByteArray& path)
{
    fd_.reset(
        ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644));
    if (!fd_.valid()) {
        error_ = std::strerror(errno);
        return;
    }
    // Two starts at the same moment: the one that loses may find the lock
    // gone again before it asks who held it; it tries once more then.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct flock l = wholeFile(F_WRLCK);
        if (::fcntl(fd_.get(), F_SETLK, &l) == 0) {
            state_ = State::Held;
            const QByteArray pid = QByteArray::number(static_cast<qlonglong>(::getpid())) + '\n';
            if (::ftruncate(fd_.get(), 0) == 0) [[maybe_unused]]
                const ssize_t n =
                    ::pwrite(fd_.get(), pid.constData(), static_cast<std::size_t>(pid.size()), 0);
            return;
        }
        if (errno != EAGAIN && errno != EACCES) {
            error_ = std::strerror(errno);
            return;
        }
        holder_ = holderOfDescriptor(fd_.get());
        if (holder_ != 0)
            break;
    }
    state_ = State::HeldElsewhere;
}

InstanceLock::~InstanceLock()
{
}

long InstanceLock::holderOf(const QByteArray& path)
{
    const FileDescriptor fd(
        ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid())
        return 0;
    // F_GETLK asks for a write lock: a read-only descriptor may ask all the same.
    const long holder = holderOfDescriptor(fd.get());
    return holder;
}

} // namespace qm
