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

// The box an entry is typed in: the Set panel's, a channel panel's, or the
// hidden output names'.
Control& boxOf(MainForm& f, const SettingsEntry& e)
{
    const int i = e.channel;
    switch (e.field) {
    case Field::ComPort:
        return f.txtSet1[1];
    case Field::Baud:
        return f.txtSet1[2];
    case Field::DevId:
        return f.txtSet1[3];
    case Field::STime:
        return f.txtSet1[4];
    case Field::RVnr:
        return f.txtSet1[5];
    case Field::BPass:
        return f.txtBPass;
    case Field::LogOn:
        return f.Chk1;
    case Field::WavOn:
        return f.Chk2;
    case Field::Label:
        return f.txtSetLabel1[i];
    case Field::Color:
        return f.txtSetColor1[i];
    case Field::Nr1:
        return f.txtSetNR1[i];
    case Field::Nr2:
        return f.txtSetNR2[i];
    case Field::OutName:
        return f.txtOutName[i];
    case Field::SetHi:
        return f.txtSetHi[i];
    case Field::SetLo:
        return f.txtSetLo[i];
    }
    return f.txtBPass; // not reached
}

} // namespace

bool MainForm::SaveSettings()
{
    // The marks of the last attempt go; this one marks what it refuses.
    forEachControl([](Control& c) { c.setError({}); });

    // Every box is read and converted before anything changes; the first
    // entry that is not valid stops it and stays marked.
    SettingsValues s;
    s.BPass = BPass;
    for (const SettingsEntry& e : settingsEntries()) {
        Control& box = boxOf(*this, e);
        if (box.kind() == ControlKind::CheckBox) {
            (e.field == Field::LogOn ? s.LogOn : s.WavOn) = box.checked() ? 1 : 0;
            continue;
        }
        if (e.field == Field::BPass && !box.enabled()) // shown, never edited
            continue;
        if (!takeEntry(s, e, box.text(), locale_).isEmpty()) {
            const QString message = QStringLiteral("Invalid entry in ") + e.caption() +
                                    QStringLiteral(": ") + box.text();
            // The box keeps the reason until it is edited, so the refusal stays in
            // sight after the status line has moved on.
            box.setError(message);
            lblStatus.setBackColor(colors::kStatusFailure);
            lblStatus.setText(message);
            lastSave_ = SaveOutcome::Refused;
            return false;
        }
    }
    finishEntries(s);

    // Written beside the old file and renamed over it: a crash or a full disk
    // leaves the previous file whole.
    if (!replaceFile(IniFile, writeSettingsFile(s))) {
        lastSave_ = SaveOutcome::Unwritable;
        const QString message = QStringLiteral("Cannot write settings file ") +
                                QString::fromUtf8(IniFile) + QStringLiteral(": ") +
                                QString::fromLocal8Bit(std::strerror(errno));
        qCWarning(lcSettings).noquote() << message;
        lblStatus.setBackColor(colors::kStatusFailure);
        lblStatus.setText(message);
        // Every save button fails alike until the file can be written: each
        // keeps the reason in sight. SAVE-CLOSE pressed again leaves the
        // panel without saving.
        cmdExit.setError(message +
                         QStringLiteral(" - SAVE-CLOSE again closes the panel without saving."));
        for (int i = 1; i <= 8; ++i)
            cmdSave[i].setError(message);
        return false;
    }

    if (ReInit && port_.portOpen()) {
        (void)port_.setPortOpen(false);
        RxBuf.clear(); // a line cut off by the close must not run into the next one
    }

    lastSave_ = SaveOutcome::Saved;
    useSettings(s);

    if (ReInit)
        InitApp();
    return true;
}

} // namespace qm
