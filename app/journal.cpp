#include "app/journal.h"

#include "base/files.h"
#include "base/numbers.h"

#include <QByteArrayList>

#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qm {

namespace {

bool g_withPriority = false;
bool g_holding = false;
QByteArray g_failureLine;
QByteArrayList g_held;

void writeLine(const QByteArray& line)
{
    writeAll(STDERR_FILENO, std::string_view(line.constData(), std::size_t(line.size())));
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QByteArray line = journalLine(type, context.category, message, g_withPriority);
    if (g_holding && type == QtFatalMsg) {
        writeLine(g_failureLine);
        ::_exit(1);
    }
    if (g_holding)
        g_held.append(line);
    else
        writeLine(line);
}

bool parseNumber(const char* first, const char* last, quint64& out)
{
    const auto n = readNumber<quint64>(std::string_view(first, std::size_t(last - first)), 0,
                                       std::numeric_limits<quint64>::max());
    if (n)
        out = *n;
    return n.has_value();
}

} // namespace

int syslogPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 7;
    case QtInfoMsg:
        return 6;
    case QtWarningMsg:
        return 4;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 2;
    }
    return 6;
}

QByteArray journalLine(QtMsgType type, const char* category, const QString& message,
                       bool withPriority)
{
    QByteArray line;
    if (withPriority)
        line += '<' + QByteArray::number(syslogPriority(type)) + '>';
    const bool named = category && *category && qstrcmp(category, "default") != 0;
    line += named ? QByteArray(category) : QByteArray("quellmark");
    line += ": ";
    QByteArray text = message.toUtf8();
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    line += text;
    line += '\n';
    return line;
}

bool isJournalStream(const QByteArray& journalStream, quint64 dev, quint64 ino)
{
    const qsizetype colon = journalStream.indexOf(':');
    if (colon < 0)
        return false;
    quint64 d = 0;
    quint64 i = 0;
    const char* s = journalStream.constData();
    return parseNumber(s, s + colon, d) &&
           parseNumber(s + colon + 1, s + journalStream.size(), i) && d == dev && i == ino;
}

void installJournalHandler()
{
    struct stat st {};
    g_withPriority = ::fstat(STDERR_FILENO, &st) == 0 &&
                     isJournalStream(qgetenv("JOURNAL_STREAM"), st.st_dev, st.st_ino);
    qInstallMessageHandler(handleMessage);
}

void holdMessagesWhileConnecting(const QByteArray& failureLine)
{
    g_failureLine = failureLine;
    g_holding = true;
}

void releaseHeldMessages()
{
    g_holding = false;
    for (const QByteArray& line : std::exchange(g_held, {}))
        writeLine(line);
}

} // namespace qm
