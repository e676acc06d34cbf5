#pragma once

#include <QObject>

#include <functional>
#include <initializer_list>

class QSocketNotifier;

namespace qm {

// Catches the termination signals from now on, before anything slow: a stop
// that comes while the program starts waits in a pipe until a
// QtSignalWatcher takes it. Called first thing in main().
void catchTerminationSignals(std::initializer_list<int> signalNumbers);

// Turns termination signals (SIGTERM from a service manager, SIGHUP at logout,
// SIGINT from a terminal) into a call on the event-loop thread, between two
// events: whatever handler runs when the signal comes finishes first. A
// signal caught before it was made is delivered once the event loop runs.
// One instance per process.
class QtSignalWatcher final : public QObject {
public:
    QtSignalWatcher(std::initializer_list<int> signalNumbers, std::function<void()> onSignal);
    ~QtSignalWatcher() override;

private:
    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> onSignal_;
};

} // namespace qm
