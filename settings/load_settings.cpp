#include "app/files.h"
#include "app/log_categories.h"
#include "app/main_form.h"
#include "app/numbers.h"
#include "device/serial_port.h"
#include "settings/settings_file.h"

#include <sys/stat.h>

namespace qm {

namespace {

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
    const auto tell = [&](const QString& text) {
        qCWarning(lcSettings).noquote() << text;
        notes.append(QStringLiteral("Settings file ") + text);
    };
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

void MainForm::useSettings(const SettingsValues& s)
{
    comPort = s.comPort;
    baud = s.baud;
    deviceId = s.deviceId;
    sampleTime = s.sampleTime;
    valueCount = s.valueCount;
    password = s.password;
    logOn = s.logOn;
    soundOn = s.soundOn;
    for (int i = 1; i <= kChannels; ++i) {
        labels[i] = s.labels[i];
        colours[i] = s.colours[i];
        offsets[i] = s.offsets[i];
        factors[i] = s.factors[i];
        outputNames[i] = s.outputNames[i];
        setHi[i] = s.setHi[i];
        setLo[i] = s.setLo[i];
    }
}

void MainForm::loadSettings()
{
    settingsFile = paths_.file(paths_.name + ".ini");
    settingsNotes_.clear();
    const std::optional<SettingsValues> fromFile = readSettingsFile(settingsFile, settingsNotes_);
    SettingsValues s = fromFile ? *fromFile : defaultSettings();

    // A port number or settings text the serial layer rejects counts as a read
    // failure: the defaults apply and are shown instead.
    for (bool usingDefaults = !fromFile;; usingDefaults = true) {
        useSettings(s);

        comPortBox.setText(QString::number(comPort));
        const int portError = port_.setCommPort(comPort);
        baudBox.setText(QString::fromLatin1(baud));
        const int settingsError = port_.setSettings(baud + ",N,8,1");
        if ((portError || settingsError) && !usingDefaults) {
            const QString text = QString::fromUtf8(settingsFile) +
                                 QStringLiteral(": the port refuses COM%1 at %2 - defaults used")
                                     .arg(comPort)
                                     .arg(QString::fromLatin1(baud));
            qCWarning(lcSettings).noquote() << text;
            settingsNotes_.append(QStringLiteral("Settings file ") + text);
            s = defaultSettings();
            continue;
        }
        break;
    }

    showStatusToolTip({});
    deviceIdBox.setText(QString::fromLatin1(deviceId));
    sampleTimeBox.setText(QString::number(sampleTime));
    if (sampleTime == 0)
        sampleClock.setEnabled(false);
    valueCountBox.setText(QString::number(valueCount));
    passwordBox.setText(QString::fromLatin1(password));
    logCheck.setChecked(logOn == 1);
    soundCheck.setChecked(soundOn == 1);
    for (int i = 1; i <= kChannels; ++i) {
        labelBoxes[i].setText(QString::fromLatin1(labels[i]));
        labelDisplays[i].setText(QString::fromLatin1(labels[i]));
        colourBoxes[i].setText(QString::fromLatin1(colours[i]));
        valueDisplays[i].setForeColor(colorForLetter(colours[i]));
        offsetBoxes[i].setText(displayForm(offsets[i], locale_));
        factorBoxes[i].setText(displayForm(factors[i], locale_));
        setHiBoxes[i].setText(displayForm(setHi[i], locale_));
        setLoBoxes[i].setText(displayForm(setLo[i], locale_));
    }
}

} // namespace qm
