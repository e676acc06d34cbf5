#pragma once

#include <QByteArray>
#include <QString>

namespace qm {

// The UUCP lock file other serial programs honour for a device:
// LCK..<name> in /var/lock (or /run/lock), <name> being the device path
// without "/dev/", '/' written as '_' ("LCK..ttyUSB0", "LCK..pts_3"). It
// holds the owner's process id as ten characters and a line break, and is
// readable by all (0644) whatever the umask, so that other users' serial
// programs can tell who holds the device. A lock of a process that no longer
// runs is stale and taken over.
class DeviceLock {
public:
    DeviceLock() = default;
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    ~DeviceLock() { release(); }

    // "LCK..ttyUSB0" for "/dev/ttyUSB0".
    static QByteArray fileName(const QByteArray& devicePath);

    // False when a running process (this one included) holds the device, or
    // when a stale lock cannot be removed; refusal() then says why. Without a
    // lock folder it may write, the device is taken unlocked.
    bool acquire(const QByteArray& devicePath);
    // Removes the lock file, if it is still this process's.
    void release();
    const QByteArray& path() const { return path_; }
    // Why the last acquire() failed, for messages: the lock file, its owner,
    // the process it names (running or not) and what to do about it.
    const QString& refusal() const { return refusal_; }

private:
    QByteArray path_; // of the lock file held, empty when none
    QString refusal_;
};

} // namespace qm
