#include "app/main_form.h"
#include "app/program_paths.h"
#include "app/qt_event_loop.h"
#include "app/qt_signals.h"
#include "channels/qt_sound_player.h"
#include "device/qt_serial_port.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QFile>
#include <QLocale>

#include <climits>
#include <csignal>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    // The name the program was started under decides its settings file, so a
    // copy or a link under another name is an instance of its own.
    // Paths are taken as bytes: a name that is not UTF-8 still finds its files.
    const QByteArray startPath = argc > 0 && argv[0] && *argv[0]
                                     ? QByteArray(argv[0])
                                     : QFile::encodeName(QCoreApplication::applicationFilePath());
    char cwd[PATH_MAX];
    const qm::ProgramPaths paths = qm::programPathsFromStartPath(
        startPath, qgetenv("PATH"), ::getcwd(cwd, sizeof cwd) ? QByteArray(cwd) : QByteArray("/"));

    qm::QtEventLoop loop;
    qm::QtSerialPort port(paths.dir);
    qm::QtSoundPlayer sound;
    qm::QtDialogs dialogs;
    qm::SystemWallClock wallClock;
    const qm::Platform platform{loop, port, sound, dialogs, wallClock, paths, QLocale::system()};

    qm::MainForm form(platform);
    // A service manager's stop, a logout or Ctrl+C end the program as a normal
    // close does, without the question: the port (and its lock) released.
    const qm::QtSignalWatcher signalWatcher({SIGTERM, SIGINT, SIGHUP}, [&form] { form.CloseApp(); });
    qm::MainWindow window(form);
    dialogs.setParentWidget(&window);
    window.show();
    form.Form_Load();
    return app.exec();
}
