#pragma once

#include "sampling/reading_observer.h"

#include <QString>
#include <QtGlobal>

#include <vector>

namespace qm {

// A channel's lamp turning red or going out, as the journal says it.
struct AlarmChange {
    QtMsgType type; // a warning on entering, information on leaving
    QString text;   // "V03 Temp: in alarm, 12.5 above Set Hi 10"

    friend bool operator==(const AlarmChange&, const AlarmChange&) = default;
};

// The text for channel `channel` entering (`entering`) or leaving alarm with
// `value`: the limit crossed, or both limits when it leaves. Numbers in the
// log file's form.
QString alarmText(int channel, const String& label, bool entering, Single value, Single setHi,
                  Single setLo);

// Tells the journal (quellmark.alarm) of each channel entering and leaving
// alarm, once per change, as its lamp shows it.
class AlarmJournal final : public ReadingObserver {
public:
    void readingTaken(const Reading& reading) override;
    // The changes since the reading before, in channel order.
    std::vector<AlarmChange> changes(const Reading& reading);

private:
    ChannelArray<bool> inAlarm_{};
};

} // namespace qm
