#include "ui/monitor_presenter.h"

#include "base/files.h"
#include "base/log_categories.h"
#include "settings/settings_entries.h"

#include "base/numbers.h"
#include "settings/load_settings.h"

#include <cerrno>
#include <cstring>

namespace qm {

namespace {

using Field = SettingsEntry::Field;

// The box an entry is typed in: the Set panel's or a channel panel's. The
// output names have none: no window shows them.
Control& boxOf(MonitorPresenter& f, const SettingsEntry& e)
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

std::optional<SettingsValues> MonitorPresenter::settingsFromBoxes()
{
    SettingsValues s;
    s.password = monitor_.settings().password;
    for (const SettingsEntry& e : settingsEntries()) {
        if (e.field == Field::OutputName) { // kept as the file has them
            s.outputNames[e.channel] = monitor_.settings().outputNames[e.channel];
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

void MonitorPresenter::showSettingsUnwritable()
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

bool MonitorPresenter::saveSettings()
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

    if (!writeSettings(*s)) {
        lastSave_ = SaveOutcome::Unwritable;
        showSettingsUnwritable();
        return false;
    }
    lastSave_ = SaveOutcome::Saved;
    applySaved(*s, reconnectAfterSave);
    return true;
}

// Written beside the old file and renamed over it: a crash or a full disk
// leaves the previous file whole.
bool MonitorPresenter::writeSettings(const SettingsValues& s)
{
    return replaceFile(settingsFile, writeSettingsFile(s));
}

void MonitorPresenter::applySaved(const SettingsValues& s, bool reconnect)
{
    if (reconnect)
        monitor_.link().close();
    monitor_.useSettings(s);
    if (reconnect)
        startOver(s);
}

QString MonitorPresenter::saveAndApply(const SettingsValues& s)
{
    if (!writeSettings(s))
        return QStringLiteral("cannot write %1: %2")
            .arg(QString::fromUtf8(settingsFile), QString::fromLocal8Bit(std::strerror(errno)));
    applySaved(s, true);
    return {};
}

void MonitorPresenter::loadSettings()
{
    settingsFile = paths_.file(paths_.name + ".ini");
    settingsNotes_.clear();
    const std::optional<SettingsValues> fromFile = readSettingsFile(settingsFile, settingsNotes_);
    takeSettings(fromFile ? *fromFile : defaultSettings(), fromFile.has_value());
}

void MonitorPresenter::takeSavedSettings(const SettingsValues& saved)
{
    settingsNotes_.clear();
    for (const std::string& note : settingsValueNotes(saved))
        tellSettingsNote(QString::fromUtf8(settingsFile) + QStringLiteral(": ") +
                             QString::fromStdString(note),
                         settingsNotes_);
    takeSettings(saved, true);
}

void MonitorPresenter::takeSettings(SettingsValues s, bool fromFile)
{
    // A port number or settings text the serial layer rejects counts as a read
    // failure: the defaults apply and are shown instead.
    for (bool usingDefaults = !fromFile;; usingDefaults = true) {
        comPortBox.setText(QString::number(s.comPort));
        baudBox.setText(QString::fromLatin1(s.baud));
        if (!monitor_.usePortSettings(s) && !usingDefaults) {
            tellSettingsNote(QString::fromUtf8(settingsFile) +
                                 QStringLiteral(": the port refuses COM%1 at %2 - defaults used")
                                     .arg(monitor_.settings().comPort)
                                     .arg(QString::fromLatin1(monitor_.settings().baud)),
                             settingsNotes_);
            s = defaultSettings();
            continue;
        }
        break;
    }
    showSettings();
}

void MonitorPresenter::showStatusToolTip(const QString& portNote)
{
    QStringList notes = settingsNotes_;
    if (!portNote.isEmpty())
        notes.append(portNote);
    statusLine.setToolTip(notes.join(QLatin1Char('\n')));
}

void MonitorPresenter::showSettings()
{
    showStatusToolTip({});
    deviceIdBox.setText(QString::fromLatin1(monitor_.settings().deviceId));
    sampleTimeBox.setText(QString::number(monitor_.settings().sampleTime));
    if (monitor_.settings().sampleTime == 0)
        monitor_.stopSampleClock();
    valueCountBox.setText(QString::number(monitor_.settings().valueCount));
    passwordBox.setText(QString::fromLatin1(monitor_.settings().password));
    logCheck.setChecked(monitor_.settings().logOn == 1);
    soundCheck.setChecked(monitor_.settings().soundOn == 1);
    for (int i = 1; i <= kChannels; ++i) {
        labelBoxes[i].setText(QString::fromLatin1(monitor_.settings().labels[i]));
        labelDisplays[i].setText(QString::fromLatin1(monitor_.settings().labels[i]));
        colourBoxes[i].setText(QString::fromLatin1(monitor_.settings().colours[i]));
        valueDisplays[i].setForeColor(colorForLetter(monitor_.settings().colours[i]));
        offsetBoxes[i].setText(displayForm(monitor_.settings().offsets[i], locale_));
        factorBoxes[i].setText(displayForm(monitor_.settings().factors[i], locale_));
        setHiBoxes[i].setText(displayForm(monitor_.settings().setHi[i], locale_));
        setLoBoxes[i].setText(displayForm(monitor_.settings().setLo[i], locale_));
    }
}

} // namespace qm
