#pragma once

#include "base/files.h"

#include <QByteArray>

namespace qm {

// One running program per instance: a lock on the file <name>.lock in the
// instance's folder. The kernel releases it when the process ends, however it
// ends, so a lock is never left behind; the file itself stays and holds the
// last holder's process id for people to read.
class InstanceLock {
public:
    enum class State { Held, HeldElsewhere, Failed };

    // Tries to take the lock of the file at `path`.
    explicit InstanceLock(const QByteArray& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    State state() const { return state_; }
    // The process that holds it (HeldElsewhere); 0 when the system does not say.
    long holder() const { return holder_; }
    // Why the lock could not be taken (Failed): the system's words.
    const QByteArray& error() const { return error_; }

    // The process holding the lock of `path` now, without taking it; 0 when
    // none does (or the file cannot be read).
    static long holderOf(const QByteArray& path);

private:
    FileDescriptor fd_;
    State state_ = State::Failed;
    long holder_ = 0;
    QByteArray error_;
};

} // namespace qm
