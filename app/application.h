#pragma once

#include "app/alarm_journal.h"
#include "app/qt_event_loop.h"
#include "app/qt_service_notifier.h"
#include "app/qt_signals.h"
#include "app/qt_wall_clock.h"
#include "channels/qt_sound_player.h"
#include "device/tty_serial_port.h"
#include "trend/trend_store.h"
#include "ui/monitor_presenter.h"

#include <memory>

class QPushButton;

namespace qm {

class MainWindow;
class Publishing;
class QtDialogs;
class TrendWindow;
class WebHost;
class WebPage;

// The composition root: the platform services, the form that holds the
// application, and what observes it (the journal, the trend, the publisher,
// the service manager), with the window or, headless, without one. Needs a
// QApplication for the window, a QCoreApplication headless.
class Application {
public:
    enum class Mode { Window, Headless };
    Application(const ProgramPaths& paths, Mode mode);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Writes the trend of the last 24 hours, from the log files, as CSV to
    // `file` (bytes); the exit status.
    int exportTrend(const QByteArray& file);
    // Starts the instance and runs it until it is closed; the exit status.
    int run(bool openTrend);
    // Why the instance's files are not in the program's folder, told at the
    // start; `expected` for the installed program (a system folder), which
    // only the tooltip and the journal mention.
    void setHomeNotice(const QString& notice, bool expected)
    {
        homeNotice_ = notice;
        homeNoticeExpected_ = expected;
    }

private:
    void attachJournal();
    void attachTrend();
    void attachPublisher();
    void attachWebPage();
    void buildWindow();
    void tellHome();

    const Mode mode_;
    QtEventLoop loop_;
    TtySerialPort port_;
    QtSoundPlayer sound_;
    std::unique_ptr<Dialogs> dialogs_;
    SystemWallClock wallClock_;
    MonitorPresenter form_;
    QtSignalWatcher signalWatcher_;
    AlarmJournal alarmJournal_;
    QtServiceNotifier serviceNotifier_;
    TrendStore trend_;
    std::unique_ptr<Publishing> publishing_;
    std::unique_ptr<WebHost> webHost_;
    std::unique_ptr<WebPage> webPage_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<TrendWindow> trendWindow_;
    QPushButton* trendButton_ = nullptr;
    QString homeNotice_;
    bool homeNoticeExpected_ = false;
};

} // namespace qm
