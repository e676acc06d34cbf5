#pragma once

#include "app/event_loop.h"

#include <QElapsedTimer>
#include <QObject>

#include <map>
#include <memory>

class QTimer;

namespace qm {

// The core's event loop on Qt's, in real time (monotonic). A QTimer does not
// deliver its timeout again while its own slot runs, so ticks are queued and
// run from the event queue: a tick still arrives, in phase, while the timer's
// previous tick handler waits in a nested loop.
class QtEventLoop final : public QObject, public EventLoop {
    Q_OBJECT
public:
    QtEventLoop();
    ~QtEventLoop() override;

    Millis now() const override;
    int startTimer(int intervalMs, std::function<void()> tick) override;
    void stopTimer(int id) override;
    void runNestedUntil(Millis deadline, const std::function<bool()>& done) override;
    [[noreturn]] void terminate(int exitCode) override;

private:
    struct Entry;
    // Runs one queued tick of timer `id`, unless that timer has been stopped
    // since the tick was queued (ids are never reused).
    void runTick(int id);

    QElapsedTimer clock_;
    std::map<int, std::unique_ptr<Entry>> timers_;
    int nextId_ = 1;
};

} // namespace qm
