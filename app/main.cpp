#include "app/application.h"
#include "app/instance_lock.h"
#include "app/journal.h"
#include "app/log_categories.h"
#include "app/program_paths.h"
#include "app/qt_signals.h"
#include "app/runtime_folder.h"
#include "app/settings_command.h"
#include "device/port_list.h"
#include "device/qt_serial_devices.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QMessageBox>
#include <QStandardPaths>

#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Qt's own options (QGuiApplication, QApplication): the window's application
// takes them out of the command line itself; known here so that they pass the
// parser, and are ignored, in the modes without a window.
void acceptQtOptions(QCommandLineParser& parser)
{
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "geometry", "icon", "title", "session", "display", "style",
          "stylesheet", "qmljsdebugger"}) {
        QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    for (const char* name : {"reverse", "widgetcount", "testability", "nograb", "dograb", "sync"}) {
        QCommandLineOption o(QString::fromLatin1(name));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
}

QByteArray currentDirectory()
{
    char cwd[PATH_MAX];
    return ::getcwd(cwd, sizeof cwd) ? QByteArray(cwd) : QByteArray("/");
}

} // namespace

int main(int argc, char* argv[])
{
    // First of all: a service manager may stop the program while it starts.
    qm::catchTerminationSignals({SIGTERM, SIGINT, SIGHUP});
    qm::installJournalHandler();
    QCoreApplication::setApplicationName(QStringLiteral("quellmark"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QM_VERSION));

    // The arguments' bytes, one character each (Latin-1): a path that is not
    // UTF-8 comes through the parser unchanged (toLatin1() gives it back).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLatin1(argv[i]);
    QCommandLineParser options;
    options.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    options.setApplicationDescription(
        QStringLiteral("Watches one measuring device on a serial line."));
    const QCommandLineOption helpOption = options.addHelpOption();
    const QCommandLineOption versionOption = options.addVersionOption();
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("Run without a window and without a display (as a service)."));
    const QCommandLineOption instanceOption(
        QStringLiteral("instance"),
        QStringLiteral("Keep the instance's files (settings, ports/, log folder, mqtt.conf) in "
                       "<folder>; the instance is named after its last component."),
        QStringLiteral("folder"));
    const QCommandLineOption trendOption(
        QStringLiteral("trend"),
        QStringLiteral("Open the trend window (the last 10 minutes, live) at start."));
    const QCommandLineOption listOption(
        QStringLiteral("list-ports"),
        QStringLiteral("List the COM port links and the serial devices, and exit."));
    const QCommandLineOption exportOption(
        QStringLiteral("export-trend"),
        QStringLiteral(
            "Write the last 24 hours of the log files as CSV to <file> (a header row, the time "
            "with its UTC offset, every reading) and exit."),
        QStringLiteral("file"));
    const QCommandLineOption setOption(
        QStringLiteral("set"),
        QStringLiteral(
            "Change one setting, as the Set panel does, and exit; repeatable. Keys: com, "
            "baud, id, stime, rvnr, log, wav, channel<n>.label, channel<n>.color, "
            "channel<n>.nr1, channel<n>.nr2, channel<n>.hi, channel<n>.lo (n = 1..8); "
            "numbers with \".\" as the decimal point."),
        QStringLiteral("key=value"));
    const QCommandLineOption showOption(
        QStringLiteral("show-settings"),
        QStringLiteral("Print the settings, a key=value line each, and exit."));
    options.addOptions({headlessOption, instanceOption, trendOption, listOption, exportOption,
                        setOption, showOption});
    acceptQtOptions(options);
    const QByteArray startPath =
        argc > 0 && argv[0] && *argv[0] ? QByteArray(argv[0]) : "quellmark";
    const QByteArray name = startPath.mid(startPath.lastIndexOf('/') + 1);
    const auto fail = [&name](int status, const QByteArray& text) {
        std::fprintf(stderr, "%s: %s\n", name.constData(), text.constData());
        return status;
    };
    if (!options.parse(arguments))
        return fail(2, options.errorText().toLatin1() + "\nTry '" + name + " --help'.");
    if (options.isSet(QStringLiteral("help-all"))) {
        // The list of Qt's options comes from the window's application; it
        // needs no display.
        if (!options.isSet(QStringLiteral("platform")))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        options.process(app); // prints the help with Qt's options and exits
    }
    if (!options.positionalArguments().isEmpty())
        return fail(2, "unexpected argument: " + options.positionalArguments().first().toLatin1() +
                           "\nTry '" + name + " --help'.");
    if (options.isSet(helpOption) || options.isSet(versionOption)) {
        std::fputs(qPrintable(options.isSet(versionOption)
                                  ? QString::fromLatin1(name + ' ' + QM_VERSION + '\n')
                                  : options.helpText().replace(QStringLiteral("<executable_name>"),
                                                               QString::fromLatin1(name))),
                   stdout);
        return 0;
    }
    const bool headless = options.isSet(headlessOption);
    if (headless && options.isSet(trendOption))
        return fail(2, "--trend needs the window; it cannot go with --headless.");

    // The instance: a folder named on the command line, or the name the
    // program was started under, so that a copy or a link under another name
    // is an instance of its own. An installed program (/usr/bin) keeps its
    // files in the user's data folder ($XDG_DATA_HOME/quellmark).
    qm::ProgramPaths paths;
    QString homeNotice; // why the program's folder does not hold the files
    bool noticeExpected = false;
    if (options.isSet(instanceOption)) {
        const QByteArray folder = options.value(instanceOption).toLatin1();
        const auto named = qm::instanceFolder(folder, currentDirectory());
        struct stat st {};
        if (!named || ::stat(named->dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return fail(1, "--instance: " + folder + " is not a folder with a name");
        paths = *named;
    } else {
        const qm::InstanceHome home = qm::instanceHome(
            qm::programPathsFromStartPath(startPath, qgetenv("PATH"), currentDirectory()),
            QFile::encodeName(
                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
        paths = home.paths;
        if (!home.reason.isEmpty())
            homeNotice = qm::instanceHomeNotice(home);
        noticeExpected = home.systemFolder;
    }

    const QByteArray iniFile = paths.file(paths.name + ".ini");
    const QByteArray lockFile = paths.file(paths.name + ".lock");
    if (options.isSet(showOption) || options.isSet(setOption)) {
        // The values' bytes as the terminal has them: a label with "°" is
        // stored as the Set panel stores it.
        QStringList assignments;
        for (const QString& a : options.values(setOption))
            assignments << QString::fromLocal8Bit(a.toLatin1());
        if (!homeNotice.isEmpty() && !noticeExpected)
            std::fprintf(stderr, "%s: %s\n", name.constData(),
                         homeNotice.toLocal8Bit().constData());
        const qm::CommandResult r = options.isSet(setOption) ? qm::setSettings(iniFile, assignments)
                                                             : qm::showSettings(iniFile);
        std::fputs(r.out.toLocal8Bit().constData(), stdout);
        std::fflush(stdout); // before what follows on standard error
        if (!r.err.isEmpty())
            std::fputs((name + ": " + r.err.toLocal8Bit()).constData(), stderr);
        if (const long holder = options.isSet(setOption) && r.status == 0
                                    ? qm::InstanceLock::holderOf(lockFile)
                                    : 0)
            std::fprintf(stderr,
                         "%s: the instance runs as process %ld: it takes the new settings when it "
                         "starts again\n",
                         name.constData(), holder);
        return r.status;
    }

    // The window needs a display. Without one, a clear word and status 1
    // rather than Qt's abort: at once when nothing names a display, else
    // when the platform plugin fails to connect (its messages then held back).
    const bool windowless = headless || options.isSet(listOption) || options.isSet(exportOption);
    const QByteArray noDisplay = name + ": no display to show the window on; start with "
                                        "--headless to run without one\n";
    if (!options.isSet(listOption) && !options.isSet(exportOption))
        qm::useInstanceRuntimeFolder(paths); // before Qt asks for it
    std::unique_ptr<QCoreApplication> app;
    if (windowless) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        if (qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
            qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
            !options.isSet(QStringLiteral("platform"))) {
            std::fputs(noDisplay.constData(), stderr);
            return 1;
        }
        qm::holdMessagesWhileConnecting(noDisplay);
        app = std::make_unique<QApplication>(argc, argv);
        qm::releaseHeldMessages();
        QGuiApplication::setDesktopFileName(QStringLiteral("io.github.quellmark.Quellmark"));
    }
    if (options.isSet(listOption)) {
        std::fputs(
            qPrintable(qm::portListText(qm::portLinks(paths.dir), qm::systemSerialDevices())),
            stdout);
        return 0;
    }

    // One running program per instance: a second start says who runs it.
    std::optional<qm::InstanceLock> lock;
    if (!options.isSet(exportOption)) {
        lock.emplace(lockFile);
        if (lock->state() == qm::InstanceLock::State::HeldElsewhere) {
            const QString text =
                QStringLiteral("The instance %1 (%2) is already running as process %3.")
                    .arg(paths.displayName(), QString::fromUtf8(paths.dir))
                    .arg(lock->holder());
            std::fprintf(stderr, "%s: %s\n", name.constData(), text.toLocal8Bit().constData());
            if (!windowless) { // shown until read, or a stop
                QMessageBox note(QMessageBox::Information,
                                 QStringLiteral("Quellmark: ") + paths.displayName(), text);
                QObject::connect(&note, &QMessageBox::finished, app.get(), &QCoreApplication::quit);
                const qm::QtSignalWatcher stop({SIGTERM, SIGINT, SIGHUP},
                                               [] { QCoreApplication::quit(); });
                note.show();
                QCoreApplication::exec();
            }
            return 3;
        }
        if (lock->state() == qm::InstanceLock::State::Failed)
            qCWarning(qm::lcService).noquote()
                << "cannot lock" << QString::fromUtf8(lockFile) + ':'
                << QString::fromLocal8Bit(lock->error())
                << "- a second start of this instance is not refused";
    }

    qm::Application application(paths, headless ? qm::Application::Mode::Headless
                                                : qm::Application::Mode::Window);
    application.setHomeNotice(homeNotice, noticeExpected);
    if (options.isSet(exportOption))
        return application.exportTrend(options.value(exportOption).toLatin1());
    return application.run(options.isSet(trendOption));
}
