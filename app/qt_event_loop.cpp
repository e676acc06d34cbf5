#include "app/qt_event_loop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace qm {

struct QtEventLoop::Entry {
    QTimer timer;
    // Shared so that a tick handler that stops its own timer keeps running on
    // a live function object.
    std::shared_ptr<std::function<void()>> tick;
};

QtEventLoop::QtEventLoop()
{
    clock_.start();
}

QtEventLoop::~QtEventLoop()
{
    // Ticks still queued for this object are discarded with it by Qt.
    timers_.clear();
}

Millis QtEventLoop::now() const
{
    return clock_.elapsed();
}

int QtEventLoop::startTimer(int intervalMs, std::function<void()> tick)
{
    const int id = nextId_++;
    auto entry = std::make_unique<Entry>();
    entry->tick = std::make_shared<std::function<void()>>(std::move(tick));
    entry->timer.setTimerType(Qt::PreciseTimer);
    entry->timer.setSingleShot(false);
    entry->timer.setInterval(std::max(0, intervalMs));
    // The slot only queues the tick, so it returns at once and the QTimer keeps
    // firing in phase even while a tick handler waits in a nested loop.
    connect(&entry->timer, &QTimer::timeout, this, [this, id] {
        QMetaObject::invokeMethod(
            this, [this, id] { runTick(id); }, Qt::QueuedConnection);
    });
    entry->timer.start();
    timers_.emplace(id, std::move(entry));
    return id;
}

void QtEventLoop::stopTimer(int id)
{
    // Erasing the entry also makes runTick() drop any tick already queued.
    timers_.erase(id);
}

void QtEventLoop::runTick(int id)
{
    const auto it = timers_.find(id);
    if (it == timers_.end())
        return; // stopped after this tick was queued
    const std::shared_ptr<std::function<void()>> tick = it->second->tick;
    if (*tick)
        (*tick)();
}

void QtEventLoop::runNestedUntil(Millis deadline, const std::function<bool()>& done)
{
    if (done())
        return;
    // A single-shot timer wakes the blocking processEvents() at the deadline,
    // so the wait ends on time even when no other event comes, and sleeps in
    // the dispatcher (no CPU) in between.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    for (;;) {
        const Millis left = deadline - now();
        if (left <= 0)
            return;
        if (!wake.isActive())
            wake.start(static_cast<int>(std::min<Millis>(left, INT_MAX / 2)));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (done())
            return;
    }
}

void QtEventLoop::terminate(int exitCode)
{
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

} // namespace qm
