#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::test {

// Runs the event loop until `cond` holds or `ms` have passed.
inline bool pumpUntil(const std::function<bool()>& cond, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return cond();
}

// A pseudo-terminal whose slave is COM1 of a temporary program directory.
class PtyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
        ASSERT_EQ(::mkdir(dir + "/ports", 0777), 0);
        ASSERT_EQ(::symlink(::ptsname(master), dir + "/ports/com1"), 0);
    }
    void TearDown() override { ::close(master); }

    QTemporaryDir tmp;
    QByteArray dir = QFile::encodeName(tmp.path());
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
};

} // namespace qm::test
