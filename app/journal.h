#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace qm {

// The program's diagnostics: Qt's messages (the logging categories of
// base/log_categories.h) written one line each on standard error. When
// standard error is the journal (JOURNAL_STREAM names it), each line starts
// with its syslog priority, which the journal takes as the entry's level.

// The syslog priority of a message type: debug 7, info 6, warning 4,
// critical 3, fatal 2.
int syslogPriority(QtMsgType type);

// One line: "<category>: <message>" ("quellmark: <message>" for Qt's default
// category), line breaks and other control characters of the message turned
// into blanks so that one event stays one line; with `withPriority` the
// priority in front ("<4>quellmark.alarm: ...").
QByteArray journalLine(QtMsgType type, const char* category, const QString& message,
                       bool withPriority);

// Whether JOURNAL_STREAM ("<device>:<inode>", in decimal) names the stream
// with device `dev` and inode `ino`.
bool isJournalStream(const QByteArray& journalStream, quint64 dev, quint64 ino);

// Installs the message handler on standard error; it looks at JOURNAL_STREAM
// and standard error now.
void installJournalHandler();

// While a display is connected: Qt's messages are held back; a fatal one
// (no display could be reached) writes `failureLine` alone instead and ends
// the program with status 1, never with an abort. releaseHeldMessages()
// writes what was held and ends the holding.
void holdMessagesWhileConnecting(const QByteArray& failureLine);
void releaseHeldMessages();

} // namespace qm
