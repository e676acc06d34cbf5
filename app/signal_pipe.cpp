#include "app/signal_pipe.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

int g_pipe[2] = {-1, -1};

void writeSignalByte(int)
{
    const int saved = errno;
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1);
    errno = saved;
}

} // namespace

int catchSignalsInPipe(std::initializer_list<int> signalNumbers, bool restart)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    struct sigaction sa {};
    sa.sa_handler = writeSignalByte;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = restart ? SA_RESTART : 0;
    for (const int sig : signalNumbers)
        ::sigaction(sig, &sa, nullptr);
    return g_pipe[0];
}

int signalPipeReadEnd()
{
    return g_pipe[0];
}

void drainSignalPipe()
{
    char buf[64];
    while (g_pipe[0] >= 0 && ::read(g_pipe[0], buf, sizeof buf) > 0) {
    }
}

void closeSignalPipe()
{
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace qm
