#include "app/signal_pipe.h"

#include "base/file_descriptor.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

// The pipe's two ends; the handler only reads the write end's number.
FileDescriptor g_readEnd;
FileDescriptor g_writeEnd;

void writeSignalByte(int)
{
    const int saved = errno;
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_writeEnd.get(), &b, 1);
    errno = saved;
}

} // namespace

int catchSignalsInPipe(std::initializer_list<int> signalNumbers, bool restart)
{
    if (!g_readEnd.valid()) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return -1;
        g_readEnd.reset(ends[0]);
        g_writeEnd.reset(ends[1]);
    }
    struct sigaction sa {};
    sa.sa_handler = writeSignalByte;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = restart ? SA_RESTART : 0;
    for (const int sig : signalNumbers)
        ::sigaction(sig, &sa, nullptr);
    return g_readEnd.get();
}

int signalPipeReadEnd()
{
    return g_readEnd.get();
}

void drainSignalPipe()
{
    char buf[64];
    while (g_readEnd.valid() && ::read(g_readEnd.get(), buf, sizeof buf) > 0) {
    }
}

void closeSignalPipe()
{
    g_readEnd.reset();
    g_writeEnd.reset();
}

} // namespace qm
