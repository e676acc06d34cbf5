#include "settings/settings_file.h"

#include "base/numbers.h"

#include <type_traits>
#include <variant>
#include <vector>

namespace qm {

SettingsValues defaultSettings()
{
    SettingsValues s;
    s.comPort = 1;
    s.baud = "9600";
    s.deviceId = "";
    s.sampleTime = 30;
    s.valueCount = 8;
    s.password = "not used";
    s.logOn = 0;
    s.soundOn = 0;
    const char* colours[] = {"W", "R", "G", "B", "Y", "W", "R", "G"};
    for (int i = 1; i <= kChannels; ++i) {
        s.labels[i] = "V0" + std::to_string(i) + " label:";
        s.colours[i] = colours[i - 1];
        s.offsets[i] = 0.0f;
        s.factors[i] = 1.0f;
        s.outputNames[i] = "OUT" + std::to_string(i);
        s.setHi[i] = 99.9f;
        s.setLo[i] = 0.0f;
    }
    return s;
}

Rgb colorForLetter(const String& letter)
{
    if (letter == "R")
        return colors::kRed;
    if (letter == "G")
        return colors::kGreen;
    if (letter == "B")
        return colors::kCyan;
    if (letter == "Y")
        return colors::kYellow;
    return colors::kWhite;
}

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

QString latin1(std::string_view s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

std::optional<Single> parseSingleItem(std::string_view item)
{
    item = trimBlanks(item);
    if (item.empty())
        return 0.0f;
    return readSingle(latin1(item), DecimalPoint::Dot);
}

std::optional<Integer> parseIntegerItem(std::string_view item)
{
    item = trimBlanks(item);
    if (item.empty())
        return Integer{0};
    const auto v = readRounded(latin1(item), DecimalPoint::Dot, -32768, 32767);
    if (!v)
        return std::nullopt;
    return static_cast<Integer>(*v);
}

namespace {

// Splits the file into items as one stream, and knows the line each starts on.
class ItemReader {
public:
    explicit ItemReader(std::string_view bytes)
        : s_(bytes)
    {
    }

    // The next item's text without its quotes, or nothing at the end of the
    // file (or at a text whose closing quote never comes: unclosed() then).
    std::optional<std::string_view> next()
    {
        while (pos_ < s_.size() && isBlank(s_[pos_]))
            ++pos_;
        if (pos_ >= s_.size())
            return std::nullopt;
        itemLine_ = lineAt(pos_);
        quoted_ = s_[pos_] == '"';
        std::string_view item;
        if (quoted_) {
            const std::size_t close = s_.find('"', pos_ + 1);
            if (close == std::string_view::npos) {
                unclosed_ = true;
                return std::nullopt; // the text never ends: the file is cut short
            }
            item = s_.substr(pos_ + 1, close - pos_ - 1);
            pos_ = close + 1;
            // Whatever stands between the closing quote and the item's end is dropped.
            while (pos_ < s_.size() && !isEnd(s_[pos_]))
                ++pos_;
        } else {
            const std::size_t begin = pos_;
            while (pos_ < s_.size() && !isEnd(s_[pos_]))
                ++pos_;
            item = s_.substr(begin, pos_ - begin);
            while (!item.empty() && isBlank(item.back()))
                item.remove_suffix(1);
        }
        skipEnd();
        return item;
    }

    int itemLine() const { return itemLine_; } // of the last item, from 1
    bool quoted() const { return quoted_; }    // the last item was a quoted text
    bool unclosed() const { return unclosed_; }
    std::size_t position() const { return pos_; }
    // Whether only blanks and line ends are left.
    bool blankRest() const
    {
        for (std::size_t i = pos_; i < s_.size(); ++i)
            if (!isBlank(s_[i]) && s_[i] != '\r' && s_[i] != '\n')
                return false;
        return true;
    }
    // The line of the first character left that is not blank, from 1.
    int restLine()
    {
        std::size_t i = pos_;
        while (i < s_.size() && (isBlank(s_[i]) || s_[i] == '\r' || s_[i] == '\n'))
            ++i;
        return lineAt(i);
    }

private:
    static bool isEnd(char c) { return c == ',' || c == '\r' || c == '\n'; }

    void skipEnd()
    {
        if (pos_ >= s_.size())
            return;
        if (s_[pos_] == ',') {
            ++pos_;
        } else if (s_[pos_] == '\r') {
            ++pos_;
            if (pos_ < s_.size() && s_[pos_] == '\n')
                ++pos_;
        } else if (s_[pos_] == '\n') {
            ++pos_;
        }
    }

    // CR LF, CR and LF each end a line. Counted on from the last look, which
    // is never further on.
    int lineAt(std::size_t pos)
    {
        for (; counted_ < pos && counted_ < s_.size(); ++counted_) {
            const char c = s_[counted_];
            if (c == '\n' || (c == '\r' && (counted_ + 1 >= s_.size() || s_[counted_ + 1] != '\n')))
                ++line_;
        }
        return line_;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
    std::size_t counted_ = 0;
    int line_ = 1;
    int itemLine_ = 0;
    bool quoted_ = false;
    bool unclosed_ = false;
};

// The name of item `index` (0 to 63) for messages: "STime", "Set Hi of V3".
std::string itemName(int index)
{
    static const char* const first[] = {"COM",  "Baud",  "ID",       "STime",
                                        "RVnr", "BPass", "Log file", "Play wav a1"};
    static const char* const arrays[] = {"label",       "color",  "Nr1",   "Nr2",
                                         "output name", "Set Hi", "Set Lo"};
    if (index < 8)
        return first[index];
    return std::string(arrays[index / 8 - 1]) + " of V" + std::to_string(index % 8 + 1);
}

std::string lineText(int line)
{
    return "line " + std::to_string(line);
}

using ItemPlace = std::variant<Integer*, String*, Single*>;

// The 64 items in file order, each to its setting in `s`.
std::vector<ItemPlace> itemPlaces(SettingsValues& s)
{
    std::vector<ItemPlace> places{&s.comPort,    &s.baud,     &s.deviceId, &s.sampleTime,
                                  &s.valueCount, &s.password, &s.logOn,    &s.soundOn};
    const auto addArray = [&places](auto& array) {
        for (int i = 1; i <= kChannels; ++i)
            places.emplace_back(&array[i]);
    };
    addArray(s.labels);
    addArray(s.colours);
    addArray(s.offsets);
    addArray(s.factors);
    addArray(s.outputNames);
    addArray(s.setHi);
    addArray(s.setLo);
    return places;
}

// Takes `item` into `place`; returns why it cannot be taken (for item
// `index` on `line`), empty when taken.
std::string takeItem(std::string_view item, const ItemPlace& place, int index, int line)
{
    const auto badNumber = [&](bool whole) {
        return lineText(line) + ": " + itemName(index) + " \"" + std::string(item) + "\" " +
               (!hasDecimalForm(latin1(item)) ? "is not a number"
                : whole                       ? "is outside -32768 to 32767"
                                              : "is out of range");
    };
    return std::visit(
        [&](auto* value) -> std::string {
            using T = std::remove_pointer_t<decltype(value)>;
            if constexpr (std::is_same_v<T, String>) {
                value->assign(item.begin(), item.end());
                return {};
            } else if constexpr (std::is_same_v<T, Integer>) {
                const std::optional<Integer> v = parseIntegerItem(item);
                if (!v)
                    return badNumber(true);
                *value = *v;
                return {};
            } else {
                const std::optional<Single> v = parseSingleItem(item);
                if (!v)
                    return badNumber(false);
                *value = *v;
                return {};
            }
        },
        place);
}

// The first line after which the count of items is not a multiple of 8, when
// there is one: every line holds eight items, or the items stand 64 to a line.
// Items after the 64th on its own line count for that line.
std::optional<std::string> lineCountNote(ItemReader& reader, std::vector<int> itemLines)
{
    const int lastLine = itemLines.back();
    for (std::optional<std::string_view> item;
         (item = reader.next()) && reader.itemLine() == lastLine;)
        if (!trimBlanks(*item).empty() || reader.quoted())
            itemLines.push_back(lastLine);
    for (std::size_t i = 0, total = 0; i < itemLines.size();) {
        std::size_t end = i;
        while (end < itemLines.size() && itemLines[end] == itemLines[i])
            ++end;
        total += end - i;
        if (total % 8 != 0) {
            const std::size_t held = end - i;
            return lineText(itemLines[i]) + " holds " + std::to_string(held) + " items, not 8" +
                   (held > 8 ? " (a decimal comma?)" : "") +
                   ": every later item lands in the wrong setting";
        }
        i = end;
    }
    return std::nullopt;
}

} // namespace

std::vector<std::string> settingsValueNotes(const SettingsValues& s, int sampleTimeLine,
                                            int valueCountLine)
{
    std::vector<std::string> notes;
    if (s.sampleTime < 0)
        notes.push_back(lineText(sampleTimeLine) + ": STime " + std::to_string(s.sampleTime) +
                        " is below 0: nothing is ever read");
    if (s.valueCount < 1 || s.valueCount > kChannels)
        notes.push_back(lineText(valueCountLine) + ": RVnr " + std::to_string(s.valueCount) +
                        " is outside 1 to 8: no channel is evaluated or logged");
    return notes;
}

SettingsRead readSettings(std::string_view bytes)
{
    SettingsRead out;
    SettingsValues s;
    const std::vector<ItemPlace> places = itemPlaces(s);
    ItemReader reader(bytes);
    std::vector<int> itemLines; // of every item that counts
    for (int index = 0; index < 64; ++index) {
        const std::optional<std::string_view> item = reader.next();
        if (!item) {
            out.failure = reader.unclosed()
                              ? lineText(reader.itemLine()) + ": a text in quotes never ends"
                              : "the file ends after " + std::to_string(index) + " of the 64 items";
            return out;
        }
        itemLines.push_back(reader.itemLine());
        out.failure = takeItem(*item, places[std::size_t(index)], index, reader.itemLine());
        if (!out.failure.empty())
            return out;
    }
    out.values = s;

    // Loaded as it stands; what looks wrong is noted.
    const bool junk = !reader.blankRest();
    const int junkLine = junk ? reader.restLine() : 0;
    const std::size_t junkAt = reader.position();
    if (std::optional<std::string> note = lineCountNote(reader, itemLines))
        out.notes.push_back(*note);
    // Items that a line too many pushed past the end say nothing more.
    else if (junk)
        out.notes.push_back(lineText(junkLine) + ": what follows the 64th item is ignored (" +
                            std::to_string(bytes.size() - junkAt) + " bytes)");
    for (std::string& note : settingsValueNotes(s, itemLines[3], itemLines[4]))
        out.notes.push_back(std::move(note));
    return out;
}

std::optional<SettingsValues> parseSettingsFile(std::string_view bytes)
{
    return readSettings(bytes).values;
}

} // namespace qm

namespace qm {

namespace {

// The invariant form, with more digits only where seven would not read back
// to the same Single.
std::string singleItem(float v)
{
    std::string text = invariantForm(v);
    for (int digits = 8; parseSingleItem(text) != v && digits <= 9; ++digits)
        text = invariantForm(v, digits);
    return text;
}

std::string quoted(const String& s)
{
    return "\"" + s + "\"";
}

template <class T, class F>
std::string line(const ChannelArray<T>& items, F&& form)
{
    std::string out;
    for (int i = 1; i <= kChannels; ++i) {
        if (i > 1)
            out += ',';
        out += form(items[i]);
    }
    return out + "\r\n";
}

} // namespace

std::string writeSettingsFile(const SettingsValues& s)
{
    std::string out = std::to_string(s.comPort) + "," + quoted(s.baud) + "," + quoted(s.deviceId) +
                      "," + std::to_string(s.sampleTime) + "," + std::to_string(s.valueCount) +
                      "," + quoted(s.password) + "," + std::to_string(s.logOn) + "," +
                      std::to_string(s.soundOn) + "\r\n";
    out += line(s.labels, quoted);
    out += line(s.colours, quoted);
    out += line(s.offsets, singleItem);
    out += line(s.factors, singleItem);
    out += line(s.outputNames, quoted);
    out += line(s.setHi, singleItem);
    out += line(s.setLo, singleItem);
    return out;
}

} // namespace qm
