#include "tests/support/sim_event_loop.h"

#include <utility>

namespace qm::test {

int SimEventLoop::startTimer(int intervalMs, std::function<void()> tick)
{
    const int id = nextTimerId_++;
    timers_[id] = TimerEntry{intervalMs, std::move(tick)};
    queue_[{now_ + intervalMs, seq_++}] = Event{id, {}};
    return id;
}

void SimEventLoop::stopTimer(int id)
{
    timers_.erase(id);
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (it->second.timerId == id)
            it = queue_.erase(it);
        else
            ++it;
    }
}

void SimEventLoop::postAt(Millis at, std::function<void()> fn)
{
    queue_[{std::max(at, now_), seq_++}] = Event{0, std::move(fn)};
}

// Runs the earliest event due at or before `limit`. Returns false when none is.
bool SimEventLoop::runNext(Millis limit)
{
    if (queue_.empty())
        return false;
    auto it = queue_.begin();
    const Millis due = std::get<0>(it->first);
    if (due > limit)
        return false;
    Event ev = std::move(it->second);
    queue_.erase(it);
    now_ = std::max(now_, due);
    if (ev.timerId == 0) {
        ev.fn();
        return true;
    }
    auto timer = timers_.find(ev.timerId);
    if (timer == timers_.end())
        return true;
    // The next tick is scheduled before this one runs, so it keeps its phase
    // even while this tick's handler waits.
    queue_[{due + timer->second.interval, seq_++}] = Event{ev.timerId, {}};
    auto tick = timer->second.tick; // the handler may stop or restart its timer
    tick();
    return true;
}

void SimEventLoop::runNestedUntil(Millis deadline, const std::function<bool()>& done)
{
    while (!done()) {
        if (!runNext(deadline)) {
            if (deadline == kForever)
                throw std::logic_error("simulated wait without deadline has nothing left to run");
            now_ = std::max(now_, deadline);
            return;
        }
    }
}

void SimEventLoop::terminate(int exitCode)
{
    terminated_ = true;
    exitCode_ = exitCode;
    timers_.clear();
    queue_.clear();
    throw Terminated{exitCode};
}

bool SimEventLoop::runUntil(Millis t)
{
    if (terminated_)
        return false;
    try {
        while (runNext(t)) {
        }
    } catch (const Terminated&) {
        return false;
    }
    now_ = std::max(now_, t);
    return true;
}

} // namespace qm::test
