#pragma once

#include "base/event_loop.h"

#include <QElapsedTimer>
#include <QObject>

#include <map>
#include <memory>
#include <vector>

class QTimer;

namespace qm {

// The core's event loop on Qt's, in real time (monotonic).
class QtEventLoop final : public QObject, public EventLoop {
    Q_OBJECT
public:
    QtEventLoop();
    ~QtEventLoop() override;

    Millis now() const override;
    int startTimer(int intervalMs, std::function<void()> tick) override;
    void stopTimer(int id) override;
    void quit(int exitCode) override;

private:
    struct Entry;

    QElapsedTimer clock_;
    std::map<int, std::unique_ptr<Entry>> timers_;
    std::vector<std::unique_ptr<Entry>> retired_; // stopped during a tick
    int ticking_ = 0;                             // tick handlers running
    int nextId_ = 1;
};

} // namespace qm
