// The whole program in one process on a real pseudo-terminal: a device that
// sends as fast as the terminal takes it. Every line is logged and the window
// shows the last value.
#include "app/main_form.h"
#include "app/qt_event_loop.h"
#include "channels/sound_player.h"
#include "device/qt_serial_port.h"
#include "tests/support/app_fixture.h"
#include "ui/main_window.h"
#include "ui/qt_dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace qm {
namespace {

class NoSound final : public SoundPlayer {
public:
    void play(const QByteArray&) override {}
};

bool pumpUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

TEST(WindowFlood, TenThousandLinesAreAllLoggedAndTheLastValueIsShown)
{
    QTemporaryDir dir;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    QDir(dir.path()).mkpath(QStringLiteral("ports"));
    ASSERT_TRUE(QFile::link(QString::fromLocal8Bit(::ptsname(master)),
                            dir.filePath(QStringLiteral("ports/com1"))));
    {
        QFile ini(dir.filePath(QStringLiteral("quellmark.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("1,\"115200\",\"\",0,8,\"not used\",1,0\r\n"
                  "\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\"\r\n"
                  "\"W\",\"R\",\"G\",\"B\",\"Y\",\"W\",\"R\",\"G\"\r\n"
                  "0,0,0,0,0,0,0,0\r\n1,1,1,1,1,1,1,1\r\n"
                  "\"O1\",\"O2\",\"O3\",\"O4\",\"O5\",\"O6\",\"O7\",\"O8\"\r\n"
                  "99.9,99.9,99.9,99.9,99.9,99.9,99.9,99.9\r\n0,0,0,0,0,0,0,0\r\n");
    }

    QtEventLoop loop;
    QtSerialPort port(QFile::encodeName(dir.path()));
    NoSound sound;
    test::ScriptedDialogs dialogs;
    SystemWallClock clock;
    MainForm form(Platform{loop, port, sound, dialogs, clock,
                           ProgramPaths{"quellmark", QFile::encodeName(dir.path())}, QLocale::c()});
    MainWindow window(form);
    window.show();
    form.Form_Load();
    ASSERT_TRUE(pumpUntil([&] { return port.portOpen(); }, 5000)) << "INIT never opened the port";

    constexpr int kLines = 10000;
    std::thread device([master] {
        std::string all;
        for (int i = 1; i <= kLines; ++i)
            all += "V0" + std::to_string(i % 8 + 1) + "=" + std::to_string(i % 1000) + "." +
                   std::to_string(i % 10) + "\r\n";
        std::size_t done = 0;
        while (done < all.size()) {
            const ssize_t n = ::write(master, all.data() + done, all.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EINTR)
                return;
        }
    });

    const QString logDir = dir.filePath(QStringLiteral("quellmarkLog"));
    auto logLines = [&] {
        int n = 0;
        for (const QString& name : QDir(logDir).entryList(QDir::Files)) {
            QFile f(logDir + QLatin1Char('/') + name);
            if (f.open(QIODevice::ReadOnly))
                n += static_cast<int>(f.readAll().count("\r\n"));
        }
        return n;
    };
    const bool all = pumpUntil([&] { return logLines() >= kLines; }, 60000);
    device.join();
    ASSERT_TRUE(all) << logLines() << " of " << kLines << " lines logged";
    pumpUntil([] { return false; }, 100);
    EXPECT_EQ(logLines(), kLines);

    // Line 10000 is V01=0.0; line 9999 was V08=999.9.
    QLabel* v1 = nullptr;
    QLabel* v8 = nullptr;
    QLabel* status = nullptr;
    for (QLabel* l : window.findChildren<QLabel*>()) {
        if (l->accessibleDescription() == QStringLiteral("V01 value"))
            v1 = l;
        if (l->accessibleDescription() == QStringLiteral("V08 value"))
            v8 = l;
        if (l->accessibleDescription() == QStringLiteral("Status line"))
            status = l;
    }
    ASSERT_TRUE(v1 && v8 && status);
    EXPECT_EQ(v1->text(), QStringLiteral("0"));
    EXPECT_EQ(v8->text(), QStringLiteral("999.9"));
    EXPECT_EQ(status->text(), QStringLiteral("COM:1 Baud:115200 COM data: V01=0.0"));
    ::close(master);
}

} // namespace
} // namespace qm
