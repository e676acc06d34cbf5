#pragma once

#include "base/event_loop.h"

#include <functional>
#include <map>
#include <tuple>

namespace qm::test {

// A deterministic event loop on a simulated clock; events due at the same
// millisecond run in the order they were scheduled.
class SimEventLoop final : public EventLoop {
public:
    Millis now() const override { return now_; }
    int startTimer(int intervalMs, std::function<void()> tick) override;
    void stopTimer(int id) override;
    void quit(int exitCode) override;

    // Runs `fn` as an event at time `at` (not before now).
    void postAt(Millis at, std::function<void()> fn);
    // Runs every event due up to `t`, then sets the clock to `t`. False once
    // the program has terminated.
    bool runUntil(Millis t);
    bool runFor(Millis ms) { return runUntil(now_ + ms); }
    int exitCode() const { return exitCode_; }

private:
    bool runNext(Millis limit);

    Millis now_ = 0;
    long seq_ = 0;
    int nextTimerId_ = 1;
    bool terminated_ = false;
    int exitCode_ = 0;
    std::map<int, std::pair<int, std::function<void()>>> timers_; // interval, tick
    std::map<std::tuple<Millis, long>, std::pair<int, std::function<void()>>>
        queue_; // timer id or 0, fn
};

} // namespace qm::test
