#pragma once

#include <cstdint>
#include <functional>

namespace qm {

// Milliseconds on a monotonic clock with an arbitrary origin.
using Millis = std::int64_t;
inline constexpr Millis kForever = INT64_MAX;

// The core's only view of time and of the event loop. One thread: every
// callback runs on the thread that runs the loop, one at a time, each to its
// end. Nothing waits inside a callback: a wait is a state that a timer ends.
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

    // Ends the program with `exitCode` once the running handler has returned:
    // every timer stops now, and the program's objects are then destroyed in
    // order (files closed, locks released).
    virtual void quit(int exitCode) = 0;
};

} // namespace qm
