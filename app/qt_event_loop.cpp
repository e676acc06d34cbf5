#include "app/qt_event_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>

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
    timers_.clear();
    retired_.clear();
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
    connect(&entry->timer, &QTimer::timeout, this, [this, tick = entry->tick] {
        ++ticking_;
        if (*tick)
            (*tick)();
        --ticking_;
    });
    entry->timer.start();
    timers_.emplace(id, std::move(entry));
    return id;
}

void QtEventLoop::stopTimer(int id)
{
    auto node = timers_.extract(id);
    if (node.empty())
        return;
    node.mapped()->timer.stop();
    if (ticking_ == 0)
        return; // destroyed here: no timer is delivering its tick
    // A tick handler stops a timer, perhaps its own, whose signal is still
    // being delivered: it is destroyed once the tick has returned.
    retired_.push_back(std::move(node.mapped()));
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (ticking_ == 0)
                retired_.clear();
        },
        Qt::QueuedConnection);
}

void QtEventLoop::quit(int exitCode)
{
    std::vector<int> ids;
    for (const auto& [id, entry] : timers_)
        ids.push_back(id);
    for (const int id : ids)
        stopTimer(id);
    QCoreApplication::exit(exitCode);
}

} // namespace qm
