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
    ComPort = s.ComPort;
    Baud = s.Baud;
    DevId = s.DevId;
    STime = s.STime;
    RVnr = s.RVnr;
    BPass = s.BPass;
    LogOn = s.LogOn;
    WavOn = s.WavOn;
    for (SetIdx = 1; SetIdx <= 8; ++SetIdx) {
        const int i = SetIdx;
        MyLabel[i] = s.MyLabel[i];
        VColor[i] = s.VColor[i];
        Nr1[i] = s.Nr1[i];
        Nr2[i] = s.Nr2[i];
        OutName[i] = s.OutName[i];
        SetHi[i] = s.SetHi[i];
        SetLo[i] = s.SetLo[i];
    }
}

void MainForm::LoadSettings()
{
    IniFile = paths_.file(paths_.name + ".ini");
    settingsNotes_.clear();
    const std::optional<SettingsValues> fromFile = readSettingsFile(IniFile, settingsNotes_);
    SettingsValues s = fromFile ? *fromFile : defaultSettings();

    // A port number or settings text the serial layer rejects counts as a read
    // failure: the defaults apply and are shown instead.
    for (bool usingDefaults = !fromFile;; usingDefaults = true) {
        useSettings(s);

        txtSet1[1].setText(QString::number(ComPort));
        const int portError = port_.setCommPort(ComPort);
        txtSet1[2].setText(QString::fromLatin1(Baud));
        const int settingsError = port_.setSettings(Baud + ",N,8,1");
        if ((portError || settingsError) && !usingDefaults) {
            const QString text = QString::fromUtf8(IniFile) +
                                 QStringLiteral(": the port refuses COM%1 at %2 - defaults used")
                                     .arg(ComPort)
                                     .arg(QString::fromLatin1(Baud));
            qCWarning(lcSettings).noquote() << text;
            settingsNotes_.append(QStringLiteral("Settings file ") + text);
            s = defaultSettings();
            continue;
        }
        break;
    }

    showStatusToolTip({});
    txtSet1[3].setText(QString::fromLatin1(DevId));
    txtSet1[4].setText(QString::number(STime));
    if (STime == 0)
        StTimer.setEnabled(false);
    txtSet1[5].setText(QString::number(RVnr));
    txtBPass.setText(QString::fromLatin1(BPass));
    Chk1.setChecked(LogOn == 1);
    Chk2.setChecked(WavOn == 1);
    for (SetIdx = 1; SetIdx <= 8; ++SetIdx) {
        const int i = SetIdx;
        txtSetLabel1[i].setText(QString::fromLatin1(MyLabel[i]));
        lblMyLbl1[i].setText(QString::fromLatin1(MyLabel[i]));
        txtSetColor1[i].setText(QString::fromLatin1(VColor[i]));
        lblDIS[i].setForeColor(colorForLetter(VColor[i]));
        txtSetNR1[i].setText(displayForm(Nr1[i], locale_));
        txtSetNR2[i].setText(displayForm(Nr2[i], locale_));
        txtOutName[i].setText(QString::fromLatin1(OutName[i]));
        cmdOut[i].setText(QString::fromLatin1(OutName[i]));
        txtSetHi[i].setText(displayForm(SetHi[i], locale_));
        txtSetLo[i].setText(displayForm(SetLo[i], locale_));
    }
}

} // namespace qm
