#include "app/runtime_folder.h"

#include <QtGlobal>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

QByteArray useInstanceRuntimeFolder(const ProgramPaths& paths)
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return {};
    QByteArray folder = qgetenv("RUNTIME_DIRECTORY");
    folder.truncate(folder.indexOf(':') < 0 ? folder.size() : folder.indexOf(':'));
    if (folder.isEmpty()) {
        folder = paths.file(paths.name + "Run");
        if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
            return {};
    }
    // Qt takes it only when it is the user's own and private.
    struct stat st {};
    if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return {};
    if ((st.st_mode & 077) != 0 && ::chmod(folder.constData(), 0700) != 0)
        return {};
    qputenv("XDG_RUNTIME_DIR", folder);
    qputenv("PULSE_CONFIG_PATH", folder + "/pulse");
    return folder;
}

} // namespace qm
