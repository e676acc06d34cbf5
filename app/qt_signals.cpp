#include "app/qt_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

int g_pipe[2] = {-1, -1};

// Only what is safe in a signal handler: one byte into the pipe.
void writeSignalByte(int)
{
    const int saved = errno;
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1);
    errno = saved;
}

} // namespace

void catchTerminationSignals(std::initializer_list<int> signalNumbers)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // signals keep their default action
    struct sigaction sa {};
    sa.sa_handler = writeSignalByte;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : signalNumbers)
        ::sigaction(sig, &sa, nullptr);
}

QtSignalWatcher::QtSignalWatcher(std::initializer_list<int> signalNumbers,
                                 std::function<void()> onSignal)
    : onSignal_(std::move(onSignal))
{
    catchTerminationSignals(signalNumbers);
    if (g_pipe[0] < 0)
        return;
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char buf[64];
        while (::read(g_pipe[0], buf, sizeof buf) > 0) {
        }
        if (onSignal_)
            onSignal_();
    });
}

QtSignalWatcher::~QtSignalWatcher()
{
    delete notifier_;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

} // namespace qm
