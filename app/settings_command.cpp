#include "app/settings_command.h"

#include "base/files.h"
#include "settings/settings_entries.h"

#include <QLocale>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/stat.h>

namespace qm {

namespace {

constexpr std::size_t kMaxSettingsFileSize = 1 << 20;

// The settings in the file, the defaults when there is no file; nothing (and
// `why`) when something is there that is not a settings file: it is not
// overwritten unread.
std::optional<SettingsValues> currentSettings(const QByteArray& iniFile, QString& why)
{
    struct stat st {};
    if (::lstat(iniFile.constData(), &st) != 0 && errno == ENOENT)
        return defaultSettings();
    const std::optional<std::string> bytes = readRegularFile(iniFile, kMaxSettingsFileSize);
    const std::optional<SettingsValues> values =
        bytes ? parseSettingsFile(*bytes) : std::optional<SettingsValues>();
    if (!values)
        why = QString::fromUtf8(iniFile) +
              (bytes ? QStringLiteral(" is not a valid settings file")
                     : QStringLiteral(" cannot be read as a settings file"));
    return values;
}

} // namespace

CommandResult showSettings(const QByteArray& iniFile)
{
    QString why;
    const std::optional<SettingsValues> s = currentSettings(iniFile, why);
    if (!s)
        return {1, {}, why + QStringLiteral(": the program uses the defaults\n")};
    return {0,
            QStringLiteral("# ") + QString::fromUtf8(iniFile) + QLatin1Char('\n') +
                settingsListing(*s),
            {}};
}

CommandResult setSettings(const QByteArray& iniFile, const QStringList& assignments)
{
    QString why;
    const std::optional<SettingsValues> before = currentSettings(iniFile, why);
    if (!before)
        return {1, {}, why + QStringLiteral("; nothing changed (mend or remove it first)\n")};
    SettingsValues after = *before;
    for (const QString& assignment : assignments) {
        const qsizetype eq = assignment.indexOf(QLatin1Char('='));
        const QString key = assignment.left(eq);
        const std::optional<SettingsEntry> entry = entryForKey(key);
        if (eq < 0 || !entry)
            return {2,
                    {},
                    QStringLiteral("--set %1: not KEY=VALUE with a key of --show-settings; "
                                   "nothing changed\n")
                        .arg(assignment)};
        const QString refused = takeEntry(after, *entry, assignment.mid(eq + 1), QLocale::c());
        if (!refused.isEmpty())
            return {
                2, {}, QStringLiteral("--set %1: %2; nothing changed\n").arg(assignment, refused)};
    }
    finishEntries(after);
    if (!replaceFile(iniFile, writeSettingsFile(after)))
        return {1,
                {},
                QStringLiteral("cannot write %1: %2; nothing changed\n")
                    .arg(QString::fromUtf8(iniFile), QString::fromLocal8Bit(std::strerror(errno)))};
    const QStringList changes = settingsChanges(*before, after);
    return {0,
            (changes.isEmpty() ? QStringLiteral("nothing changed") : changes.join('\n')) +
                QStringLiteral("\nsaved ") + QString::fromUtf8(iniFile) + QLatin1Char('\n'),
            {}};
}

} // namespace qm
