#include "tests/e2e/harness.h"

#include "base/files.h"
#include "settings/settings_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <thread>
#include <unistd.h>

namespace qm::e2e {

namespace {

// QProcess wants an application object; the C library writes a decimal comma.
class Environment : public ::testing::Environment {
    void SetUp() override
    {
        qputenv("LOCPATH", QM_LOCALE_DIR);
        qputenv("LC_ALL", "de_DE.UTF-8");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }
    int argc_ = 1;
    char name_[10] = "e2e_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};
[[maybe_unused]] auto* const g_environment = ::testing::AddGlobalTestEnvironment(new Environment);

} // namespace

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(25ms);
    return done();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path;
    EXPECT_EQ(f.write(bytes), bytes.size()) << path;
}

void E2eTest::startSim(QStringList args, QByteArray* terminal)
{
    auto& p = *sims.emplace_back(std::make_unique<QProcess>());
    p.start(QStringLiteral(QM_SIM_PATH),
            args << "--trace" << dir.filePath(QStringLiteral("sim%1").arg(sims.size() - 1)));
    const qsizetype link = args.indexOf(QStringLiteral("--link"));
    EXPECT_TRUE(link >= 0 ? waitUntil([&] { return QFileInfo::exists(args[link + 1]); }, 5s)
                          : p.waitForReadyRead(5000));
    if (terminal)
        *terminal = p.readLine().trimmed();
}

// "<ms> tx <hex>" is a line sent.
std::vector<std::pair<qint64, QByteArray>> E2eTest::sent(int sim) const
{
    std::vector<std::pair<qint64, QByteArray>> out;
    for (const QByteArray& line :
         readAll(dir.filePath(QStringLiteral("sim%1").arg(sim))).split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (w.size() > 2 && w[1] == "tx")
            out.push_back({w[0].toLongLong(), QByteArray::fromHex(w.mid(2).join()).chopped(2)});
    }
    return out;
}

QByteArray settingsFile(const Settings& s)
{
    SettingsValues v = defaultSettings();
    v.comPort = s.comPort;
    v.sampleTime = s.sTime;
    v.valueCount = s.rvnr;
    v.deviceId = s.devId.toStdString();
    v.logOn = 1;
    return QByteArray::fromStdString(writeSettingsFile(v));
}

QProcess& E2eTest::run(const QByteArray& command, const QString& out,
                       const QProcessEnvironment& env)
{
    const QByteArray script = path + "/run" + QByteArray::number(apps.size());
    EXPECT_TRUE(replaceFile(script, ("exec " + command + "\n").toStdString()));
    auto& p = *apps.emplace_back(std::make_unique<QProcess>());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardOutputFile(out);
    p.setWorkingDirectory(QDir::tempPath()); // files are found by the start path alone
    p.start(QStringLiteral("/bin/sh"), {QFile::decodeName(script)});
    EXPECT_TRUE(p.waitForStarted(5000));
    return p;
}

QProcess& E2eTest::startApp(const QByteArray& name, const Settings& s, QByteArray folder)
{
    const QByteArray program = (folder.isEmpty() ? path : folder) + '/' + name;
    EXPECT_EQ(::symlink(QM_APP_PATH, program), 0);
    EXPECT_TRUE(replaceFile(program + ".ini", settingsFile(s).toStdString()));
    return run("'" + program + "'", dir.filePath(QFile::decodeName(name) + ".out"));
}

int E2eTest::stop(QProcess& p, int signal)
{
    if (p.state() == QProcess::NotRunning)
        return -1;
    ::kill(static_cast<pid_t>(p.processId()), signal);
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

std::vector<QByteArray> E2eTest::log(const QByteArray& name, QByteArray folder) const
{
    const QByteArray logDir = (folder.isEmpty() ? path : folder) + '/' + name + "Log";
    std::vector<QByteArray> files, lines;
    if (DIR* d = ::opendir(logDir)) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                files.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(files.begin(), files.end());
    for (const QByteArray& file : files) {
        const QByteArray data =
            QByteArray::fromStdString(readRegularFile(logDir + '/' + file, 1 << 30).value_or(""));
        for (qsizetype pos = 0, end; (end = data.indexOf("\r\n", pos)) >= 0; pos = end + 2)
            lines.push_back(data.mid(pos, end + 2 - pos));
    }
    return lines;
}

void E2eTest::TearDown()
{
    for (auto& p : apps)
        stop(*p, SIGTERM);
    for (auto& p : sims)
        stop(*p, SIGTERM);
    QProcess::execute("rm", {"-rf", dir.path()}); // names QTemporaryDir cannot remove too
}

} // namespace qm::e2e
