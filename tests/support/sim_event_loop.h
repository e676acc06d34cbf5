#pragma once

#include "app/event_loop.h"

#include <functional>
#include <map>
#include <stdexcept>
#include <tuple>

namespace qm::test {

// Thrown by terminate(): unwinds the handler that ended the program back to
// the test's run call, so nothing after it runs.
struct Terminated {
    int exitCode;
};

// A deterministic event loop on a simulated clock. Events due at the same
// millisecond run in the order they were scheduled. Nested waits run the same
// queue, so a timer keeps ticking, in phase, while its own handler waits.
class SimEventLoop final : public EventLoop {
public:
    Millis now() const override { return now_; }
    int startTimer(int intervalMs, std::function<void()> tick) override;
    void stopTimer(int id) override;
    void runNestedUntil(Millis deadline, const std::function<bool()>& done) override;
    [[noreturn]] void terminate(int exitCode) override;

    // Test side ------------------------------------------------------------
    // Runs `fn` as an event at time `at` (not before now).
    void postAt(Millis at, std::function<void()> fn);
    void post(std::function<void()> fn) { postAt(now_, std::move(fn)); }
    // Runs every event due up to `t`, then sets the clock to `t` (unless a
    // nested wait already took it further). Returns false if the program
    // terminated.
    bool runUntil(Millis t);
    bool runFor(Millis ms) { return runUntil(now_ + ms); }
    bool terminated() const { return terminated_; }
    int exitCode() const { return exitCode_; }
    int activeTimers() const { return static_cast<int>(timers_.size()); }

private:
    struct TimerEntry {
        int interval;
        std::function<void()> tick;
    };
    using Key = std::tuple<Millis, long>; // due time, sequence
    struct Event {
        int timerId; // 0 for a posted event
        std::function<void()> fn;
    };

    bool runNext(Millis limit);

    Millis now_ = 0;
    long seq_ = 0;
    int nextTimerId_ = 1;
    bool terminated_ = false;
    int exitCode_ = 0;
    std::map<int, TimerEntry> timers_;
    std::map<Key, Event> queue_;
};

} // namespace qm::test
