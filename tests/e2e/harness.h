#pragma once

// The real program, started through links in a temporary folder, against
// quellmark-sim on pseudo-terminals, under a decimal-comma locale.

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace qm::e2e {

using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
QByteArray readAll(const QString& path); // empty when there is no such file
void writeAll(const QString& path, const QByteArray& bytes);

struct Settings { // of an instance; the channels keep their defaults
    int comPort = 1, sTime = 0, rvnr = 8;
    QByteArray devId = {};
};

// The bytes of an instance's settings file (logging on).
QByteArray settingsFile(const Settings& s);

class E2eTest : public ::testing::Test {
protected:
    void TearDown() override;
    // quellmark-sim with `args` and a trace; waits for its --link, or reads
    // its terminal into `terminal`.
    void startSim(QStringList args, QByteArray* terminal = nullptr);
    // The lines a simulator sent, without CR LF, at their times in ms.
    std::vector<std::pair<qint64, QByteArray>> sent(int sim) const;
    // Runs `command` through the shell (bytes stay bytes), its output into `out`.
    QProcess& run(const QByteArray& command, const QString& out,
                  const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
    // Links <folder>/<name> (default: the test's folder) to the program,
    // writes its settings and runs it.
    QProcess& startApp(const QByteArray& name, const Settings& s, QByteArray folder = {});
    static int stop(QProcess& p, int signal); // exit code; -1 when killed
    std::vector<QByteArray> log(const QByteArray& name,
                                QByteArray folder = {}) const; // complete lines
    QString port(int n) const { return dir.filePath(QStringLiteral("ports/com%1").arg(n)); }

    QTemporaryDir dir;
    QByteArray path = QFile::encodeName(dir.path());
    std::vector<std::unique_ptr<QProcess>> sims, apps;
};

} // namespace qm::e2e
