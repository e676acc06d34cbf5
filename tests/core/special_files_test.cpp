#include "tests/support/app_fixture.h"

#include <QFile>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::test {
namespace {

// Anything but a regular file where the settings file should be counts as no
// file: the defaults, and start-up never waits for a writer.
TEST(SpecialFiles, ASettingsFileThatIsNotARegularFileGivesTheDefaults)
{
    for (const char* kind : {"fifo", "link to a fifo", "directory"}) {
        SCOPED_TRACE(kind);
        AppFixture fx;
        const QByteArray ini = QFile::encodeName(fx.settingsPath());
        const QByteArray fifo = QFile::encodeName(fx.dir()) + "/fifo";
        if (std::string(kind) == "directory") {
            ASSERT_EQ(::mkdir(ini.constData(), 0777), 0);
        } else {
            ASSERT_EQ(::mkfifo(fifo.constData(), 0666), 0);
            ASSERT_EQ(std::string(kind) == "fifo" ? ::rename(fifo.constData(), ini.constData())
                                                  : ::symlink(fifo.constData(), ini.constData()),
                      0);
        }
        MainForm& f = fx.start();
        EXPECT_EQ(f.STime, 30);
        EXPECT_EQ(f.txtSetHi[1].text(), QStringLiteral("99.9"));
        EXPECT_TRUE(f.Timer1.enabled());
    }
}

// The day's file: a FIFO there never blocks and gets nothing; a link there is
// not followed; a log folder that is a link (to another disk) is used.
TEST(SpecialFiles, TheDayFileIsNeverAFifoOrALinkButTheFolderMayBeALink)
{
    AppFixture fx;
    MainForm& f = fx.start();
    f.LogOn = 1;
    const QByteArray dir = QFile::encodeName(fx.dir());
    const QByteArray logDir = dir + "/quellmarkLog";
    const QByteArray day = logDir + "/250312.txt";
    ASSERT_EQ(::mkdir(logDir.constData(), 0777), 0);

    ASSERT_EQ(::mkfifo(day.constData(), 0666), 0);
    f.cmdRadni1_Click(); // nobody reads: must not wait for a reader
    const int reader = ::open(day.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    f.cmdRadni1_Click(); // a reader: still nothing written into the FIFO
    char buf[64];
    EXPECT_LE(::read(reader, buf, sizeof buf), 0);
    ::close(reader);
    ASSERT_EQ(::unlink(day.constData()), 0);

    const QByteArray target = dir + "/elsewhere.txt";
    ASSERT_EQ(::symlink(target.constData(), day.constData()), 0);
    f.cmdRadni1_Click();
    EXPECT_NE(::access(target.constData(), F_OK), 0) << "the link at the day's file was followed";
    ASSERT_EQ(::unlink(day.constData()), 0);

    const QByteArray otherDisk = dir + "/otherDisk";
    ASSERT_EQ(::rename(logDir.constData(), otherDisk.constData()), 0);
    ASSERT_EQ(::symlink(otherDisk.constData(), logDir.constData()), 0);
    f.cmdRadni1_Click();
    QFile written(QFile::decodeName(otherDisk + "/250312.txt"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "\"08:15:00\",0,0,0,0,0,0,0,0\r\n");
}

} // namespace
} // namespace qm::test
