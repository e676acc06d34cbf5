#pragma once

#include "sampling/platform.h"

#include <QByteArray>

namespace qm {

// Qt and the audio library keep small runtime files (sockets, a cookie) in
// the session's runtime folder (XDG_RUNTIME_DIR) and under $HOME. A service
// or a board without a login has no such folder, and its home may be
// missing or not its own. There the instance gets one of its own, so that
// nothing is written outside the instance folder: systemd's
// RUNTIME_DIRECTORY where the unit makes one (its first folder), else
// <dir>/<name>Run, made private (0700). XDG_RUNTIME_DIR and the audio
// library's configuration folder (PULSE_CONFIG_PATH) are pointed there; a
// session's own runtime folder is kept as it is. Call before the
// application object is made. Returns the folder taken, empty when none.
QByteArray useInstanceRuntimeFolder(const ProgramPaths& paths);

} // namespace qm
