#pragma once

#include "base/event_loop.h"
#include "device/link_state.h"

#include <QString>

#include <functional>
#include <vector>

namespace qm {

// The link's state as the journal and the observers hear it. Any state but
// "connected" begins a spell of trouble or gives a new reason in it: its text
// at warning, each reason once a spell, whatever the retry repeats
// meanwhile. "connected" (its text at info) is told at once when nothing was
// wrong, else once the device has answered for kSteadyMs without a new
// failure, which ends the spell: a device that fails every other request is
// one spell, not two lines a cycle. The observers hear each change once.
class LinkReport {
public:
    static constexpr Millis kSteadyMs = 60'000;

    LinkReport(EventLoop& loop, std::function<void(const LinkState&)> changed);

    void tell(const LinkState& state, const QString& text);

    const LinkState& state() const { return state_; }
    // A line from the device has news: the link was not connected, or a
    // spell of trouble is still open.
    bool lineIsNews() const
    {
        return state_.kind != LinkState::Kind::Connected || !reasonsTold_.empty();
    }

private:
    EventLoop& loop_;
    std::function<void(const LinkState&)> changed_;
    LinkState state_;
    std::vector<LinkState> reasonsTold_; // in this spell of trouble
    Millis connectedAt_ = 0;             // the last change to "connected"
};

} // namespace qm
