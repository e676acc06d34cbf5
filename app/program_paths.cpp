#include "app/program_paths.h"

#include <QDir>
#include <QFileInfo>

namespace qm {

ProgramPaths programPathsFromStartPath(const QString& startPath, const QString& pathEnv,
                                       const QString& cwd)
{
    QString path = startPath;
    if (!path.contains(QLatin1Char('/'))) {
        const QStringList dirs = pathEnv.split(QLatin1Char(':'));
        for (const QString& d : dirs) {
            const QString dir = d.isEmpty() ? cwd : d;
            const QFileInfo candidate(QDir(dir).filePath(startPath));
            if (candidate.exists() && candidate.isExecutable() && !candidate.isDir()) {
                path = candidate.filePath();
                break;
            }
        }
    }
    if (QDir::isRelativePath(path))
        path = QDir(cwd).filePath(path);

    const QFileInfo info(path);
    ProgramPaths p;
    p.name = info.completeBaseName();
    // Without following links: the directory the start path names.
    p.dir = QDir::cleanPath(info.absolutePath());
    return p;
}

} // namespace qm
