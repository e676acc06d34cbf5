#include "app/alarm_journal.h"

#include "base/log_categories.h"
#include "base/numbers.h"
#include "channels/channel_name.h"

namespace qm {

namespace {

QString number(Single value)
{
    return QString::fromStdString(invariantForm(value));
}

} // namespace

QString alarmText(int channel, const String& label, bool entering, Single value, Single setHi,
                  Single setLo)
{
    const QString text = channelName(channel, label);
    if (!entering)
        return text + QStringLiteral(": alarm over, %1 (Set Lo %2, Set Hi %3)")
                          .arg(number(value), number(setLo), number(setHi));
    const bool high = value > setHi;
    return text + QStringLiteral(": in alarm, %1 %2 %3")
                      .arg(number(value),
                           high ? QStringLiteral("above Set Hi") : QStringLiteral("below Set Lo"),
                           number(high ? setHi : setLo));
}

std::vector<AlarmChange> AlarmJournal::changes(const Reading& r)
{
    std::vector<AlarmChange> out;
    for (int i = 1; i <= kChannels; ++i) {
        if (r.alarms[i] == inAlarm_[i])
            continue;
        inAlarm_[i] = r.alarms[i];
        out.push_back(
            {r.alarms[i] ? QtWarningMsg : QtInfoMsg,
             alarmText(i, r.labels[i], r.alarms[i], r.values[i], r.setHi[i], r.setLo[i])});
    }
    return out;
}

void AlarmJournal::readingTaken(const Reading& reading)
{
    for (const AlarmChange& c : changes(reading)) {
        if (c.type == QtWarningMsg)
            qCWarning(lcAlarm).noquote() << c.text;
        else
            qCInfo(lcAlarm).noquote() << c.text;
    }
}

} // namespace qm
