#include "device/port_list.h"

#include "base/files.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

std::vector<QByteArray> entries(const QByteArray& dir)
{
    std::vector<QByteArray> out;
    if (DIR* d = ::opendir(dir.constData())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                out.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

std::vector<SerialDevice> describeDevices(std::vector<SerialDevice> found,
                                          const QByteArray& devRoot)
{
    const QByteArray byId = devRoot + "/serial/by-id";
    for (SerialDevice& d : found) {
        const QByteArray real = realPath(QFile::encodeName(d.path));
        for (const QByteArray& name : entries(byId))
            if (!real.isEmpty() && realPath(byId + '/' + name) == real)
                d.stableName = QFile::decodeName(byId + '/' + name);
        if (::access(QFile::encodeName(d.path).constData(), R_OK | W_OK) != 0)
            d.problem = errno == EACCES
                            ? QStringLiteral("no permission: add yourself to the dialout group")
                            : QString::fromLocal8Bit(std::strerror(errno));
    }
    return found;
}

std::vector<PortLink> portLinks(const QByteArray& programDir)
{
    std::vector<PortLink> out;
    for (const QByteArray& name : entries(programDir + "/ports")) {
        bool ok = false;
        const int n = name.startsWith("com") ? name.mid(3).toInt(&ok) : 0;
        char target[4096];
        const ssize_t len =
            ::readlink((programDir + "/ports/" + name).constData(), target, sizeof target - 1);
        if (!ok || n < 1 || len < 0)
            continue;
        out.push_back({n, QFile::decodeName(QByteArray(target, len)),
                       realPath(programDir + "/ports/" + name).isEmpty()});
    }
    std::sort(out.begin(), out.end(),
              [](const PortLink& a, const PortLink& b) { return a.number < b.number; });
    return out;
}

bool makePortLink(const QByteArray& programDir, int number, const QString& target, QString& error)
{
    const QByteArray ports = programDir + "/ports",
                     link = ports + "/com" + QByteArray::number(number);
    const QByteArray temp = link + ".new";
    ::unlink(temp.constData());
    if ((::mkdir(ports.constData(), 0777) != 0 && errno != EEXIST) ||
        ::symlink(QFile::encodeName(target).constData(), temp.constData()) != 0 ||
        ::rename(temp.constData(), link.constData()) != 0) {
        error = QStringLiteral("Cannot make port link ") + QFile::decodeName(link) +
                QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temp.constData());
        return false;
    }
    return true;
}

QString deviceText(const SerialDevice& d)
{
    QStringList words{d.path};
    for (const QString& s : {d.stableName, d.description, d.manufacturer, d.serialNumber})
        if (!s.isEmpty())
            words << s;
    if (!d.problem.isEmpty())
        words << QLatin1Char('(') + d.problem + QLatin1Char(')');
    return words.join(QStringLiteral("  "));
}

QString portListText(const std::vector<PortLink>& links, const std::vector<SerialDevice>& devices)
{
    QString out = links.empty() ? QStringLiteral("No COM port links (ports/com<n>).\n")
                                : QStringLiteral("COM ports:\n");
    for (const PortLink& l : links)
        out += QStringLiteral("  COM%1 -> %2%3\n")
                   .arg(l.number)
                   .arg(l.target, l.dangling ? QStringLiteral(" (missing)") : QString());
    out += devices.empty() ? QStringLiteral("No serial devices found.\n")
                           : QStringLiteral("Serial devices:\n");
    for (const SerialDevice& d : devices)
        out += QStringLiteral("  ") + deviceText(d) + QLatin1Char('\n');
    return out;
}

} // namespace qm
