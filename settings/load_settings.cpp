#include "settings/load_settings.h"
#include "base/files.h"
#include "base/log_categories.h"

#include <sys/stat.h>

namespace qm {

// A finding about the settings file: to the journal, and noted for the status
// line's tooltip.
void tellSettingsNote(const QString& text, QStringList& notes)
{
    qCWarning(lcSettings).noquote() << text;
    notes.append(QStringLiteral("Settings file ") + text);
}

namespace {

// The settings file is small; anything much larger is not ours.
constexpr std::size_t kMaxSettingsFileSize = 1 << 20;

} // namespace

std::optional<SettingsValues> readSettingsFile(const QByteArray& path, QStringList& notes)
{
    const QString name = QString::fromUtf8(path);
    const std::optional<std::string> bytes = readRegularFile(path, kMaxSettingsFileSize);
    struct stat st {};
    if (!bytes && ::stat(path.constData(), &st) != 0) {
        qCInfo(lcSettings).noquote() << "no settings file" << name << "- defaults used";
        return std::nullopt;
    }
    const auto tell = [&notes](const QString& text) { tellSettingsNote(text, notes); };
    if (!bytes) {
        tell(name + QStringLiteral(" could not be read - defaults used"));
        return std::nullopt;
    }
    const SettingsRead read = readSettings(*bytes);
    if (!read.values)
        tell(name + QStringLiteral(" is not a valid settings file: ") +
             QString::fromStdString(read.failure) + QStringLiteral(" - defaults used"));
    for (const std::string& note : read.notes)
        tell(name + QStringLiteral(": ") + QString::fromStdString(note));
    if (::stat(path.constData(), &st) == 0 && std::size_t(st.st_size) > kMaxSettingsFileSize)
        tell(name + QStringLiteral(": only the first %1 of its %2 bytes are read")
                        .arg(kMaxSettingsFileSize)
                        .arg(st.st_size));
    return read.values;
}

} // namespace qm
