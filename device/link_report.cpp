#include "device/link_report.h"

#include "base/log_categories.h"

#include <algorithm>

namespace qm {

LinkReport::LinkReport(EventLoop& loop, std::function<void(const LinkState&)> changed)
    : loop_(loop)
    , changed_(std::move(changed))
{
}

void LinkReport::tell(const LinkState& state, const QString& text)
{
    const Millis now = loop_.now();
    if (state.kind != LinkState::Kind::Connected) {
        if (std::find(reasonsTold_.begin(), reasonsTold_.end(), state) == reasonsTold_.end()) {
            qCWarning(lcDevice).noquote() << text;
            reasonsTold_.push_back(state);
        }
    } else if (state_ != state) {
        connectedAt_ = now;
        if (reasonsTold_.empty())
            qCInfo(lcDevice).noquote() << text; // nothing was wrong: found at once
    } else if (!reasonsTold_.empty() && now - connectedAt_ >= kSteadyMs) {
        // Back after trouble, and answering since: a device that fails again
        // meanwhile stays in the spell, and says nothing more.
        qCInfo(lcDevice).noquote() << text + QStringLiteral(", answering steadily again");
        reasonsTold_.clear();
    }
    if (state == state_)
        return;
    state_ = state;
    changed_(state);
}

} // namespace qm
