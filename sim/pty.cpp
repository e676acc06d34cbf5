#include "pty.h"

#include "base/file_descriptor.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace qm::sim {

namespace {

std::string sysError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool makeParentDirs(const std::string& path, std::string& error)
{
    std::size_t pos = 0;
    while ((pos = path.find('/', pos + 1)) != std::string::npos) {
        const std::string dir = path.substr(0, pos);
        if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
            error = sysError("cannot create " + dir);
            return false;
        }
    }
    return true;
}

} // namespace

Pty::~Pty()
{
    close();
}

void Pty::close()
{
    master_.reset();
    slavePath_.clear();
}

bool Pty::open(std::string& error)
{
    close();
    FileDescriptor m(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!m.valid()) {
        error = sysError("posix_openpt");
        return false;
    }
    if (::grantpt(m.get()) != 0 || ::unlockpt(m.get()) != 0) {
        error = sysError("grantpt/unlockpt");
        return false;
    }
    const char* name = ::ptsname(m.get());
    if (!name) {
        error = sysError("ptsname");
        return false;
    }
    std::string slave = name;

    // Raw mode is a property of the terminal, not of a descriptor: set once
    // here, it stays when the program opens the slave later. Opening and
    // closing the slave also puts the master into its hung-up state, which
    // is how slaveOpen() tells when a program has the port open.
    FileDescriptor s(::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!s.valid()) {
        error = sysError("cannot open " + slave);
        return false;
    }
    termios tio{};
    if (::tcgetattr(s.get(), &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(s.get(), TCSANOW, &tio);
    }
    s.close();

    master_ = std::move(m);
    slavePath_ = slave;
    return true;
}

bool Pty::slaveOpen() const
{
    if (!master_.valid())
        return false;
    pollfd p{master_.get(), 0, 0};
    if (::poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
}

bool makeLink(const std::string& linkPath, const std::string& target, std::string& error)
{
    if (!makeParentDirs(linkPath, error))
        return false;
    // A new link under a temporary name, renamed over the old one, so the
    // path never goes missing while the link is replaced.
    const std::string tmp = linkPath + ".sim" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0) {
        error = sysError("cannot create link " + tmp);
        return false;
    }
    if (::rename(tmp.c_str(), linkPath.c_str()) != 0) {
        error = sysError("cannot create link " + linkPath);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

void removeLinkTo(const std::string& linkPath, const std::string& target)
{
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink(linkPath.c_str(), buf.data(), buf.size() - 1);
    if (n < 0)
        return;
    if (std::string(buf.data(), static_cast<std::size_t>(n)) == target)
        ::unlink(linkPath.c_str());
}

} // namespace qm::sim
