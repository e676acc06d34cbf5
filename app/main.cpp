#include "app/main_form.h"
#include "app/program_paths.h"
#include "app/qt_event_loop.h"
#include "channels/qt_sound_player.h"
#include "device/qt_serial_port.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocale>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    // The name the program was started under decides its settings file, so a
    // copy or a link under another name is an instance of its own.
    const QString startPath = argc > 0 && argv[0] && *argv[0]
                                  ? QFile::decodeName(argv[0])
                                  : QCoreApplication::applicationFilePath();
    const qm::ProgramPaths paths =
        qm::programPathsFromStartPath(startPath, qEnvironmentVariable("PATH"), QDir::currentPath());

    qm::QtEventLoop loop;
    qm::QtSerialPort port(paths.dir);
    qm::QtSoundPlayer sound;
    qm::QtDialogs dialogs;
    qm::SystemWallClock wallClock;
    const qm::Platform platform{loop, port, sound, dialogs, wallClock, paths, QLocale::system()};

    qm::MainForm form(platform);
    qm::MainWindow window(form);
    dialogs.setParentWidget(&window);
    window.show();
    form.Form_Load();
    return app.exec();
}
