#pragma once

#include "sampling/monitor.h"
#include "tests/support/bench.h"

#include <memory>

namespace qm::test {

// The settings of the tests: COM1 at 9600, no device id, the given sample
// time and channel count, the log and the alarm sound on or off.
SettingsValues settingsWith(int sampleTime, int count, bool log, bool sound);

// The monitor alone, showing through a display that keeps what it was shown.
class CoreFixture : public Bench, public MonitorDisplay {
public:
    using Bench::Bench;
    // Takes `s` into use and starts the connection retries.
    Monitor& start(const SettingsValues& s = defaultSettings());
    // The same with the device answering.
    Monitor& startWith(const SettingsValues& s);

    std::unique_ptr<Monitor> monitor;
    Rgb colour;
    QString portNoteShown, deviceCode;
    QStringList notes;
    ChannelArray<QString> valueTexts;
    ChannelArray<bool> lamps{};

    void statusText(const QString& text) override { status.push_back({loop.now(), text}); }
    void statusColour(Rgb c) override { colour = c; }
    void portNote(const QString& note) override { portNoteShown = note; }
    bool addNote(const QString& note) override;
    void showDeviceCode(const QString& code) override { deviceCode = code; }
    void valueText(int channel, const QString& text) override { valueTexts[channel] = text; }
    void alarmLamp(int channel, bool on) override { lamps[channel] = on; }
};

} // namespace qm::test
