#include "app/application.h"
#include "app/instance_lock.h"
#include "app/journal.h"
#include "app/program_paths.h"
#include "app/qt_signals.h"
#include "app/runtime_folder.h"
#include "app/settings_command.h"
#include "base/log_categories.h"
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

// The program's own options, added to `parser`.
struct Options {
    explicit Options(QCommandLineParser& parser);

    QCommandLineOption help;
    QCommandLineOption version;
    QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral("Run without a window and without a display (as a service).")};
    QCommandLineOption instance{
        QStringLiteral("instance"),
        QStringLiteral("Keep the instance's files (settings, ports/, log folder, mqtt.conf) in "
                       "<folder>; the instance is named after its last component."),
        QStringLiteral("folder")};
    QCommandLineOption trend{
        QStringLiteral("trend"),
        QStringLiteral("Open the trend window (the last 10 minutes, live) at start.")};
    QCommandLineOption list{
        QStringLiteral("list-ports"),
        QStringLiteral("List the COM port links and the serial devices, and exit.")};
    QCommandLineOption exportTrend{
        QStringLiteral("export-trend"),
        QStringLiteral(
            "Write the last 24 hours of the log files as CSV to <file> (a header row, the time "
            "with its UTC offset, every reading) and exit."),
        QStringLiteral("file")};
    QCommandLineOption set{
        QStringLiteral("set"),
        QStringLiteral(
            "Change one setting, as the Set panel does, and exit; repeatable. Keys: com, "
            "baud, id, stime, rvnr, log, wav, channel<n>.label, channel<n>.color, "
            "channel<n>.nr1, channel<n>.nr2, channel<n>.hi, channel<n>.lo (n = 1..8); "
            "numbers with \".\" as the decimal point."),
        QStringLiteral("key=value")};
    QCommandLineOption show{QStringLiteral("show-settings"),
                            QStringLiteral("Print the settings, a key=value line each, and exit.")};
};

Options::Options(QCommandLineParser& parser)
    : help(parser.addHelpOption())
    , version(parser.addVersionOption())
{
    parser.addOptions({headless, instance, trend, list, exportTrend, set, show});
    acceptQtOptions(parser);
}

// The command line as parsed, and the name the program was started under.
struct CommandLine {
    int argc;
    char** argv;
    QByteArray startPath;
    QByteArray name; // for messages
    QCommandLineParser parser;
    std::optional<Options> options;

    bool isSet(const QCommandLineOption& o) const { return parser.isSet(o); }
    int fail(int status, const QByteArray& text) const
    {
        std::fprintf(stderr, "%s: %s\n", name.constData(), text.constData());
        return status;
    }
};

// Parses the command line; answers --help, --version and what cannot be
// parsed with the exit status, nothing when the program goes on.
std::optional<int> parseCommandLine(CommandLine& c)
{
    // The arguments' bytes, one character each (Latin-1): a path that is not
    // UTF-8 comes through the parser unchanged (toLatin1() gives it back).
    QStringList arguments;
    for (int i = 0; i < c.argc; ++i)
        arguments << QString::fromLatin1(c.argv[i]);
    QCommandLineParser& options = c.parser;
    options.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    options.setApplicationDescription(
        QStringLiteral("Watches one measuring device on a serial line."));
    c.options.emplace(options);
    c.startPath = c.argc > 0 && c.argv[0] && *c.argv[0] ? QByteArray(c.argv[0]) : "quellmark";
    c.name = c.startPath.mid(c.startPath.lastIndexOf('/') + 1);
    const QByteArray& name = c.name;
    if (!options.parse(arguments))
        return c.fail(2, options.errorText().toLatin1() + "\nTry '" + name + " --help'.");
    if (options.isSet(QStringLiteral("help-all"))) {
        // The list of Qt's options comes from the window's application; it
        // needs no display.
        if (!options.isSet(QStringLiteral("platform")))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(c.argc, c.argv);
        options.process(app); // prints the help with Qt's options and exits
    }
    if (!options.positionalArguments().isEmpty())
        return c.fail(2,
                      "unexpected argument: " + options.positionalArguments().first().toLatin1() +
                          "\nTry '" + name + " --help'.");
    if (c.isSet(c.options->help) || c.isSet(c.options->version)) {
        std::fputs(qPrintable(c.isSet(c.options->version)
                                  ? QString::fromLatin1(name + ' ' + QM_VERSION + '\n')
                                  : options.helpText().replace(QStringLiteral("<executable_name>"),
                                                               QString::fromLatin1(name))),
                   stdout);
        return 0;
    }
    if (c.isSet(c.options->headless) && c.isSet(c.options->trend))
        return c.fail(2, "--trend needs the window; it cannot go with --headless.");
    return std::nullopt;
}

// Where the instance keeps its files, and why not in the program's folder.
struct Instance {
    qm::ProgramPaths paths;
    QString homeNotice; // why the program's folder does not hold the files
    bool noticeExpected = false;
};

// The instance: a folder named on the command line, or the name the program
// was started under, so that a copy or a link under another name is an
// instance of its own. An installed program (/usr/bin) keeps its files in
// the user's data folder ($XDG_DATA_HOME/quellmark). Nothing when the folder
// named is none.
std::optional<Instance> findInstance(const CommandLine& c)
{
    Instance out;
    if (c.isSet(c.options->instance)) {
        const QByteArray folder = c.parser.value(c.options->instance).toLatin1();
        const auto named = qm::instanceFolder(folder, currentDirectory());
        struct stat st {};
        if (!named || ::stat(named->dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            c.fail(1, "--instance: " + folder + " is not a folder with a name");
            return std::nullopt;
        }
        out.paths = *named;
        return out;
    }
    const qm::InstanceHome home = qm::instanceHome(
        qm::programPathsFromStartPath(c.startPath, qgetenv("PATH"), currentDirectory()),
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
    out.paths = home.paths;
    if (!home.reason.isEmpty())
        out.homeNotice = qm::instanceHomeNotice(home);
    out.noticeExpected = home.systemFolder;
    return out;
}

// --show-settings and --set: the exit status.
int settingsCommand(const CommandLine& c, const Instance& instance)
{
    const qm::ProgramPaths& paths = instance.paths;
    const QByteArray iniFile = paths.file(paths.name + ".ini");
    const bool set = c.isSet(c.options->set);
    // The values' bytes as the terminal has them: a label with "°" is
    // stored as the Set panel stores it.
    QStringList assignments;
    for (const QString& a : c.parser.values(c.options->set))
        assignments << QString::fromLocal8Bit(a.toLatin1());
    if (!instance.homeNotice.isEmpty() && !instance.noticeExpected)
        std::fprintf(stderr, "%s: %s\n", c.name.constData(),
                     instance.homeNotice.toLocal8Bit().constData());
    const qm::CommandResult r =
        set ? qm::setSettings(iniFile, assignments) : qm::showSettings(iniFile);
    std::fputs(r.out.toLocal8Bit().constData(), stdout);
    std::fflush(stdout); // before what follows on standard error
    if (!r.err.isEmpty())
        std::fputs((c.name + ": " + r.err.toLocal8Bit()).constData(), stderr);
    if (const long holder =
            set && r.status == 0 ? qm::InstanceLock::holderOf(paths.file(paths.name + ".lock")) : 0)
        std::fprintf(stderr,
                     "%s: the instance runs as process %ld: it takes the new settings when it "
                     "starts again\n",
                     c.name.constData(), holder);
    return r.status;
}

// The window needs a display. Without one, a clear word and nothing made
// rather than Qt's abort: at once when nothing names a display, else when the
// platform plugin fails to connect (its messages then held back).
std::unique_ptr<QCoreApplication> makeQtApplication(CommandLine& c, bool windowless)
{
    if (windowless)
        return std::make_unique<QCoreApplication>(c.argc, c.argv);
    const QByteArray noDisplay = c.name + ": no display to show the window on; start with "
                                          "--headless to run without one\n";
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !c.parser.isSet(QStringLiteral("platform"))) {
        std::fputs(noDisplay.constData(), stderr);
        return nullptr;
    }
    qm::holdMessagesWhileConnecting(noDisplay);
    auto app = std::make_unique<QApplication>(c.argc, c.argv);
    qm::releaseHeldMessages();
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.quellmark.Quellmark"));
    return app;
}

// One running program per instance: a second start says who runs it (in a
// note on the screen too, shown until read or a stop) and gets false.
bool lockInstance(const CommandLine& c, const qm::ProgramPaths& paths, bool windowless,
                  std::optional<qm::InstanceLock>& lock)
{
    const QByteArray lockFile = paths.file(paths.name + ".lock");
    lock.emplace(lockFile);
    if (lock->state() == qm::InstanceLock::State::HeldElsewhere) {
        const QString text =
            QStringLiteral("The instance %1 (%2) is already running as process %3.")
                .arg(paths.displayName(), QString::fromUtf8(paths.dir))
                .arg(lock->holder());
        std::fprintf(stderr, "%s: %s\n", c.name.constData(), text.toLocal8Bit().constData());
        if (!windowless) {
            QMessageBox note(QMessageBox::Information,
                             QStringLiteral("Quellmark: ") + paths.displayName(), text);
            QObject::connect(&note, &QMessageBox::finished, QCoreApplication::instance(),
                             &QCoreApplication::quit);
            const qm::QtSignalWatcher stop({SIGTERM, SIGINT, SIGHUP},
                                           [] { QCoreApplication::quit(); });
            note.show();
            QCoreApplication::exec();
        }
        return false;
    }
    if (lock->state() == qm::InstanceLock::State::Failed)
        qCWarning(qm::lcService).noquote() << "cannot lock" << QString::fromUtf8(lockFile) + ':'
                                           << QString::fromLocal8Bit(lock->error())
                                           << "- a second start of this instance is not refused";
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // First of all: a service manager may stop the program while it starts.
    qm::catchTerminationSignals({SIGTERM, SIGINT, SIGHUP});
    qm::installJournalHandler();
    QCoreApplication::setApplicationName(QStringLiteral("quellmark"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QM_VERSION));

    CommandLine c{argc, argv, {}, {}, {}, {}};
    if (const std::optional<int> status = parseCommandLine(c))
        return *status;
    const Options& o = *c.options;
    const std::optional<Instance> instance = findInstance(c);
    if (!instance)
        return 1;
    const qm::ProgramPaths& paths = instance->paths;
    if (c.isSet(o.show) || c.isSet(o.set))
        return settingsCommand(c, *instance);

    const bool headless = c.isSet(o.headless);
    const bool windowless = headless || c.isSet(o.list) || c.isSet(o.exportTrend);
    if (!c.isSet(o.list) && !c.isSet(o.exportTrend))
        qm::useInstanceRuntimeFolder(paths); // before Qt asks for it
    const std::unique_ptr<QCoreApplication> app = makeQtApplication(c, windowless);
    if (!app)
        return 1;
    if (c.isSet(o.list)) {
        std::fputs(
            qPrintable(qm::portListText(qm::portLinks(paths.dir), qm::systemSerialDevices())),
            stdout);
        return 0;
    }
    std::optional<qm::InstanceLock> lock;
    if (!c.isSet(o.exportTrend) && !lockInstance(c, paths, windowless, lock))
        return 3;

    qm::Application application(paths, headless ? qm::Application::Mode::Headless
                                                : qm::Application::Mode::Window);
    application.setHomeNotice(instance->homeNotice, instance->noticeExpected);
    if (c.isSet(o.exportTrend))
        return application.exportTrend(c.parser.value(o.exportTrend).toLatin1());
    return application.run(c.isSet(o.trend));
}
