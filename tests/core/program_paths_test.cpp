#include "app/program_paths.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qm {
namespace {

// The name is the whole file name it was started under, links not followed,
// bytes as they are.
TEST(ProgramPaths, NameAndDirectoryFromTheStartPath)
{
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QByteArray binDir = QFile::encodeName(bin.path());
    const int fd = ::open((binDir + "/pump.v2").constData(), O_CREAT | O_WRONLY, 0755);
    ASSERT_GE(fd, 0);
    ::close(fd);

    const struct {
        QByteArray start, path, cwd;
        QByteArray name, dir;
    } cases[] = {
        {"/opt/pumps/pump.v2", "", "/", "pump.v2", "/opt/pumps"},
        {"/opt/pumps/pump.v3", "", "/", "pump.v3", "/opt/pumps"},
        {"./pumps/../tanks//tank2", "", "/home/ann", "tank2", "/home/ann/tanks"},
        {"q\xff m", "/nowhere:" + binDir, "/home/ann", "q\xff m", "/home/ann"},
        {"/d\xfe/q\xff m", "", "/", "q\xff m", "/d\xfe"},
        {"pump.v2", "/nowhere:" + binDir, "/home/ann", "pump.v2", binDir},
        {"pump.v2", ":/nowhere", binDir, "pump.v2", binDir}, // empty PATH entry: the cwd
        {"/quellmark", "", "/", "quellmark", "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start.toStdString());
        const ProgramPaths p = programPathsFromStartPath(c.start, c.path, c.cwd);
        EXPECT_EQ(p.name, c.name);
        EXPECT_EQ(p.dir, c.dir);
    }
    EXPECT_EQ((ProgramPaths{"q\xff m", "/d\xfe"}.file("q\xff m.ini")), "/d\xfe/q\xff m.ini");
    EXPECT_EQ((ProgramPaths{"quellmark", "/"}.file("a1.wav")), "/a1.wav");
}

} // namespace
} // namespace qm
