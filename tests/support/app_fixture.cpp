#include "tests/support/app_fixture.h"

#include <QFile>

#include <clocale>
#include <cstdlib>
#include <stdexcept>

namespace qm::test {

const QByteArray kDefaultSettingsFile =
    "1,\"9600\",\"\",30,8,\"not used\",0,0\r\n"
    "\"V01 label:\",\"V02 label:\",\"V03 label:\",\"V04 label:\",\"V05 label:\",\"V06 label:\","
    "\"V07 label:\",\"V08 label:\"\r\n\"W\",\"R\",\"G\",\"B\",\"Y\",\"W\",\"R\",\"G\"\r\n"
    "0,0,0,0,0,0,0,0\r\n1,1,1,1,1,1,1,1\r\n"
    "\"OUT1\",\"OUT2\",\"OUT3\",\"OUT4\",\"OUT5\",\"OUT6\",\"OUT7\",\"OUT8\"\r\n"
    "99.9,99.9,99.9,99.9,99.9,99.9,99.9,99.9\r\n0,0,0,0,0,0,0,0\r\n";

QByteArray settingsWithFirstLine(const QByteArray& firstLine)
{
    return firstLine + kDefaultSettingsFile.mid(kDefaultSettingsFile.indexOf("\r\n"));
}

int SimSerialPort::setCommPort(int number)
{
    if (open_)
        return comm_error::kPortOpenCannotSet;
    commPort = number;
    return 0;
}

int SimSerialPort::setSettings(const std::string& text)
{
    if (!settingsError)
        settings = text;
    return settingsError;
}

int SimSerialPort::setPortOpen(bool open)
{
    if (open && !open_ && openError)
        return openError;
    openCount += open && !open_;
    if (!open)
        pending_.clear();
    open_ = open;
    return 0;
}

int SimSerialPort::output(const std::string& bytes)
{
    if (!open_)
        return comm_error::kPortNotOpen;
    writes.push_back({loop_.now(), bytes});
    std::string frame; // the device reads whole requests: CR, id, command, CR
    for (const char c : bytes) {
        if (c != '\r') {
            frame += c;
            continue;
        }
        const std::string cmd = frame.substr(std::min(id.size(), frame.size()));
        const int n = cmd.size() == 3 && cmd[0] == 'V' && cmd[1] == '0' ? cmd[2] - '0' : 0;
        if (answering && frame.starts_with(id) && cmd == "AT")
            receiveAt(loop_.now() + 30, id + "OK\r\n");
        else if (answering && frame.starts_with(id) && n >= 1 && n <= 8)
            receiveAt(loop_.now() + 30, id + cmd + "=" + values[n] + "\r\n");
        frame.clear();
    }
    return 0;
}

void SimSerialPort::receiveAt(Millis at, std::string bytes)
{
    loop_.postAt(at, [this, bytes = std::move(bytes)] {
        if (!open_)
            return;
        pending_ += bytes;
        commEvent_ = comm_event::kReceive;
        raiseOnComm();
    });
}

void SimSerialPort::loseDeviceAt(Millis at)
{
    loop_.postAt(at, [this] {
        if (std::exchange(open_, false)) {
            pending_.clear();
            commEvent_ = comm_event::kDeviceLost;
            raiseOnComm();
        }
    });
}

Writes SimSerialPort::valueRequests() const
{
    Writes out;
    for (const auto& [at, bytes] : writes)
        if (bytes.size() >= 5 && bytes[0] == '\r' && bytes.find("V0") != std::string::npos)
            out.push_back({at, bytes.substr(bytes.find("V0"), 3)});
    return out;
}

void AppFixture::write(const QString& name, const QByteArray& bytes) const
{
    QFile f(path(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + name.toStdString());
}

MonitorPresenter& AppFixture::start(const QByteArray& settings)
{
    if (!settings.isEmpty())
        write(QStringLiteral("quellmark.ini"), settings);
    const ProgramPaths paths{"quellmark", QFile::encodeName(tmp.path())};
    form = std::make_unique<MonitorPresenter>(
        Platform{loop, port, *this, *this, *this, paths, locale, defaultSound});
    form->statusLine.setObserver(this);
    form->load();
    return *form;
}

MonitorPresenter& AppFixture::startWith(const QByteArray& firstLine)
{
    port.answering = true;
    return start(settingsWithFirstLine(firstLine));
}

void AppFixture::send(const std::string& bytes)
{
    port.receiveAt(loop.now(), bytes);
    loop.runFor(0);
}

QByteArray AppFixture::file(const QString& name) const
{
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Millis AppFixture::shownAt(const QString& text) const
{
    for (const auto& [at, shown] : status)
        if (shown == text)
            return at;
    return -1;
}

int AppFixture::timesShown(const QString& text) const
{
    int n = 0;
    for (std::size_t i = 0; i < status.size(); ++i)
        n += status[i].second == text && (i == 0 || status[i - 1].second != text);
    return n;
}

Dialogs::Answer AppFixture::askYesNoCancel(const QString& prompt, const QString& title)
{
    ++questions;
    if (prompt != QStringLiteral("Do you want to close/exit App ?") ||
        title != QStringLiteral("Exit Dialog"))
        throw std::logic_error("an unexpected question");
    if (answers.empty())
        return Answer::Cancel;
    const Answer a = answers.front();
    answers.pop_front();
    return a;
}

} // namespace qm::test
