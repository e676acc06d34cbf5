#include "app/files.h"
#include "app/log_categories.h"
#include "app/main_form.h"
#include "channels/sound_player.h"

namespace qm {

bool isWavHeader(std::string_view head)
{
    return head.size() >= 12 && head.substr(0, 4) == "RIFF" && head.substr(8, 4) == "WAVE";
}

void MainForm::soundTick()
{
    playSound(alarmSoundFile());
}

// The instance's a1.wav; without one that is a WAV file, the sound that comes
// with the program. What keeps a sound from playing is told (once).
QByteArray MainForm::alarmSoundFile()
{
    const QByteArray own = paths_.file("a1.wav");
    const std::optional<std::string> head = readRegularFile(own, 12);
    if (head && isWavHeader(*head))
        return own;
    const bool fallback = !defaultSound_.isEmpty() && readRegularFile(defaultSound_, 0);
    if (head)
        soundFailed(own, fallback ? QStringLiteral("it is not a WAV file; the default sound plays")
                                  : QStringLiteral("it is not a WAV file"));
    else if (!fallback)
        soundFailed(own, QStringLiteral("there is no such file, and no default sound"));
    return fallback ? defaultSound_ : own;
}

void MainForm::soundFailed(const QByteArray& path, const QString& why)
{
    const QString message =
        QStringLiteral("Alarm sound ") + QString::fromUtf8(path) + QStringLiteral(": ") + why;
    if (statusLine.notes().contains(message))
        return;
    statusLine.addNote(message);
    qCWarning(lcAlarm).noquote() << message;
}

void MainForm::playSound(const QByteArray& path)
{
    sound_.play(path);
}

} // namespace qm
