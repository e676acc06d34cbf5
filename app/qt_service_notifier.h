#pragma once

#include "sampling/reading_observer.h"

#include <QObject>
#include <QTimer>

namespace qm {

// Tells a service manager (systemd, through NOTIFY_SOCKET) how the instance
// is: READY=1 once it runs, the link state as its status, WATCHDOG=1 from the
// event loop at half the watchdog interval (so a hung loop is noticed), and
// STOPPING=1 at the close. Without a service manager it does nothing.
class QtServiceNotifier final : public QObject, public ReadingObserver {
public:
    QtServiceNotifier();
    // The instance runs: settings loaded, the connection started.
    void ready(const QString& status);

    void readingTaken(const Reading&) override {}
    void linkChanged(const LinkState& state) override;
    void closing() override;

private:
    QTimer watchdog_;
};

} // namespace qm
