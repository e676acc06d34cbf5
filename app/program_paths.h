#pragma once

#include "app/main_form.h"

#include <QByteArray>

namespace qm {

// The program name and directory from the path the program was started under,
// as bytes. The name is the whole file name (no extension is taken off).
// Symbolic links are not followed: a link named pump2 is the instance pump2 in
// the link's directory. A start path without a directory is looked up in
// `pathEnv` (the PATH variable) as the shell did; `cwd` resolves relative paths.
ProgramPaths programPathsFromStartPath(const QByteArray& startPath, const QByteArray& pathEnv,
                                       const QByteArray& cwd);

// Where the instance keeps its files: the program directory when it may
// write there, else (an installed program, /usr/bin) `dataHome`/quellmark,
// made when missing. The name stays.
ProgramPaths instanceHome(ProgramPaths paths, const QByteArray& dataHome);

} // namespace qm
