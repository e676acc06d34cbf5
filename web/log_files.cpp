#include "web/log_files.h"

#include "app/files.h"
#include "trend/csv_export.h"
#include "trend/day_clock.h"
#include "web/json.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace qm {

namespace {

constexpr std::size_t kMaxLogFile = std::size_t(1) << 30;

// "yymmdd.txt" to its date; invalid for any other name.
QDate dateOfName(const QByteArray& name)
{
    if (name.size() != 10 || !name.endsWith(".txt"))
        return {};
    for (int i = 0; i < 6; ++i)
        if (name[i] < '0' || name[i] > '9')
            return {};
    return QDate(2000 + name.left(2).toInt(), name.mid(2, 2).toInt(), name.mid(4, 2).toInt());
}

} // namespace

std::vector<LogFile> listLogFiles(const QByteArray& logDir)
{
    std::vector<LogFile> out;
    DIR* dir = ::opendir(logDir.constData());
    if (!dir)
        return out;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        const QDate date = dateOfName(name);
        struct stat st {};
        if (!date.isValid() || ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        out.push_back({name, date, qint64(st.st_size)});
    }
    ::closedir(dir);
    std::sort(out.begin(), out.end(),
              [](const LogFile& a, const LogFile& b) { return a.date > b.date; });
    return out;
}

const LogFile* findLogFile(const std::vector<LogFile>& files, const QByteArray& name)
{
    for (const LogFile& f : files)
        if (f.name == name)
            return &f;
    return nullptr;
}

QByteArray logListJson(const std::vector<LogFile>& files)
{
    QByteArray out = "{\"files\":[";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const LogFile& f = files[i];
        const QString name = QString::fromLatin1(f.name);
        if (i > 0)
            out += ',';
        out += "{\"name\":" + json::string(name) +
               ",\"date\":" + json::string(f.date.toString(Qt::ISODate)) +
               ",\"size\":" + json::number(f.size) +
               ",\"url\":" + json::string(QStringLiteral("/logs/") + name) + ",\"csv_url\":" +
               json::string(QStringLiteral("/logs/") + name + QStringLiteral(".csv")) + '}';
    }
    return out + "]}";
}

std::optional<QByteArray> readLogFile(const QByteArray& logDir, const LogFile& file)
{
    const QByteArray path = logDir + '/' + file.name;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const std::optional<std::string> bytes = readRegularFile(path, kMaxLogFile);
    if (!bytes)
        return std::nullopt;
    return QByteArray::fromStdString(*bytes);
}

QByteArray dayCsv(const QByteArray& logDir, const LogFile& file, const Snapshot& snap)
{
    ChannelArray<String> labels{};
    ChannelArray<Single> setHi{}, setLo{};
    for (const WebState::Channel& c : snap.state.channels) {
        labels[c.index] = c.label.toLatin1().toStdString();
        setHi[c.index] = Single(c.setHi);
        setLo[c.index] = Single(c.setLo);
    }
    const int channels = std::max(1, int(snap.state.channels.size()));
    const qint64 from = DayClock(file.date).midnight();
    const qint64 to = DayClock(file.date.addDays(1)).midnight();
    return QByteArray::fromStdString(historyCsv(logDir, from, to, labels, setHi, setLo, channels));
}

} // namespace qm
