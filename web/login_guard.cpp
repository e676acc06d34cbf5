#include "web/login_guard.h"

#include <algorithm>

namespace qm {

qint64 LoginGuard::delayMs(int failures)
{
    if (failures <= 0)
        return 0;
    return std::min<qint64>(qint64(250) << std::min(failures - 1, 6), 8000);
}

qint64 LoginGuard::failed(const QByteArray& address)
{
    std::lock_guard lock(mutex_);
    if (failures_.size() >= std::size_t(kMaxAddresses) && !failures_.count(address))
        failures_.clear();
    return delayMs(++failures_[address]);
}

void LoginGuard::succeeded(const QByteArray& address)
{
    std::lock_guard lock(mutex_);
    failures_.erase(address);
}

} // namespace qm
