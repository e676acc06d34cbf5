#pragma once

#include "web/web_state.h"

#include <QByteArray>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace qm {

// One moment of the instance as the page serves it: never changed once
// handed over, so any number of server threads read it without a lock.
struct Snapshot {
    WebState state;
    QByteArray stateJson;    // built once, for every client
    QByteArray settingsJson; // the settings' fields (/api/settings without its head)
    ChannelArray<String> colourLetters{};
    quint64 generation = 0;
};

// Where the event-loop thread leaves the newest snapshot and the server's
// threads take it, or wait for a newer one.
class SnapshotHub {
public:
    void publish(std::shared_ptr<Snapshot> next)
    {
        {
            std::lock_guard lock(mutex_);
            next->generation = latest_ ? latest_->generation + 1 : 1;
            latest_ = std::move(next);
        }
        changed_.notify_all();
    }
    std::shared_ptr<const Snapshot> latest() const
    {
        std::lock_guard lock(mutex_);
        return latest_;
    }
    // The newest snapshot once it is newer than `generation`; null when
    // `timeout` passes first or the hub is stopped.
    std::shared_ptr<const Snapshot> waitNewer(quint64 generation, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] {
            return stopped_ || (latest_ && latest_->generation > generation);
        });
        if (stopped_ || !latest_ || latest_->generation <= generation)
            return nullptr;
        return latest_;
    }
    // Wakes every waiting thread for good (the server stops).
    void stop()
    {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }
    bool stopped() const
    {
        std::lock_guard lock(mutex_);
        return stopped_;
    }
    // Sleeps for `delay` unless the hub stops first.
    void pause(std::chrono::milliseconds delay)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, delay, [&] { return stopped_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::shared_ptr<Snapshot> latest_;
    bool stopped_ = false;
};

} // namespace qm
