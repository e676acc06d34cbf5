#pragma once

#include "base/event_loop.h"
#include "base/timer.h"

#include <functional>

namespace qm {

// One sample cycle: for each channel 1..count a pause, the channel's value
// request and its reply awaited, then the evaluation. Each wait is a state
// that a timer or the end of the reply wait moves on; nothing here blocks.
//
//   Idle --start--> Pausing --pause over--> (request sent) AwaitingReply
//   AwaitingReply --reply wait over--> Pausing (next channel) | Idle (finished)
//   a request that cannot be sent goes on to the next channel at once.
// With all eight channels the first request goes out without a pause.
class SampleCycle {
public:
    enum class State { Idle, Pausing, AwaitingReply };

    struct Steps {
        // Sends the value request of `channel`; true when its reply is now
        // awaited, false when the request could not be sent.
        std::function<bool(int channel)> request;
        // After the last channel: the readings are complete.
        std::function<void()> finished;
    };

    static constexpr int kPauseMs = 500;

    SampleCycle(EventLoop& loop, Steps steps);

    // Starts a cycle over channels 1..count (1 to 8) when none runs.
    void start(int count);
    // The awaited reply has come, or the watchdog has given up on it.
    void replyWaitOver();

    State state() const { return state_; }
    bool running() const { return state_ != State::Idle; }
    int channel() const { return channel_; } // the one paused for or awaited

private:
    void nextChannel();
    void sendRequest();

    Steps steps_;
    Timer pause_;
    State state_ = State::Idle;
    int channel_ = 0;
    int count_ = 0;
};

} // namespace qm
