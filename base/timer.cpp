#include "base/timer.h"

namespace qm {

Timer::Timer(EventLoop& loop, int intervalMs, std::function<void()> onTick)
    : loop_(loop)
    , interval_(intervalMs)
    , onTick_(std::move(onTick))
{
}

Timer::~Timer()
{
    setEnabled(false);
}

void Timer::setEnabled(bool on)
{
    if (on && id_ == 0) {
        id_ = loop_.startTimer(interval_, [this] { onTick_(); });
    } else if (!on && id_ != 0) {
        loop_.stopTimer(id_);
        id_ = 0;
    }
}

} // namespace qm
