#pragma once

#include <QByteArray>

#include <map>
#include <mutex>

namespace qm {

// Wrong passwords, counted per client address: each one answered later than
// the one before (a quarter of a second, doubled each time, at most eight
// seconds), so that guessing takes long while every other client is served
// at once. A right password clears the address's count. Thread-safe.
class LoginGuard {
public:
    static constexpr int kMaxAddresses = 4096; // forgotten all at once beyond this

    // How long to hold the answer to the `failures`-th wrong password in a row.
    static qint64 delayMs(int failures);
    // Counts a wrong password from `address`; how long to hold the answer.
    qint64 failed(const QByteArray& address);
    void succeeded(const QByteArray& address);

private:
    std::mutex mutex_;
    std::map<QByteArray, int> failures_;
};

} // namespace qm
