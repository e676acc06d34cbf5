#pragma once

#include "base/event_loop.h"
#include "base/timer.h"
#include "base/types.h"
#include "channels/alarm_sound.h"
#include "device/serial_link.h"
#include "sampling/day_log.h"
#include "sampling/monitor_display.h"
#include "sampling/platform.h"
#include "sampling/sample_cycle.h"
#include "settings/settings_file.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <string_view>
#include <vector>

namespace qm {

class ReadingObserver;

// Watches the device: asks it for its values every sample time over the link
// (or takes the lines it sends by itself), scales them and holds them against
// their limits, logs them, sounds the alarm, and tells the observers of every
// evaluation and every change of the link. No widgets: what it shows goes to
// a MonitorDisplay.
class Monitor {
public:
    Monitor(const Platform& platform, MonitorDisplay& display);
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // The settings in use, the values read.
    const SettingsValues& settings() const { return settings_; }
    const ChannelArray<Single>& values() const { return values_; }
    // Seconds counted since the last sample cycle began.
    Integer sampleCount() const { return sampleCount_; }
    // The sample clock ticks every second while the device is recognised.
    bool sampleClockRunning() const { return sampleClock_.enabled(); }
    void stopSampleClock() { sampleClock_.setEnabled(false); }

    // Takes `s` into use as it stands, the port untouched.
    void useSettings(const SettingsValues& s) { settings_ = s; }
    // Takes `s` into use and sets the port to it; false when the port
    // refuses its number or settings (`s` is in use all the same).
    bool usePortSettings(const SettingsValues& s);
    // A reply line: shown, and the recognition or the values it holds taken.
    void interpretReply(const String& line);
    // Returns false when the update failed with an overflow; the caller shows
    // "???" and skips the rest of the reply.
    bool updateChannelValue(Integer channel, std::string_view valueText);
    void evaluateChannels();
    void sampleClockTick();
    // Returns the time written into the line.
    QDateTime writeLogLine();
    // Ends the monitoring: the observers told, the port closed, and the event
    // loop left with exit status 0 once the running handler returns.
    void close();

    // Hears of every evaluation and link change from now on.
    void addObserver(ReadingObserver* observer) { observers_.push_back(observer); }
    SerialLink& link() { return link_; }
    AlarmSound& alarmSound() { return alarmSound_; }

private:
    // Sends the value request of `channel` and starts the watchdog; false
    // when the port took no request.
    bool requestValue(int channel);
    // Ends the sample cycle's wait once no reply is awaited: a reply line
    // came or the device did not answer in time.
    void replyWaitMayBeOver();
    // Tells the observers of the evaluation just made, at `time` (read from
    // the clock when invalid).
    void notifyReading(QDateTime time);
    void tellObserversOfLink(const LinkState& state);
    // The status line's text for a received line.
    QString statusOfLine(const String& line);

    SettingsValues settings_{};
    ChannelArray<Single> values_{};
    Integer sampleCount_ = 0;
    Timer sampleClock_;
    EventLoop& loop_;
    SerialPort& port_;
    WallClock& wallClock_;
    QLocale locale_;
    MonitorDisplay& display_;
    std::vector<ReadingObserver*> observers_;
    ChannelArray<bool> alarms_{};   // as the lamps show them
    ChannelArray<QString> texts_{}; // as the value displays show them
    // The status line's text before a received line, for this port and baud.
    QString statusPrefix_;
    bool statusPrefixSet_ = false;
    Integer statusPrefixPort_ = 0;
    String statusPrefixBaud_;

    DayLog dayLog_;
    SerialLink link_;
    SampleCycle sampleCycle_;
    AlarmSound alarmSound_;
};

} // namespace qm
