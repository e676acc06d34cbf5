#include "app/application.h"

#include "base/files.h"
#include "base/log_categories.h"
#include "publish/qt_publishing.h"
#include "trend/csv_export.h"
#include "trend/qt_trend_window.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"
#include "web/qt_web_page.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace qm {

namespace {

// Without a window nothing asks: the close question is the window's.
class NoDialogs final : public Dialogs {
public:
    Answer askYesNoCancel(const QString&, const QString&) override { return Answer::Cancel; }
};

// The alarm sound that comes with the program: in share/quellmark beside the
// installed program (found from where the program really is, so that an
// install anywhere finds its own), else in the system's data folders.
QByteArray defaultAlarmSound()
{
    const QString beside =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/quellmark/a1.wav");
    if (QFileInfo(beside).isFile())
        return QFile::encodeName(QDir::cleanPath(beside));
    return QFile::encodeName(QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                                    QStringLiteral("quellmark/a1.wav")));
}

} // namespace

Application::Application(const ProgramPaths& paths, Mode mode)
    : mode_(mode)
    , port_(paths.dir)
    , dialogs_(mode == Mode::Window ? std::unique_ptr<Dialogs>(std::make_unique<QtDialogs>())
                                    : std::make_unique<NoDialogs>())
    , form_(
          Platform{loop_, port_, sound_, wallClock_, paths, QLocale::system(), defaultAlarmSound()},
          *dialogs_)
    // A service manager's stop, a logout or Ctrl+C end the program as a
    // normal close does, without the question: the port (and its lock)
    // released.
    , signalWatcher_({SIGTERM, SIGINT, SIGHUP}, [this] {
        qCInfo(lcService) << "stopping on a signal";
        form_.closeApp();
    })
{
}

Application::~Application() = default;

// Channels entering and leaving alarm, and the service manager's view of the
// instance.
void Application::attachJournal()
{
    form_.monitor().addObserver(&alarmJournal_);
    form_.monitor().addObserver(&serviceNotifier_);
}

// The trend hears of every evaluation; what came before this run it reads
// from the log files when it shows it. Only the window shows it.
void Application::attachTrend()
{
    form_.monitor().addObserver(&trend_);
    trendWindow_ =
        std::make_unique<TrendWindow>(trend_, form_.paths().logDir(), form_.paths().displayName());
    trendButton_ = new QPushButton(QStringLiteral("Trend"));
    trendButton_->setAccessibleDescription(QStringLiteral("Open trend"));
    trendButton_->setAutoDefault(false);
    TrendWindow* trendWindow = trendWindow_.get();
    QObject::connect(trendButton_, &QPushButton::clicked, trendWindow, [trendWindow] {
        trendWindow->show();
        trendWindow->raise();
        trendWindow->activateWindow();
    });
    window_->addToBar(trendButton_, 64);
}

// Publishing, when the instance folder has an mqtt.conf: its state in the
// window's bottom bar (a colour, the words in the tooltip).
void Application::attachPublisher()
{
    publishing_ =
        std::make_unique<Publishing>(form_.paths(), QCoreApplication::applicationVersion());
    if (window_) {
        if (QWidget* indicator = publishing_->takeIndicator())
            window_->addToBar(indicator, 50);
    }
    if (ReadingObserver* publisher = publishing_->observer())
        form_.monitor().addObserver(publisher);
}

// The web page, when the instance folder has a web.conf; without it nothing
// of it runs.
namespace {

// The page's view of the instance: the presenter's, as the window has it.
class PresenterWebHost final : public WebHost {
public:
    PresenterWebHost(MonitorPresenter& presenter, const TrendStore& trend)
        : presenter_(presenter)
        , trend_(trend)
    {
    }
    const ProgramPaths& paths() const override { return presenter_.paths(); }
    const SettingsValues& settings() const override { return presenter_.monitor().settings(); }
    QString statusText() const override { return presenter_.statusLine.text(); }
    Rgb statusColour() const override { return presenter_.statusLine.backColor(); }
    void addNote(const QString& note) override { presenter_.addNote(note); }
    QString saveAndApply(const SettingsValues& s) override { return presenter_.saveAndApply(s); }
    const TrendStore* liveTrend() const override { return &trend_; }

private:
    MonitorPresenter& presenter_;
    const TrendStore& trend_;
};

} // namespace

void Application::attachWebPage()
{
    struct stat st {};
    if (::lstat(form_.paths().file("web.conf").constData(), &st) != 0)
        return;
    webHost_ = std::make_unique<PresenterWebHost>(form_, trend_);
    webPage_ = std::make_unique<WebPage>(*webHost_, QCoreApplication::applicationVersion(),
                                         publishing_.get());
    if (!webPage_->serving())
        return;
    form_.monitor().addObserver(webPage_.get());
    // Headless, the page's trend keeps this run's readings as the window's
    // would: with logging off they are in no file.
    if (!window_)
        form_.monitor().addObserver(&trend_);
}

void Application::buildWindow()
{
    window_ = std::make_unique<MainWindow>(form_);
    static_cast<QtDialogs&>(*dialogs_).setParentWidget(window_.get());
    window_->setWindowIcon(QIcon::fromTheme(QStringLiteral("io.github.quellmark.Quellmark")));
}

void Application::tellHome()
{
    if (homeNotice_.isEmpty())
        return;
    form_.statusLine.addNote(homeNotice_);
    if (homeNoticeExpected_) {
        qCInfo(lcService).noquote() << homeNotice_;
        return;
    }
    qCWarning(lcService).noquote() << homeNotice_;
    if (!window_)
        return;
    // Once, at the start, without holding anything up.
    auto* note = new QMessageBox(QMessageBox::Information,
                                 QStringLiteral("Quellmark: ") + form_.paths().displayName(),
                                 homeNotice_, QMessageBox::Ok, window_.get());
    note->setAttribute(Qt::WA_DeleteOnClose);
    note->setModal(false);
    note->show();
}

int Application::exportTrend(const QByteArray& file)
{
    form_.loadSettings();
    const qint64 now = wallClock_.localNow().toMSecsSinceEpoch();
    const std::string csv =
        historyCsv(form_.paths().logDir(), now - TrendStore::kDayMs, now + 1,
                   form_.monitor().settings().labels, form_.monitor().settings().setHi,
                   form_.monitor().settings().setLo, form_.monitor().settings().valueCount);
    // A header alone is no export: said, and nothing written.
    if (std::count(csv.begin(), csv.end(), '\n') < 2) {
        std::fprintf(stderr, "quellmark: no readings in the last 24 hours in %s; %s not written\n",
                     form_.paths().logDir().constData(), file.constData());
        return 1;
    }
    if (replaceFile(file, csv))
        return 0;
    std::fprintf(stderr, "quellmark: cannot write %s: %s\n", file.constData(),
                 std::strerror(errno));
    return 1;
}

int Application::run(bool openTrend)
{
    attachJournal();
    if (mode_ == Mode::Window) {
        buildWindow();
        attachTrend();
    }
    attachPublisher();
    attachWebPage();
    if (window_)
        window_->show();
    tellHome();
    form_.load();
    // What came before this run the trend reads from the log files when it
    // shows it.
    if (trendButton_)
        trend_.setChannels(form_.monitor().settings().labels, form_.monitor().settings().colours,
                           form_.monitor().settings().setHi, form_.monitor().settings().setLo,
                           form_.monitor().settings().valueCount);
    if (trendButton_ && openTrend)
        trendButton_->click();
    const ProgramPaths& paths = form_.paths();
    qCInfo(lcService).noquote() << "instance" << paths.displayName() << "started in"
                                << QString::fromUtf8(paths.dir)
                                << (window_ ? "with its window" : "without a window");
    serviceNotifier_.ready(QStringLiteral("instance %1 started").arg(paths.displayName()));
    return QCoreApplication::exec();
}

} // namespace qm
