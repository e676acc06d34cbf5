#pragma once

#include "base/event_loop.h"

#include <functional>

namespace qm {

// A window timer: a period restarts only when the timer goes from disabled to
// enabled; enabling an enabled timer leaves its running period unchanged;
// disabling stops it at once.
class Timer {
public:
    Timer(EventLoop& loop, int intervalMs, std::function<void()> onTick);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    bool enabled() const { return id_ != 0; }
    void setEnabled(bool on);
    int interval() const { return interval_; }

private:
    EventLoop& loop_;
    int interval_;
    std::function<void()> onTick_;
    int id_ = 0;
};

} // namespace qm
