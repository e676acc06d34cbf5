#pragma once

#include <cstdint>
#include <functional>

namespace qm {

// Milliseconds on a monotonic clock with an arbitrary origin.
using Millis = std::int64_t;
inline constexpr Millis kForever = INT64_MAX;

// The core's only view of time and of the event loop. One thread: every
// callback runs on the thread that runs the loop, one at a time, except that
// a callback may wait (runNestedUntil), during which any other callback runs,
// including further ticks of the timer whose callback is waiting, in phase.
class EventLoop {
public:
    virtual ~EventLoop() = default;

    virtual Millis now() const = 0;

    // Starts a repeating timer: `tick` runs every `intervalMs` from now on,
    // until stopTimer(id). Returns a non-zero id, never reused.
    virtual int startTimer(int intervalMs, std::function<void()> tick) = 0;
    // Stops it at once: no tick of it runs after this call, not even one that
    // was already due.
    virtual void stopTimer(int id) = 0;

    // Lets events run until `done()` is true or `deadline` has been reached,
    // whichever comes first. Uses no CPU while nothing happens. `done` is
    // checked before the first event and after each one.
    virtual void runNestedUntil(Millis deadline, const std::function<bool()>& done) = 0;

    // Ends the program at once: no further event handler runs.
    [[noreturn]] virtual void terminate(int exitCode) = 0;
};

// Waits `delayMs` while letting events run.
inline void waitFor(EventLoop& loop, Millis delayMs)
{
    loop.runNestedUntil(loop.now() + delayMs, [] { return false; });
}

} // namespace qm
