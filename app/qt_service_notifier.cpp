#include "app/qt_service_notifier.h"

#include "base/log_categories.h"

#include <systemd/sd-daemon.h>

namespace qm {

namespace {

// A manager that cannot be reached is told once, not every watchdog period.
void notify(const QByteArray& state)
{
    static bool unreachable = false;
    const int r = sd_notify(0, state.constData());
    if (r < 0 && !unreachable)
        qCWarning(lcService).noquote()
            << "cannot reach the service manager:" << qt_error_string(-r);
    unreachable = r < 0;
}

QByteArray statusLine(const QString& status)
{
    return "STATUS=" + status.toUtf8().replace('\n', ' ');
}

} // namespace

QtServiceNotifier::QtServiceNotifier()
{
    watchdog_.setTimerType(Qt::PreciseTimer);
    connect(&watchdog_, &QTimer::timeout, this, [] { notify("WATCHDOG=1"); });
}

void QtServiceNotifier::ready(const QString& status)
{
    notify("READY=1\n" + statusLine(status));
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        watchdog_.start(std::chrono::milliseconds(std::max<uint64_t>(usec / 2000, 1)));
        qCInfo(lcService) << "watchdog every" << usec / 1000 << "ms";
    }
}

void QtServiceNotifier::linkChanged(const LinkState& state)
{
    notify(statusLine(state.text()));
}

void QtServiceNotifier::closing()
{
    watchdog_.stop();
    notify("STOPPING=1");
}

} // namespace qm
