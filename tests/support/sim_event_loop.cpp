#include "tests/support/sim_event_loop.h"

namespace qm::test {

int SimEventLoop::startTimer(int intervalMs, std::function<void()> tick)
{
    const int id = nextTimerId_++;
    timers_[id] = {intervalMs, std::move(tick)};
    queue_[{now_ + intervalMs, seq_++}] = {id, {}};
    return id;
}

void SimEventLoop::stopTimer(int id)
{
    timers_.erase(id);
    std::erase_if(queue_, [id](const auto& e) { return e.second.first == id; });
}

void SimEventLoop::postAt(Millis at, std::function<void()> fn)
{
    queue_[{std::max(at, now_), seq_++}] = {0, std::move(fn)};
}

bool SimEventLoop::runNext(Millis limit)
{
    if (queue_.empty() || std::get<0>(queue_.begin()->first) > limit)
        return false;
    const Millis due = std::get<0>(queue_.begin()->first);
    const auto [timerId, fn] = std::move(queue_.begin()->second);
    queue_.erase(queue_.begin());
    now_ = std::max(now_, due);
    if (timerId == 0) {
        fn();
        return true;
    }
    const auto timer = timers_.find(timerId);
    if (timer == timers_.end())
        return true;
    // The next tick is queued before this one runs, so a handler that stops
    // its own timer removes it.
    queue_[{due + timer->second.first, seq_++}] = {timerId, {}};
    const auto tick = timer->second.second; // the handler may stop its timer
    tick();
    return true;
}

void SimEventLoop::quit(int exitCode)
{
    terminated_ = true;
    exitCode_ = exitCode;
    timers_.clear();
    queue_.clear();
}

bool SimEventLoop::runUntil(Millis t)
{
    while (!terminated_ && runNext(t)) {
    }
    if (!terminated_)
        now_ = std::max(now_, t);
    return !terminated_;
}

} // namespace qm::test
