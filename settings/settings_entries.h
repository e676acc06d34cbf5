#pragma once

#include "settings/settings_file.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace qm {

// One setting as an entry: a box of the Set panel, or KEY=VALUE on the
// command line (--set). Both take entries through takeEntry(), so they accept
// and refuse exactly alike.
struct SettingsEntry {
    enum class Field {
        ComPort,
        Baud,
        DeviceId,
        SampleTime,
        ValueCount,
        Password,
        LogOn,
        SoundOn,
        Label,
        Color,
        Offset,
        Factor,
        OutputName,
        SetHi,
        SetLo
    };
    Field field;
    int channel = 0; // 1..8 for the fields of a channel, else 0

    // The command line's key: "com", "stime", "channel3.hi"; empty for what
    // only the file carries (password, the output names).
    QString key() const;
    // The entry as the Set panel's messages name it: "RVnr", "V3 label",
    // "V03 Set Hi".
    QString caption() const;
    // The value in `s` as the settings file has it (numbers with ".", texts
    // without their quotes).
    QString valueIn(const SettingsValues& s) const;
};

// Every entry, in the order the Set panel takes its boxes.
const std::vector<SettingsEntry>& settingsEntries();

// The entry a command-line key names (in any case); nothing for another key.
std::optional<SettingsEntry> entryForKey(const QString& key);

// Takes the text of an entry into `s`, numbers in the number format of
// `locale`: a whole number -32768..32767 (blanks around it allowed, a half to
// the even neighbour), a Single, text that the file can hold (Latin-1, no
// double quote, no line break), or for the check boxes 1 or 0 (on/off,
// yes/no, true/false). Returns why the entry is refused; empty when taken.
QString takeEntry(SettingsValues& s, const SettingsEntry& e, const QString& text,
                  const QLocale& locale);

// What a save does once every entry is taken: valueCount held to 1..8.
void finishEntries(SettingsValues& s);

// "key=value", a line for each entry that has a key (--show-settings).
QString settingsListing(const SettingsValues& s);

// The entries whose values differ, one line each: "stime: 30 -> 10",
// "channel1.label: \"V01 label:\" -> \"Tank\"".
QStringList settingsChanges(const SettingsValues& before, const SettingsValues& after);

} // namespace qm
