#include "app/program_paths.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isExecutableFile(const QByteArray& path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.constData(), X_OK) == 0;
}

// An absolute path without "." and ".." parts or doubled slashes.
QByteArray cleanAbsolute(const QByteArray& path)
{
    QList<QByteArray> parts;
    for (const QByteArray& part : path.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    return '/' + parts.join('/');
}

} // namespace

ProgramPaths programPathsFromStartPath(const QByteArray& startPath, const QByteArray& pathEnv,
                                       const QByteArray& cwd)
{
    QByteArray path = startPath;
    if (!path.contains('/')) {
        for (const QByteArray& d : pathEnv.split(':')) {
            const QByteArray candidate = (d.isEmpty() ? cwd : d) + '/' + startPath;
            if (isExecutableFile(candidate)) {
                path = candidate;
                break;
            }
        }
    }
    if (!path.startsWith('/'))
        path = cwd + '/' + path;

    const qsizetype slash = path.lastIndexOf('/');
    ProgramPaths p;
    p.name = path.mid(slash + 1);
    p.dir = cleanAbsolute(path.left(slash));
    return p;
}

bool programDirHoldsInstance(const QByteArray& dir, uint owner, uint euid,
                             const QList<QByteArray>& systemFolders)
{
    if (owner != euid)
        return false;
    for (const QByteArray& system : systemFolders)
        if (dir == system || dir.startsWith(system + '/'))
            return false;
    return true;
}

InstanceHome instanceHome(ProgramPaths paths, const QByteArray& dataHome)
{
    InstanceHome home{paths, paths.dir, {}, false};
    struct stat st {};
    if (::stat(paths.dir.constData(), &st) != 0) {
        home.reason = QStringLiteral("it cannot be read (%1)").arg(errorText(errno));
    } else if (!programDirHoldsInstance(paths.dir, ::geteuid(), ::geteuid())) {
        home.systemFolder = true;
        home.reason = QStringLiteral("it is a system folder");
    } else if (st.st_uid != ::geteuid()) {
        home.reason = QStringLiteral("it belongs to another user");
    } else if (::access(paths.dir.constData(), W_OK) != 0) {
        home.reason = QStringLiteral("it is not writable (%1)").arg(errorText(errno));
    } else {
        return home;
    }
    home.settingsThere = ::access(paths.file(paths.name + ".ini").constData(), F_OK) == 0;
    home.paths.dir = dataHome + "/quellmark";
    QByteArray made;
    for (const QByteArray& part : home.paths.dir.split('/')) { // mkdir -p
        made += part.isEmpty() && made.isEmpty() ? QByteArray() : '/' + part;
        if (!made.isEmpty())
            ::mkdir(made.constData(), 0700);
    }
    return home;
}

QString instanceHomeNotice(const InstanceHome& home)
{
    return QStringLiteral("The files of %1 (%1.ini, %1Log/, ports/, a1.wav, mqtt.conf) are kept in "
                          "%2, not in the program's folder %3: %4.")
               .arg(home.paths.displayName(), QString::fromUtf8(home.paths.dir),
                    QString::fromUtf8(home.programDir), home.reason) +
           (home.settingsThere ? QStringLiteral(" Its settings file there, %1.ini, is not used.")
                                     .arg(home.paths.displayName())
                               : QString());
}

std::optional<ProgramPaths> instanceFolder(const QByteArray& dir, const QByteArray& cwd)
{
    const QByteArray clean = cleanAbsolute(dir.startsWith('/') ? dir : cwd + '/' + dir);
    if (clean == "/")
        return std::nullopt;
    ProgramPaths p;
    p.dir = clean;
    p.name = clean.mid(clean.lastIndexOf('/') + 1);
    return p;
}

} // namespace qm
