// The kernel's termios2, for baud rates that have no Bxxx constant. Its
// header defines a struct termios of its own, so this file includes nothing
// of the C library's terminal interface.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace qm {

bool setCustomSpeed(int fd, unsigned rate)
{
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    if (::ioctl(fd, TCSETS2, &t) != 0)
        return false;
    termios2 kept{};
    if (::ioctl(fd, TCGETS2, &kept) != 0)
        return false;
    // A driver rounds to the rates its clock divides into; within 3 % still
    // carries 8N1 characters.
    const unsigned got = kept.c_ospeed;
    if (got == 0 || (got > rate ? got - rate : rate - got) * 100 > rate * 3) {
        errno = EINVAL;
        return false;
    }
    return true;
}

} // namespace qm
