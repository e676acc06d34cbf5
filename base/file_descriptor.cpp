#include "base/file_descriptor.h"

#include <unistd.h>

namespace qm {

void FileDescriptor::reset(int fd)
{
    if (fd_ >= 0 && fd_ != fd)
        ::close(fd_);
    fd_ = fd;
}

int FileDescriptor::close()
{
    return fd_ < 0 ? 0 : ::close(release());
}

} // namespace qm
