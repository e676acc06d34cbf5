#include "tests/support/app_fixture.h"

#include <QFile>

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

MonitorPresenter& AppFixture::start(const QByteArray& settings)
{
    if (!settings.isEmpty())
        write(QStringLiteral("quellmark.ini"), settings);
    form = std::make_unique<MonitorPresenter>(
        Platform{loop, port, *this, *this, paths(), locale, defaultSound}, *this);
    form->statusLine.setObserver(this);
    form->load();
    return *form;
}

MonitorPresenter& AppFixture::startWith(const QByteArray& firstLine)
{
    port.answering = true;
    return start(settingsWithFirstLine(firstLine));
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
