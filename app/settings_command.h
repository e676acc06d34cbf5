#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace qm {

// What a command that prints and exits has to say, and its exit status.
struct CommandResult {
    int status = 0;
    QString out; // for standard output
    QString err; // for standard error
};

// --show-settings: the settings in the file `iniFile` (the defaults when
// there is none), a "key=value" line each, the keys of --set; a first line,
// a comment, names the file.
CommandResult showSettings(const QByteArray& iniFile);

// --set KEY=VALUE, repeatable: every assignment is taken as the Set panel
// takes its boxes (numbers with "." as in the files, whatever the locale),
// the whole file is then written in one step and each change is told:
// "stime: 30 -> 10". Status 2 naming the first key refused and why (nothing
// written); 1 when the file there is not a settings file or cannot be
// written.
CommandResult setSettings(const QByteArray& iniFile, const QStringList& assignments);

} // namespace qm
