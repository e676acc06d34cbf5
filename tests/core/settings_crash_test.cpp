#include "settings/settings_file.h"
#include "tests/support/app_fixture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace qm::test {
namespace {

// A process killed at a random moment while it saves its settings over and
// over leaves either the previous file or the new one, never a broken one.
TEST(SettingsCrash, AKillDuringASaveLeavesTheOldOrTheNewFile)
{
    QTemporaryDir dir;
    const QString ini = QDir(dir.path()).filePath(QStringLiteral("quellmark.ini"));
    // Two contents of different lengths, so a cut-off file cannot pass for one.
    SettingsValues a = defaultSettings(), b = defaultSettings();
    a.MyLabel[1] = std::string(3000, 'a');
    b.MyLabel[1] = "b";
    const QByteArray fileA = QByteArray::fromStdString(writeSettingsFile(a));
    const QByteArray fileB = QByteArray::fromStdString(writeSettingsFile(b));

    std::mt19937 random(12345);
    for (int round = 0; round < 25; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SimEventLoop loop;
            SimSerialPort port(loop);
            RecordingSoundPlayer sound(loop);
            ScriptedDialogs dialogs;
            SimWallClock clock(loop);
            MainForm form(Platform{loop, port, sound, dialogs, clock,
                                   ProgramPaths{"quellmark", QFile::encodeName(dir.path())},
                                   QLocale::c()});
            form.Form_Load();
            for (unsigned n = 0;; ++n) {
                form.txtSetLabel1[1].setUserText(QString::fromStdString((n % 2 ? b : a).MyLabel[1]));
                form.cmdSave_Click(1);
            }
        }
        const timespec pause{0, static_cast<long>(random() % 20'000'000)};
        ::nanosleep(&pause, nullptr);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        QFile file(ini);
        if (!file.exists())
            continue; // killed before the first save finished
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(bytes == fileA || bytes == fileB) << "round " << round << ": " << bytes.size()
                                                     << " bytes";
    }
}

} // namespace
} // namespace qm::test
