#include "app/files.h"
#include "app/log_categories.h"
#include "app/main_form.h"
#include "device/serial_port.h"
#include "settings/settings_entries.h"

#include <cerrno>
#include <cstring>

namespace qm {

namespace {

using Field = SettingsEntry::Field;

// The box an entry is typed in: the Set panel's or a channel panel's. The
// output names have none: no window shows them.
Control& boxOf(MainForm& f, const SettingsEntry& e)
{
    const int i = e.channel;
    switch (e.field) {
    case Field::ComPort:
        return f.comPortBox;
    case Field::Baud:
        return f.baudBox;
    case Field::DeviceId:
        return f.deviceIdBox;
    case Field::SampleTime:
        return f.sampleTimeBox;
    case Field::ValueCount:
        return f.valueCountBox;
    case Field::Password:
        return f.passwordBox;
    case Field::LogOn:
        return f.logCheck;
    case Field::SoundOn:
        return f.soundCheck;
    case Field::Label:
        return f.labelBoxes[i];
    case Field::Color:
        return f.colourBoxes[i];
    case Field::Offset:
        return f.offsetBoxes[i];
    case Field::Factor:
        return f.factorBoxes[i];
    case Field::OutputName: // has no box: taken before
        break;
    case Field::SetHi:
        return f.setHiBoxes[i];
    case Field::SetLo:
        return f.setLoBoxes[i];
    }
    return f.passwordBox; // not reached
}

} // namespace

std::optional<SettingsValues> MainForm::settingsFromBoxes()
{
    SettingsValues s;
    s.password = monitor_.settings.password;
    for (const SettingsEntry& e : settingsEntries()) {
        if (e.field == Field::OutputName) { // kept as the file has them
            s.outputNames[e.channel] = monitor_.settings.outputNames[e.channel];
            continue;
        }
        Control& box = boxOf(*this, e);
        if (box.kind() == ControlKind::CheckBox) {
            (e.field == Field::LogOn ? s.logOn : s.soundOn) = box.checked() ? 1 : 0;
            continue;
        }
        if (e.field == Field::Password && !box.enabled()) // shown, never edited
            continue;
        if (!takeEntry(s, e, box.text(), locale_).isEmpty()) {
            const QString message = QStringLiteral("Invalid entry in ") + e.caption() +
                                    QStringLiteral(": ") + box.text();
            // The box keeps the reason until it is edited, so the refusal stays in
            // sight after the status line has moved on.
            box.setError(message);
            statusLine.setBackColor(colors::kStatusFailure);
            statusLine.setText(message);
            return std::nullopt;
        }
    }
    finishEntries(s);
    return s;
}

void MainForm::showSettingsUnwritable()
{
    const QString message = QStringLiteral("Cannot write settings file ") +
                            QString::fromUtf8(settingsFile) + QStringLiteral(": ") +
                            QString::fromLocal8Bit(std::strerror(errno));
    qCWarning(lcSettings).noquote() << message;
    statusLine.setBackColor(colors::kStatusFailure);
    statusLine.setText(message);
    // Every save button fails alike until the file can be written: each
    // keeps the reason in sight. SAVE-CLOSE pressed again leaves the
    // panel without saving.
    saveCloseButton.setError(
        message + QStringLiteral(" - SAVE-CLOSE again closes the panel without saving."));
    for (int i = 1; i <= kChannels; ++i)
        saveButtons[i].setError(message);
}

bool MainForm::saveSettings()
{
    // The marks of the last attempt go; this one marks what it refuses.
    forEachControl([](Control& c) { c.setError({}); });

    // Every box is read and converted before anything changes; the first
    // entry that is not valid stops it and stays marked.
    const std::optional<SettingsValues> s = settingsFromBoxes();
    if (!s) {
        lastSave_ = SaveOutcome::Refused;
        return false;
    }

    // Written beside the old file and renamed over it: a crash or a full disk
    // leaves the previous file whole.
    if (!replaceFile(settingsFile, writeSettingsFile(*s))) {
        lastSave_ = SaveOutcome::Unwritable;
        showSettingsUnwritable();
        return false;
    }

    if (reconnectAfterSave)
        monitor_.link().close();

    lastSave_ = SaveOutcome::Saved;
    monitor_.settings = *s;

    if (reconnectAfterSave)
        startOver(*s);
    return true;
}

} // namespace qm
