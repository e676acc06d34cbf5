#pragma once

#include "base/types.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The 64 items of the settings file, in file order.
struct SettingsValues {
    Integer comPort = 1;
    String baud;
    String deviceId;
    Integer sampleTime = 0;
    Integer valueCount = 0;
    String password;
    Integer logOn = 0;
    Integer soundOn = 0;
    ChannelArray<String> labels{};
    ChannelArray<String> colours{};
    ChannelArray<Single> offsets{};
    ChannelArray<Single> factors{};
    ChannelArray<String> outputNames{};
    ChannelArray<Single> setHi{};
    ChannelArray<Single> setLo{};

    friend bool operator==(const SettingsValues&, const SettingsValues&) = default;
};

// The fixed default set, used whole when the file cannot be read.
SettingsValues defaultSettings();

// Reads the file's bytes (Latin-1 text: one byte a character). The 64 items
// form one stream: a comma or a line end ends an item; blanks before an item
// are skipped; a quoted text runs to the next quote; numbers use "." and may
// have an exponent; an empty number is 0. Returns nothing when fewer than 64
// items are there, a number item holds no number, a Single is out of range or
// an Integer lies outside -32768..32767 (a fraction rounds half to even).
std::optional<SettingsValues> parseSettingsFile(std::string_view bytes);

// A settings file read as parseSettingsFile() reads it, with what it found,
// each naming its line.
struct SettingsRead {
    std::optional<SettingsValues> values; // nothing when the file cannot be used,
    std::string failure;                  // and then why
    // Loaded as it stands, but looks wrong: a line with more or fewer items
    // than 8 (a decimal comma), a sample time below 0, a number of values
    // outside 1 to 8, text after the 64th item.
    std::vector<std::string> notes;
};
SettingsRead readSettings(std::string_view bytes);

// What looks wrong in the values themselves (a sample time below 0, a number
// of values outside 1 to 8), naming the lines the two items stand on; a file
// as writeSettingsFile() writes it has both on line 1.
std::vector<std::string> settingsValueNotes(const SettingsValues& s, int sampleTimeLine = 1,
                                            int valueCountLine = 1);

// The file's bytes for `s`: eight lines ended by CR LF, texts quoted, numbers
// in the invariant form. Reads back to the same values.
std::string writeSettingsFile(const SettingsValues& s);

// The text colour of a value display for its colour letter; anything but the
// exact letters R, G, B, Y, W is white.
Rgb colorForLetter(const String& letter);

// Number items of the file, exposed for tests.
std::optional<Integer> parseIntegerItem(std::string_view item);
std::optional<Single> parseSingleItem(std::string_view item);

} // namespace qm
