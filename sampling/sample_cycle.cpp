#include "sampling/sample_cycle.h"

namespace qm {

SampleCycle::SampleCycle(EventLoop& loop, Steps steps)
    : steps_(std::move(steps))
    , pause_(loop, kPauseMs, [this] {
        pause_.setEnabled(false);
        sendRequest();
    })
{
}

void SampleCycle::start(int count)
{
    if (running() || count < 1)
        return;
    count_ = count;
    channel_ = 0;
    nextChannel();
}

void SampleCycle::replyWaitOver()
{
    if (state_ == State::AwaitingReply)
        nextChannel();
}

void SampleCycle::nextChannel()
{
    ++channel_;
    if (channel_ > count_) {
        state_ = State::Idle;
        channel_ = 0;
        steps_.finished();
        return;
    }
    if (channel_ == 1 && count_ == 8) {
        sendRequest();
        return;
    }
    state_ = State::Pausing;
    pause_.setEnabled(true);
}

void SampleCycle::sendRequest()
{
    state_ = State::AwaitingReply;
    if (!steps_.request(channel_))
        nextChannel();
}

} // namespace qm
