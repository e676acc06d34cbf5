#include "app/qt_signals.h"

#include "app/signal_pipe.h"

#include <QSocketNotifier>

namespace qm {

void catchTerminationSignals(std::initializer_list<int> signalNumbers)
{
    catchSignalsInPipe(signalNumbers, true);
}

QtSignalWatcher::QtSignalWatcher(std::initializer_list<int> signalNumbers,
                                 std::function<void()> onSignal)
    : onSignal_(std::move(onSignal))
{
    const int readEnd = catchSignalsInPipe(signalNumbers, true);
    if (readEnd < 0)
        return;
    notifier_ = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        drainSignalPipe();
        if (onSignal_)
            onSignal_();
    });
}

QtSignalWatcher::~QtSignalWatcher()
{
    delete notifier_;
    closeSignalPipe();
}

} // namespace qm
