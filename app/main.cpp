#include "app/files.h"
#include "app/main_form.h"
#include "app/program_paths.h"
#include "app/qt_event_loop.h"
#include "app/qt_signals.h"
#include "channels/qt_sound_player.h"
#include "device/qt_serial_port.h"
#include "publish/qt_mqtt_indicator.h"
#include "trend/qt_trend_window.h"
#include "trend/trend_store.h"
#include "ui/main_window.h"
#include "ui/port_chooser.h"
#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPushButton>
#include <QStandardPaths>

#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

int main(int argc, char* argv[])
{
    // The options first, without a window system: --help, --version and
    // --list-ports work in any terminal.
    QCoreApplication::setApplicationName(QStringLiteral("quellmark"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QM_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Watches one measuring device on a serial line."));
    const QCommandLineOption helpOption = options.addHelpOption();
    const QCommandLineOption versionOption = options.addVersionOption();
    const QCommandLineOption trendOption(QStringLiteral("trend"),
                                         QStringLiteral("Open the trend window at start."));
    const QCommandLineOption listOption(
        QStringLiteral("list-ports"),
        QStringLiteral("List the COM port links and the serial devices, and exit."));
    const QCommandLineOption exportOption(
        QStringLiteral("export-trend"),
        QStringLiteral(
            "Write the trend of the last 24 hours, from the log files, as CSV to <file> and exit."),
        QStringLiteral("file"));
    options.addOptions({trendOption, listOption, exportOption});
    const QString name = QFileInfo(arguments.value(0, QStringLiteral("quellmark"))).fileName();
    if (!options.parse(arguments)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", qPrintable(name),
                     qPrintable(options.errorText()), qPrintable(name));
        return 2;
    }
    if (options.isSet(helpOption) || options.isSet(QStringLiteral("help-all")) ||
        options.isSet(versionOption)) {
        std::fputs(
            qPrintable(options.isSet(versionOption)
                           ? name + QLatin1Char(' ') + QStringLiteral(QM_VERSION) +
                                 QLatin1Char('\n')
                           : options.helpText().replace(QStringLiteral("<executable_name>"), name)),
            stdout);
        return 0;
    }
    const bool windowless = options.isSet(listOption) || options.isSet(exportOption);
    const std::unique_ptr<QCoreApplication> app(windowless ? new QCoreApplication(argc, argv)
                                                           : new QApplication(argc, argv));

    // The name the program was started under decides its settings file, so a
    // copy or a link under another name is an instance of its own.
    // Paths are taken as bytes: a name that is not UTF-8 still finds its files.
    const QByteArray startPath = argc > 0 && argv[0] && *argv[0]
                                     ? QByteArray(argv[0])
                                     : QFile::encodeName(QCoreApplication::applicationFilePath());
    char cwd[PATH_MAX];
    // An installed program (/usr/bin) keeps its files in the user's data
    // folder ($XDG_DATA_HOME/quellmark); a writable folder is used as it is.
    const qm::ProgramPaths paths = qm::instanceHome(
        qm::programPathsFromStartPath(startPath, qgetenv("PATH"),
                                      ::getcwd(cwd, sizeof cwd) ? QByteArray(cwd)
                                                                : QByteArray("/")),
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
    if (options.isSet(listOption)) {
        std::fputs(
            qPrintable(qm::portListText(qm::portLinks(paths.dir), qm::systemSerialDevices())),
            stdout);
        return 0;
    }

    qm::QtEventLoop loop;
    qm::QtSerialPort port(paths.dir);
    qm::QtSoundPlayer sound;
    qm::QtDialogs dialogs;
    qm::SystemWallClock wallClock;
    const qm::Platform platform{loop, port, sound, dialogs, wallClock, paths, QLocale::system()};

    qm::MainForm form(platform);
    // A service manager's stop, a logout or Ctrl+C end the program as a normal
    // close does, without the question: the port (and its lock) released.
    const qm::QtSignalWatcher signalWatcher({SIGTERM, SIGINT, SIGHUP},
                                            [&form] { form.CloseApp(); });

    // The trend hears of every evaluation; after a restart it starts from
    // the log of the last 24 hours.
    qm::TrendStore trend;
    const QByteArray logDir = paths.logDir();
    const auto loadHistory = [&] {
        trend.labels = form.MyLabel;
        trend.colours = form.VColor;
        trend.setHi = form.SetHi;
        trend.setLo = form.SetLo;
        return trend.loadHistory(logDir, wallClock.localNow(), form.SetHi, form.SetLo, form.RVnr);
    };
    if (options.isSet(exportOption)) {
        form.LoadSettings();
        loadHistory();
        const qint64 now = wallClock.localNow().toMSecsSinceEpoch();
        const bool ok = qm::replaceFile(QFile::encodeName(options.value(exportOption)),
                                        trend.csv(now - qm::TrendStore::kDayMs, now + 1));
        if (!ok)
            std::fprintf(stderr, "quellmark: cannot write %s\n",
                         qPrintable(options.value(exportOption)));
        return ok ? 0 : 1;
    }
    form.addObserver(&trend);

    qm::MainWindow window(form);
    qm::TrendWindow trendWindow(trend, logDir, paths.displayName());
    auto* trendButton = new QPushButton(QStringLiteral("Trend"));
    trendButton->setAccessibleDescription(QStringLiteral("Open trend"));
    trendButton->setAutoDefault(false);
    QObject::connect(trendButton, &QPushButton::clicked, &trendWindow, [&trendWindow] {
        trendWindow.show();
        trendWindow.raise();
        trendWindow.activateWindow();
    });
    window.addToBar(trendButton, 64);

    // Publishing, when the program directory has an mqtt.conf: its state in
    // the bottom bar.
    qm::Publishing publishing(paths, QStringLiteral(QM_VERSION));
    if (QWidget* indicator = publishing.takeIndicator())
        window.addToBar(indicator, 50);
    if (qm::ReadingObserver* publisher = publishing.observer())
        form.addObserver(publisher);
    dialogs.setParentWidget(&window);
    window.show();
    form.Form_Load();
    if (form.LogOn == 1)
        loadHistory();
    if (options.isSet(trendOption))
        trendButton->click();
    return app->exec();
}
