#include "app/files.h"
#include "app/log_categories.h"
#include "app/main_form.h"
#include "app/numbers.h"
#include "settings/settings_file.h"

#include <sys/stat.h>

namespace qm {

namespace {

// A finding about the settings file: to the journal, and noted for the status
// line's tooltip.
void tellSettingsNote(const QString& text, QStringList& notes)
{
    qCWarning(lcSettings).noquote() << text;
    notes.append(QStringLiteral("Settings file ") + text);
}

// The settings file is small; anything much larger is not ours.
constexpr std::size_t kMaxSettingsFileSize = 1 << 20;

// Only a regular file is read: anything else (a FIFO, a device) is as good as
// a missing file, and never blocks the start.
// A file that is there but cannot be used, or holds what looks wrong, is told
// to the journal and noted in `notes` (for the status line's tooltip), each
// finding naming its line; a missing one is the first start.
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

} // namespace

void MainForm::loadSettings()
{
    settingsFile = paths_.file(paths_.name + ".ini");
    settingsNotes_.clear();
    const std::optional<SettingsValues> fromFile = readSettingsFile(settingsFile, settingsNotes_);
    takeSettings(fromFile ? *fromFile : defaultSettings(), fromFile.has_value());
}

void MainForm::takeSavedSettings(const SettingsValues& saved)
{
    settingsNotes_.clear();
    for (const std::string& note : settingsValueNotes(saved))
        tellSettingsNote(QString::fromUtf8(settingsFile) + QStringLiteral(": ") +
                             QString::fromStdString(note),
                         settingsNotes_);
    takeSettings(saved, true);
}

void MainForm::takeSettings(SettingsValues s, bool fromFile)
{
    // A port number or settings text the serial layer rejects counts as a read
    // failure: the defaults apply and are shown instead.
    for (bool usingDefaults = !fromFile;; usingDefaults = true) {
        comPortBox.setText(QString::number(s.comPort));
        baudBox.setText(QString::fromLatin1(s.baud));
        if (!monitor_.usePortSettings(s) && !usingDefaults) {
            tellSettingsNote(QString::fromUtf8(settingsFile) +
                                 QStringLiteral(": the port refuses COM%1 at %2 - defaults used")
                                     .arg(monitor_.settings.comPort)
                                     .arg(QString::fromLatin1(monitor_.settings.baud)),
                             settingsNotes_);
            s = defaultSettings();
            continue;
        }
        break;
    }
    showSettings();
}

void MainForm::showStatusToolTip(const QString& portNote)
{
    QStringList notes = settingsNotes_;
    if (!portNote.isEmpty())
        notes.append(portNote);
    statusLine.setToolTip(notes.join(QLatin1Char('\n')));
}

void MainForm::showSettings()
{
    showStatusToolTip({});
    deviceIdBox.setText(QString::fromLatin1(monitor_.settings.deviceId));
    sampleTimeBox.setText(QString::number(monitor_.settings.sampleTime));
    if (monitor_.settings.sampleTime == 0)
        monitor_.sampleClock.setEnabled(false);
    valueCountBox.setText(QString::number(monitor_.settings.valueCount));
    passwordBox.setText(QString::fromLatin1(monitor_.settings.password));
    logCheck.setChecked(monitor_.settings.logOn == 1);
    soundCheck.setChecked(monitor_.settings.soundOn == 1);
    for (int i = 1; i <= kChannels; ++i) {
        labelBoxes[i].setText(QString::fromLatin1(monitor_.settings.labels[i]));
        labelDisplays[i].setText(QString::fromLatin1(monitor_.settings.labels[i]));
        colourBoxes[i].setText(QString::fromLatin1(monitor_.settings.colours[i]));
        valueDisplays[i].setForeColor(colorForLetter(monitor_.settings.colours[i]));
        offsetBoxes[i].setText(displayForm(monitor_.settings.offsets[i], locale_));
        factorBoxes[i].setText(displayForm(monitor_.settings.factors[i], locale_));
        setHiBoxes[i].setText(displayForm(monitor_.settings.setHi[i], locale_));
        setLoBoxes[i].setText(displayForm(monitor_.settings.setLo[i], locale_));
    }
}

} // namespace qm
