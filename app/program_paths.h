#pragma once

#include "sampling/platform.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace qm {

// The program name and directory from the path the program was started under,
// as bytes. The name is the whole file name (no extension is taken off).
// Symbolic links are not followed: a link named pump2 is the instance pump2 in
// the link's directory. A start path without a directory is looked up in
// `pathEnv` (the PATH variable) as the shell did; `cwd` resolves relative paths.
ProgramPaths programPathsFromStartPath(const QByteArray& startPath, const QByteArray& pathEnv,
                                       const QByteArray& cwd);

// The system's program folders (and everything below them): an installed
// program never keeps an instance's files there.
inline const QList<QByteArray> kSystemFolders = {"/usr", "/bin", "/sbin", "/opt", "/usr/local"};

// Whether the program directory `dir` (absolute, clean) may hold the
// instance's files: it belongs to the effective user (`owner` == `euid`) and
// is not one of `systemFolders` or inside one. Root is no exception.
bool programDirHoldsInstance(const QByteArray& dir, uint owner, uint euid,
                             const QList<QByteArray>& systemFolders = kSystemFolders);

// Where the instance keeps its files, and why not in the program directory.
struct InstanceHome {
    ProgramPaths paths;
    QByteArray programDir; // the directory the program was started from
    // Why the program directory does not hold the files: "it is a system
    // folder", "it belongs to another user", "it is not writable (Permission
    // denied)"; empty when it holds them.
    QString reason;
    bool systemFolder = false;  // the reason is the installed program's own
    bool settingsThere = false; // the program's folder has a settings file of the name
};

// Where the instance keeps its files: the program directory when it may hold
// them (above) and is writable, else (an installed program, /usr/bin)
// `dataHome`/quellmark, made when missing. The name stays.
InstanceHome instanceHome(ProgramPaths paths, const QByteArray& dataHome);

// What the user is told when the program directory does not hold the
// instance's files: "<files> are kept in <data> because <dir>: <reason>".
QString instanceHomeNotice(const InstanceHome& home);

// The instance a folder names (--instance DIR): DIR made absolute against
// `cwd`, the name its last component. Nothing when DIR has no name ("/").
std::optional<ProgramPaths> instanceFolder(const QByteArray& dir, const QByteArray& cwd);

} // namespace qm
