#pragma once

#include "base/timer.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace qm {

class SoundPlayer;

// The alarm sound: while an alarm is on, the instance's a1.wav (without one
// that is a WAV file, the sound that comes with the program) plays every
// kRepeatMs. What keeps it from playing goes to `tell`, which gives false
// for what it was told already (then it stays quiet).
class AlarmSound {
public:
    static constexpr int kRepeatMs = 3000;

    AlarmSound(EventLoop& loop, SoundPlayer& player, QByteArray ownFile, QByteArray defaultFile,
               std::function<bool(const QString&)> tell);

    // The alarm state of the last evaluation.
    void setAlarm(bool on) { timer_.setEnabled(on); }
    bool sounding() const { return timer_.enabled(); }
    // The file that plays now.
    QByteArray soundFile();

private:
    void failed(const QByteArray& path, const QString& why);

    SoundPlayer& player_;
    QByteArray ownFile_;
    QByteArray defaultFile_;
    std::function<bool(const QString&)> tell_;
    Timer timer_;
};

} // namespace qm
