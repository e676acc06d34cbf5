#include "sampling/monitor.h"

#include "base/numbers.h"
#include "channels/limits.h"
#include "channels/value_text.h"
#include "device/requests.h"
#include "device/serial_port.h"
#include "sampling/reading_observer.h"

namespace qm {

namespace {

// Whether `holder` is the value prefix of `channel`: devId, "V0", the digit, "=".
bool isValuePrefix(std::string_view holder, const String& devId, int channel)
{
    const std::size_t d = devId.size();
    return holder.size() == d + 4 && holder.substr(0, d) == devId && holder[d] == 'V' &&
           holder[d + 1] == '0' && holder[d + 2] == char('0' + channel) && holder[d + 3] == '=';
}

} // namespace

Monitor::Monitor(const Platform& platform, MonitorDisplay& display)
    : sampleClock_(platform.loop, 1000, [this] { sampleClockTick(); })
    , loop_(platform.loop)
    , port_(platform.port)
    , wallClock_(platform.wallClock)
    , locale_(platform.locale)
    , display_(display)
    , dayLog_(loop_, platform.paths.logDir())
    , link_(loop_, port_, settings_,
            SerialLink::Handlers{[this](const String& line) { interpretReply(line); },
                                 [this] { replyWaitMayBeOver(); },
                                 [this] { sampleClock_.setEnabled(false); },
                                 [this](const LinkState& state) { tellObserversOfLink(state); },
                                 [this](const QString& text) { display_.statusText(text); },
                                 [this](Rgb colour) { display_.statusColour(colour); },
                                 [this](const QString& note) { display_.portNote(note); }})
    , sampleCycle_(loop_, {[this](int channel) { return requestValue(channel); },
                           [this] {
                               sampleCount_ = 0;
                               evaluateChannels();
                           }})
    , alarmSound_(loop_, platform.sound, platform.paths.file("a1.wav"), platform.defaultSound,
                  [this](const QString& note) { return display_.addNote(note); })
{
    for (int i = 1; i <= kChannels; ++i)
        texts_[i] = QStringLiteral("-");
}

bool Monitor::usePortSettings(const SettingsValues& s)
{
    settings_ = s;
    const int portError = port_.setCommPort(settings_.comPort);
    const int settingsError = port_.setSettings(settings_.baud + ",N,8,1");
    return !portError && !settingsError;
}

QString Monitor::statusOfLine(const String& line)
{
    // The part before the line changes only with the settings.
    if (!statusPrefixSet_ || statusPrefixPort_ != settings_.comPort ||
        statusPrefixBaud_ != settings_.baud) {
        statusPrefixSet_ = true;
        statusPrefixPort_ = settings_.comPort;
        statusPrefixBaud_ = settings_.baud;
        statusPrefix_ = QStringLiteral("COM:") + QString::number(settings_.comPort) +
                        QStringLiteral(" Baud:") + QString::fromLatin1(settings_.baud) +
                        QStringLiteral(" COM data: ");
    }
    QString status;
    status.reserve(statusPrefix_.size() + static_cast<qsizetype>(line.size()));
    status += statusPrefix_;
    status += QLatin1StringView(line.data(), static_cast<qsizetype>(line.size()));
    return status;
}

void Monitor::interpretReply(const String& line)
{
    display_.statusText(statusOfLine(line));
    if (line.size() > 1)
        display_.statusColour(colors::kStatusOk);
    const QString devCode = QStringLiteral("QuellmarK: MainForm");
    if (settings_.sampleTime == 0) {
        link_.stopRetrying();
        display_.showDeviceCode(devCode);
    } else if (settings_.sampleTime > 0 && line == settings_.deviceId + "OK") {
        display_.showDeviceCode(devCode);
        link_.stopRetrying();
        display_.statusColour(colors::kStatusOk);
        display_.statusText(QStringLiteral(" QmkApp recognition is OK! "));
        sampleCount_ = static_cast<Integer>(settings_.sampleTime - 1);
        sampleClock_.setEnabled(true);
    }
    // The first k characters are compared, whatever the length of the device
    // id: an id of two or more characters never matches a value line. After a
    // match the later channels are compared with the value text.
    const std::size_t k = settings_.deviceId.empty() ? 4 : 5;
    std::string_view holder = std::string_view(line).substr(0, k);
    for (Integer i = 1; i <= kChannels; ++i) {
        if (isValuePrefix(holder, settings_.deviceId, i)) {
            holder = std::string_view(line).substr(k);
            if (!updateChannelValue(i, holder)) {
                display_.statusText(QStringLiteral("???"));
                return;
            }
        }
    }
    if (settings_.sampleTime == 0)
        evaluateChannels();
}

bool Monitor::updateChannelValue(Integer channel, std::string_view valueText)
{
    Single& v = values_.at(static_cast<std::size_t>(channel));
    v = valueOfText(valueText);
    if (!scaleAndRound(v, settings_.offsets[channel], settings_.factors[channel]))
        return false;
    texts_[channel] = displayForm(v, locale_);
    display_.valueText(channel, texts_[channel]);
    return true;
}

void Monitor::evaluateChannels()
{
    if (settings_.valueCount < 1 || settings_.valueCount > kChannels)
        return;
    const bool alarm =
        evaluateLimits(values_, settings_.setHi, settings_.setLo, settings_.valueCount, alarms_);
    for (Integer ch = 1; ch <= settings_.valueCount; ++ch)
        display_.alarmLamp(ch, alarms_[ch]);
    QDateTime time;
    if (settings_.logOn == 1)
        time = writeLogLine();
    if (settings_.soundOn == 1)
        alarmSound_.setAlarm(alarm);
    if (!observers_.empty())
        notifyReading(time);
}

void Monitor::sampleClockTick()
{
    display_.statusText(QStringLiteral("STime:") + QString::number(settings_.sampleTime) +
                        QStringLiteral(" STimer:") + QString::number(sampleCount_));
    // The counter stays within its 16 bits even when no cycle ever resets it
    // (a sample time changed to 0 or less while the clock runs).
    if (sampleCount_ < INT16_MAX)
        ++sampleCount_;
    // The clock counts on while a cycle runs, but starts no second one.
    if (sampleCount_ != settings_.sampleTime || sampleCycle_.running())
        return;
    if (settings_.valueCount < 1 || settings_.valueCount > kChannels) {
        sampleCount_ = 0;
        return;
    }
    sampleCycle_.start(settings_.valueCount);
}

QDateTime Monitor::writeLogLine()
{
    const QDateTime now = wallClock_.localNow();
    dayLog_.write(now, values_);
    return now;
}

bool Monitor::requestValue(int channel)
{
    // Port closed or gone: this request is skipped, the cycle goes on.
    return link_.request(valueRequest(settings_.deviceId, channel));
}

void Monitor::replyWaitMayBeOver()
{
    if (!link_.awaitingReply())
        sampleCycle_.replyWaitOver();
}

void Monitor::notifyReading(QDateTime time)
{
    if (!time.isValid())
        time = wallClock_.localNow();
    Reading r{time,
              values_,
              alarms_,
              settings_.labels,
              settings_.colours,
              settings_.setHi,
              settings_.setLo,
              settings_.valueCount};
    r.texts = texts_;
    for (ReadingObserver* o : observers_)
        o->readingTaken(r);
}

void Monitor::tellObserversOfLink(const LinkState& state)
{
    for (ReadingObserver* o : observers_)
        o->linkChanged(state);
}

void Monitor::close()
{
    for (ReadingObserver* o : observers_)
        o->closing();
    link_.close();
    loop_.quit(0);
}

} // namespace qm
