#include "app/application.h"
#include "app/journal.h"
#include "app/program_paths.h"
#include "app/runtime_folder.h"
#include "device/port_list.h"
#include "device/qt_serial_devices.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QStandardPaths>

#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
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
            "with its UTC offset, a row a second) and exit."),
        QStringLiteral("file"));
    options.addOptions({headlessOption, instanceOption, trendOption, listOption, exportOption});
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
    if (options.isSet(instanceOption)) {
        const QByteArray folder = options.value(instanceOption).toLatin1();
        const auto named = qm::instanceFolder(folder, currentDirectory());
        struct stat st {};
        if (!named || ::stat(named->dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return fail(1, "--instance: " + folder + " is not a folder with a name");
        paths = *named;
    } else {
        paths = qm::instanceHome(
            qm::programPathsFromStartPath(startPath, qgetenv("PATH"), currentDirectory()),
            QFile::encodeName(
                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
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

    qm::Application application(paths, headless ? qm::Application::Mode::Headless
                                                : qm::Application::Mode::Window);
    if (options.isSet(exportOption))
        return application.exportTrend(options.value(exportOption).toLatin1());
    return application.run(options.isSet(trendOption));
}
