#include "settings/settings_entries.h"

#include "base/numbers.h"

namespace qm {

namespace {

using Field = SettingsEntry::Field;

// The channel fields with their keys after "channel<n>." and their captions
// after "V<n> " (Set panel rows) or "V0<n> " (channel panels).
struct ChannelField {
    Field field;
    const char* key;
    const char* caption;
    bool panel; // a box of the channel panel, named "V0<n> ..."
};
constexpr ChannelField kChannelFields[] = {
    {Field::Label, "label", "label", false}, {Field::Color, "color", "color", false},
    {Field::Offset, "nr1", "Nr1", false},    {Field::Factor, "nr2", "Nr2", false},
    {Field::OutputName, "", "", false},      {Field::SetHi, "hi", "Set Hi", true},
    {Field::SetLo, "lo", "Set Lo", true}};

struct PortField {
    Field field;
    const char* key;
    const char* caption;
};
constexpr PortField kPortFields[] = {
    {Field::ComPort, "com", "COM port"}, {Field::Baud, "baud", "Baud"},
    {Field::DeviceId, "id", "ID"},       {Field::SampleTime, "stime", "STime"},
    {Field::ValueCount, "rvnr", "RVnr"}, {Field::Password, "", "BPass"},
    {Field::LogOn, "log", "Log file"},   {Field::SoundOn, "wav", "Play wav a1"}};

const ChannelField* channelField(Field f)
{
    for (const ChannelField& c : kChannelFields)
        if (c.field == f)
            return &c;
    return nullptr;
}

const PortField* portField(Field f)
{
    for (const PortField& p : kPortFields)
        if (p.field == f)
            return &p;
    return nullptr;
}

// Where a field lives in `s` (const or not); nothing when it is not of that type.
template <class S>
auto integerIn(S& s, Field f) -> decltype(&s.comPort)
{
    switch (f) {
    case Field::ComPort:
        return &s.comPort;
    case Field::SampleTime:
        return &s.sampleTime;
    case Field::ValueCount:
        return &s.valueCount;
    case Field::LogOn:
        return &s.logOn;
    case Field::SoundOn:
        return &s.soundOn;
    default:
        return nullptr;
    }
}

template <class S>
auto textIn(S& s, Field f, int i) -> decltype(&s.baud)
{
    switch (f) {
    case Field::Baud:
        return &s.baud;
    case Field::DeviceId:
        return &s.deviceId;
    case Field::Password:
        return &s.password;
    case Field::Label:
        return &s.labels[i];
    case Field::Color:
        return &s.colours[i];
    case Field::OutputName:
        return &s.outputNames[i];
    default:
        return nullptr;
    }
}

template <class S>
auto singleIn(S& s, Field f, int i) -> decltype(&s.offsets[i])
{
    switch (f) {
    case Field::Offset:
        return &s.offsets[i];
    case Field::Factor:
        return &s.factors[i];
    case Field::SetHi:
        return &s.setHi[i];
    case Field::SetLo:
        return &s.setLo[i];
    default:
        return nullptr;
    }
}

bool isFlag(Field f)
{
    return f == Field::LogOn || f == Field::SoundOn;
}

QString takeInteger(const QString& text, const QLocale& locale, Integer& out)
{
    const auto v = readRounded(text, DecimalPoint::Locale, -32768, 32767, locale);
    if (!v)
        return QStringLiteral("a whole number from -32768 to 32767 is needed");
    out = static_cast<Integer>(*v);
    return {};
}

QString takeSingle(const QString& text, const QLocale& locale, Single& out)
{
    const auto v = readSingle(text, DecimalPoint::Locale, locale);
    if (!v)
        return QStringLiteral("a number is needed, such as ") + locale.toString(-12.5);
    out = *v;
    return {};
}

QString takeText(const QString& text, String& out)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            return QStringLiteral("a double quote cannot be stored");
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return QStringLiteral("a line break cannot be stored");
        if (c.unicode() > 0xFF)
            return QStringLiteral("the settings file holds Latin-1 text only, not ") + c;
    }
    out = text.toLatin1().toStdString();
    return {};
}

QString takeFlag(const QString& text, Integer& out)
{
    const QString t = text.trimmed().toLower();
    for (const char* on : {"1", "on", "yes", "true"})
        if (t == QLatin1String(on)) {
            out = 1;
            return {};
        }
    for (const char* off : {"0", "off", "no", "false"})
        if (t == QLatin1String(off)) {
            out = 0;
            return {};
        }
    return QStringLiteral("1 or 0 (on or off) is needed");
}

QString shown(const SettingsEntry& e, const SettingsValues& s)
{
    const QString v = e.valueIn(s);
    return textIn(s, e.field, e.channel) ? QLatin1Char('"') + v + QLatin1Char('"') : v;
}

} // namespace

QString SettingsEntry::key() const
{
    if (const PortField* p = portField(field))
        return QString::fromLatin1(p->key);
    const ChannelField* c = channelField(field);
    if (!c || !*c->key)
        return {};
    return QStringLiteral("channel%1.").arg(channel) + QString::fromLatin1(c->key);
}

QString SettingsEntry::caption() const
{
    if (const PortField* p = portField(field))
        return QString::fromLatin1(p->caption);
    if (field == Field::OutputName)
        return QStringLiteral("Out%1 name").arg(channel);
    const ChannelField* c = channelField(field);
    return (c->panel ? QStringLiteral("V0%1 ") : QStringLiteral("V%1 ")).arg(channel) +
           QString::fromLatin1(c->caption);
}

QString SettingsEntry::valueIn(const SettingsValues& s) const
{
    if (const Integer* v = integerIn(s, field))
        return QString::number(*v);
    if (const String* v = textIn(s, field, channel))
        return QString::fromLatin1(*v);
    return QString::fromStdString(invariantForm(*singleIn(s, field, channel)));
}

const std::vector<SettingsEntry>& settingsEntries()
{
    static const std::vector<SettingsEntry> entries = [] {
        std::vector<SettingsEntry> out;
        for (const PortField& p : kPortFields)
            out.push_back({p.field});
        for (int i = 1; i <= kChannels; ++i)
            for (const ChannelField& c : kChannelFields)
                out.push_back({c.field, i});
        return out;
    }();
    return entries;
}

std::optional<SettingsEntry> entryForKey(const QString& key)
{
    for (const SettingsEntry& e : settingsEntries())
        if (!e.key().isEmpty() && e.key().compare(key, Qt::CaseInsensitive) == 0)
            return e;
    return std::nullopt;
}

QString takeEntry(SettingsValues& s, const SettingsEntry& e, const QString& text,
                  const QLocale& locale)
{
    if (isFlag(e.field))
        return takeFlag(text, *integerIn(s, e.field));
    if (Integer* v = integerIn(s, e.field))
        return takeInteger(text, locale, *v);
    if (String* v = textIn(s, e.field, e.channel))
        return takeText(text, *v);
    return takeSingle(text, locale, *singleIn(s, e.field, e.channel));
}

void finishEntries(SettingsValues& s)
{
    if (s.valueCount < 1)
        s.valueCount = 1;
    if (s.valueCount > kChannels)
        s.valueCount = kChannels;
}

QString settingsListing(const SettingsValues& s)
{
    QString out;
    for (const SettingsEntry& e : settingsEntries())
        if (!e.key().isEmpty())
            out += e.key() + QLatin1Char('=') + e.valueIn(s) + QLatin1Char('\n');
    return out;
}

QStringList settingsChanges(const SettingsValues& before, const SettingsValues& after)
{
    QStringList out;
    for (const SettingsEntry& e : settingsEntries())
        if (!e.key().isEmpty() && e.valueIn(before) != e.valueIn(after))
            out << e.key() + QStringLiteral(": ") + shown(e, before) + QStringLiteral(" -> ") +
                       shown(e, after);
    return out;
}

} // namespace qm
