#include "tests/e2e/harness.h"

#include "app/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <thread>
#include <unistd.h>

#ifndef QM_APP_PATH
#error "QM_APP_PATH must name the program under test"
#endif
#ifndef QM_SIM_PATH
#error "QM_SIM_PATH must name quellmark-sim"
#endif

namespace qm::e2e {

namespace {

// QProcess wants an application object; the tests have no event loop of
// their own, QProcess's waitFor... functions are enough.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        // The programs under test run where the C library writes a decimal
        // comma: de_DE.UTF-8, compiled into the build tree.
        qputenv("LOCPATH", QM_LOCALE_DIR);
        qputenv("LC_ALL", "de_DE.UTF-8");
        qputenv("LANG", "de_DE.UTF-8");
        if (!QCoreApplication::instance())
            app_ = std::make_unique<QCoreApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "e2e_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QByteArray fromHexTokens(const QList<QByteArray>& tokens, qsizetype from)
{
    QByteArray out;
    for (qsizetype i = from; i < tokens.size(); ++i)
        out += QByteArray::fromHex(tokens[i]);
    return out;
}

bool isHexByte(const QByteArray& t)
{
    static const QRegularExpression re(QStringLiteral("^[0-9A-F]{2}$"));
    return re.match(QString::fromLatin1(t)).hasMatch();
}

QProcessEnvironment childEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The locale is the test's own (a decimal-comma one under ctest).
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

void stopProcess(QProcess& p, int signal)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.waitForStarted(5000);
    if (p.processId() > 0)
        ::kill(static_cast<pid_t>(p.processId()), signal);
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

} // namespace

bool waitUntil(const std::function<bool()>& done, Ms timeout, Ms step)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(step);
    }
}

QByteArray Settings::fileContents() const
{
    const QByteArray crlf = "\r\n";
    QByteArray s;
    s += QByteArray::number(comPort) + ",\"" + baud.toLatin1() + "\",\"" + devId.toLatin1() + "\","
         + QByteArray::number(sTime) + "," + QByteArray::number(rvnr) + ",\"not used\","
         + (logOn ? "1" : "0") + "," + (wavOn ? "1" : "0") + crlf;
    s += "\"V01 label:\",\"V02 label:\",\"V03 label:\",\"V04 label:\",\"V05 label:\","
         "\"V06 label:\",\"V07 label:\",\"V08 label:\""
         + crlf;
    s += "\"W\",\"R\",\"G\",\"B\",\"Y\",\"W\",\"R\",\"G\"" + crlf;
    s += "0,0,0,0,0,0,0,0" + crlf;
    s += "1,1,1,1,1,1,1,1" + crlf;
    s += "\"OUT1\",\"OUT2\",\"OUT3\",\"OUT4\",\"OUT5\",\"OUT6\",\"OUT7\",\"OUT8\"" + crlf;
    s += "99.9,99.9,99.9,99.9,99.9,99.9,99.9,99.9" + crlf;
    s += "0,0,0,0,0,0,0,0" + crlf;
    return s;
}

// ---------------------------------------------------------------------------

ProgramDir::ProgramDir()
{
    dir_.setAutoRemove(true);
    QDir(dir_.path()).mkpath(QStringLiteral("harness"));
}

QString ProgramDir::portPath(int comPort) const
{
    return dir_.filePath(QStringLiteral("ports/com%1").arg(comPort));
}

QString ProgramDir::addInstance(const QString& name, const Settings& settings)
{
    const QString link = dir_.filePath(name);
    QFile::remove(link);
    if (!QFile::link(QStringLiteral(QM_APP_PATH), link))
        return {};
    QFile ini(dir_.filePath(name + QStringLiteral(".ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    ini.write(settings.fileContents());
    return link;
}

QString ProgramDir::logDir(const QString& name) const
{
    return dir_.filePath(name + QStringLiteral("Log"));
}

QString ProgramDir::diagDir() const
{
    return dir_.filePath(QStringLiteral("harness"));
}

// ---------------------------------------------------------------------------

Sim::Sim(QString diagDir) : diagDir_(std::move(diagDir))
{
    static int counter = 0;
    serial_ = ++counter;
    tracePath_ = QDir(diagDir_).filePath(QStringLiteral("sim%1-trace.txt").arg(serial_));
    stderrPath_ = QDir(diagDir_).filePath(QStringLiteral("sim%1-stderr.txt").arg(serial_));
}

Sim::~Sim()
{
    stop();
}

bool Sim::start(const QStringList& args)
{
    QStringList all = args;
    all << QStringLiteral("--trace") << tracePath_;
    const qsizetype linkAt = args.indexOf(QStringLiteral("--link"));
    link_ = linkAt >= 0 && linkAt + 1 < args.size() ? args[linkAt + 1] : QString();

    process_.setProgram(QStringLiteral(QM_SIM_PATH));
    process_.setArguments(all);
    process_.setProcessEnvironment(childEnvironment());
    process_.setStandardErrorFile(stderrPath_, QIODevice::Append);
    process_.setWorkingDirectory(diagDir_);
    process_.start();
    if (!process_.waitForStarted(5000))
        return false;

    if (!link_.isEmpty()) {
        // The link appears once the terminal is ready for a program.
        const bool up = waitUntil(
            [&] { return QFileInfo(link_).isSymLink() && QFileInfo::exists(link_); }, 5s, 5ms);
        if (!up)
            return false;
        slavePath_ = QFileInfo(link_).symLinkTarget();
        return true;
    }
    // Without a link the simulator prints its terminal's path.
    QByteArray out;
    const bool got = waitUntil(
        [&] {
            process_.waitForReadyRead(10);
            out += process_.readAllStandardOutput();
            return out.contains('\n');
        },
        5s, 1ms);
    if (!got)
        return false;
    slavePath_ = QString::fromLocal8Bit(out.left(out.indexOf('\n')));
    return true;
}

bool Sim::isRunning() const
{
    return process_.state() == QProcess::Running;
}

qint64 Sim::pid() const
{
    return process_.processId();
}

int Sim::stop(int signal)
{
    if (process_.state() == QProcess::NotRunning)
        return -1;
    stopProcess(process_, signal);
    if (process_.exitStatus() != QProcess::NormalExit)
        return -1;
    return process_.exitCode();
}

QString Sim::stderrText() const
{
    return QString::fromLocal8Bit(readFile(stderrPath_));
}

std::vector<TraceEntry> Sim::trace() const
{
    std::vector<TraceEntry> entries;
    const QByteArray text = readFile(tracePath_);
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> t = line.split(' ');
        bool ok = false;
        TraceEntry e;
        e.ms = t[0].toLongLong(&ok);
        if (!ok || t.size() < 2)
            continue;
        if (t[1] == "rx" || t[1] == "tx") {
            e.kind = t[1] == "rx" ? TraceEntry::Kind::Received : TraceEntry::Kind::Sent;
            e.bytes = fromHexTokens(t, 2);
        } else if (isHexByte(t[1])) {
            e.kind = TraceEntry::Kind::Request;
            e.bytes = fromHexTokens(t, 1);
        } else {
            e.kind = TraceEntry::Kind::Event;
            e.event = QString::fromLatin1(line.mid(t[0].size() + 1));
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<TraceEntry> Sim::trace(TraceEntry::Kind kind) const
{
    std::vector<TraceEntry> out;
    for (TraceEntry& e : trace())
        if (e.kind == kind)
            out.push_back(std::move(e));
    return out;
}

std::vector<QByteArray> Sim::sentLines() const
{
    std::vector<QByteArray> lines;
    for (const TraceEntry& e : trace(TraceEntry::Kind::Sent)) {
        QByteArray l = e.bytes;
        if (l.endsWith("\r\n"))
            l.chop(2);
        lines.push_back(l);
    }
    return lines;
}

bool Sim::waitForDone(Ms timeout) const
{
    return waitUntil([&] { return stderrText().contains(QStringLiteral("done")); }, timeout);
}

// ---------------------------------------------------------------------------

App::App(const ProgramDir& dir, QString name)
    : App(QFile::encodeName(dir.filePath(name)), dir.diagDir(), name)
{
}

App::App(QByteArray startPath, const QString& diagDir, QString name)
    : startPath_(std::move(startPath)), name_(std::move(name)),
      outputPath_(QDir(diagDir).filePath(name_ + QStringLiteral("-output.txt"))),
      workDir_(diagDir)
{
}

App::~App()
{
    stop();
}

bool App::start()
{
    // A path that QProcess's text cannot carry goes through a shell script
    // that holds its bytes.
    const QString text = QFile::decodeName(startPath_);
    if (QFile::encodeName(text) == startPath_) {
        process_.setProgram(text);
    } else {
        const QString script = QDir(workDir_).filePath(name_ + QStringLiteral("-start.sh"));
        QFile f(script);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        f.write("exec '" + startPath_ + "'\n");
        f.close();
        process_.setProgram(QStringLiteral("/bin/sh"));
        process_.setArguments({script});
    }
    process_.setProcessEnvironment(childEnvironment());
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(outputPath_, QIODevice::Append);
    // Not the program directory: the program must find its files by its
    // start path, not by the working directory.
    process_.setWorkingDirectory(workDir_);
    process_.start();
    return process_.waitForStarted(5000);
}

bool App::isRunning() const
{
    return process_.state() == QProcess::Running;
}

qint64 App::pid() const
{
    return process_.processId();
}

std::optional<long> App::statusField(const char* field) const
{
    if (!isRunning())
        return std::nullopt;
    const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(pid()));
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith(field)) {
            const QList<QByteArray> parts = line.mid(qstrlen(field)).simplified().split(' ');
            bool ok = false;
            const long kb = parts.value(0).toLong(&ok);
            if (ok)
                return kb;
        }
    }
    return std::nullopt;
}

std::optional<long> App::residentKb() const
{
    return statusField("VmRSS:");
}

std::optional<long> App::peakResidentKb() const
{
    return statusField("VmHWM:");
}

void App::stop()
{
    // The window asks before it closes; the tests end it with a signal.
    stopProcess(process_, SIGTERM);
}

int App::stop(int signal)
{
    if (process_.state() == QProcess::NotRunning)
        return -1;
    stopProcess(process_, signal);
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString App::outputText() const
{
    return QString::fromLocal8Bit(readFile(outputPath_));
}

// ---------------------------------------------------------------------------

Log readLog(const QByteArray& logDir)
{
    // By bytes: the folder's name need not be UTF-8.
    Log log;
    std::vector<QByteArray> names;
    if (DIR* d = ::opendir(logDir.constData())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names) {
        log.files.append(QFile::decodeName(name));
        // Lines arrive while the program runs: take only complete ones.
        const QByteArray data =
            QByteArray::fromStdString(readRegularFile(logDir + '/' + name, 1 << 30).value_or(""));
        qsizetype pos = 0;
        for (;;) {
            const qsizetype end = data.indexOf("\r\n", pos);
            if (end < 0)
                break;
            log.lines.push_back(data.mid(pos, end + 2 - pos));
            pos = end + 2;
        }
        log.trailing += data.mid(pos);
    }
    return log;
}

bool parseLogLine(const QByteArray& line, LogLine& out)
{
    // A number: optional "-", digits, an optional fraction without trailing
    // zeros; a leading zero before the point may be left out.
    static const QRegularExpression re(QStringLiteral(
        "^\"([01][0-9]|2[0-3]):([0-5][0-9]):([0-5][0-9])\""
        "((?:,-?(?:[0-9]+(?:\\.[0-9]*[1-9])?|\\.[0-9]*[1-9])){8})\r\n$"));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(line));
    if (!m.hasMatch())
        return false;
    LogLine l;
    l.secondsOfDay = m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt();
    const QStringList fields = m.captured(4).mid(1).split(QLatin1Char(','));
    if (fields.size() != 8)
        return false;
    for (int i = 0; i < 8; ++i) {
        bool ok = false;
        l.values[i + 1] = fields[i].toDouble(&ok);
        if (!ok)
            return false;
    }
    out = l;
    return true;
}

std::vector<std::array<double, 9>> valuesAfterEachLine(const std::vector<QByteArray>& lines,
                                                       const QByteArray& id)
{
    std::vector<std::array<double, 9>> out;
    std::array<double, 9> v{};
    for (const QByteArray& line : lines) {
        if (line.startsWith(id + "V0") && line.size() >= id.size() + 4
            && line[id.size() + 3] == '=') {
            const char c = line[id.size() + 2];
            if (c >= '1' && c <= '8')
                v[c - '0'] = line.mid(id.size() + 4).toDouble();
        }
        out.push_back(v);
    }
    return out;
}

::testing::AssertionResult valuesMatch(const std::array<double, 9>& logged,
                                       const std::array<double, 9>& sent)
{
    for (int c = 1; c <= 8; ++c) {
        // One decimal, rounded: never more than half a tenth away.
        if (std::fabs(logged[c] - sent[c]) > 0.05 + 1e-4) {
            auto row = [](const std::array<double, 9>& a) {
                QString s;
                for (int i = 1; i <= 8; ++i)
                    s += QString::number(a[i]) + QLatin1Char(i < 8 ? ',' : ' ');
                return s.toStdString();
            };
            return ::testing::AssertionFailure()
                   << "channel " << c << ": logged " << row(logged) << "| sent " << row(sent);
        }
    }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------

PortClient::~PortClient()
{
    close();
}

bool PortClient::open(const QString& path)
{
    close();
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return fd_ >= 0;
}

void PortClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool PortClient::write(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

QByteArray PortClient::read(Ms timeout, const std::function<bool(const QByteArray&)>& enough)
{
    QByteArray data;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (enough && enough(data))
            return data;
        const auto left =
            std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return data;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        if (p.revents & POLLIN) {
            char buf[65536];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0)
                data.append(buf, n);
        } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return data;
        }
    }
}

bool PortClient::hungUp() const
{
    if (fd_ < 0)
        return true;
    pollfd p{fd_, POLLIN, 0};
    ::poll(&p, 1, 0);
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// ---------------------------------------------------------------------------

Sim& E2eTest::startSim(const QStringList& args)
{
    sims.push_back(std::make_unique<Sim>(dir.diagDir()));
    Sim& sim = *sims.back();
    EXPECT_TRUE(sim.start(args)) << "quellmark-sim did not start: " << sim.stderrText().toStdString();
    return sim;
}

App& E2eTest::startApp(const QString& name, const Settings& settings)
{
    EXPECT_FALSE(dir.addInstance(name, settings).isEmpty()) << "cannot set up instance " << name.toStdString();
    apps.push_back(std::make_unique<App>(dir, name));
    App& app = *apps.back();
    EXPECT_TRUE(app.start()) << "the program did not start";
    return app;
}

void E2eTest::TearDown()
{
    for (auto& app : apps)
        app->stop();
    for (auto& sim : sims)
        sim->stop();
    if (!HasFailure())
        return;
    // What the processes said, to tell a harness fault from a program fault.
    for (auto& app : apps) {
        const QString out = app->outputText().right(4000);
        if (!out.isEmpty())
            std::cerr << "--- output of " << app->name().toStdString() << ":\n" << out.toStdString() << "\n";
    }
    for (auto& sim : sims) {
        std::cerr << "--- simulator stderr:\n" << sim->stderrText().right(2000).toStdString() << "\n";
        QFile f(sim->tracePath());
        if (f.open(QIODevice::ReadOnly)) {
            QList<QByteArray> lines = f.readAll().split('\n');
            const qsizetype from = std::max<qsizetype>(0, lines.size() - 40);
            std::cerr << "--- simulator trace (last lines):\n";
            for (qsizetype i = from; i < lines.size(); ++i)
                std::cerr << lines[i].left(200).toStdString() << "\n";
        }
    }
}

} // namespace qm::e2e
