#include "channels/alarm_sound.h"

#include "base/files.h"
#include "base/log_categories.h"
#include "channels/sound_player.h"

namespace qm {

bool isWavHeader(std::string_view head)
{
    return head.size() >= 12 && head.substr(0, 4) == "RIFF" && head.substr(8, 4) == "WAVE";
}

AlarmSound::AlarmSound(EventLoop& loop, SoundPlayer& player, QByteArray ownFile,
                       QByteArray defaultFile, std::function<bool(const QString&)> tell)
    : player_(player)
    , ownFile_(std::move(ownFile))
    , defaultFile_(std::move(defaultFile))
    , tell_(std::move(tell))
    , timer_(loop, kRepeatMs, [this] { player_.play(soundFile()); })
{
    player_.setOnFailure([this](const QByteArray& path, const QString& why) { failed(path, why); });
}

QByteArray AlarmSound::soundFile()
{
    const std::optional<std::string> head = readRegularFile(ownFile_, 12);
    if (head && isWavHeader(*head))
        return ownFile_;
    const bool fallback = !defaultFile_.isEmpty() && readRegularFile(defaultFile_, 0);
    if (head)
        failed(ownFile_, fallback ? QStringLiteral("it is not a WAV file; the default sound plays")
                                  : QStringLiteral("it is not a WAV file"));
    else if (!fallback)
        failed(ownFile_, QStringLiteral("there is no such file, and no default sound"));
    return fallback ? defaultFile_ : ownFile_;
}

void AlarmSound::failed(const QByteArray& path, const QString& why)
{
    const QString message =
        QStringLiteral("Alarm sound ") + QString::fromUtf8(path) + QStringLiteral(": ") + why;
    if (tell_(message))
        qCWarning(lcAlarm).noquote() << message;
}

} // namespace qm
