#include "channels/qt_sound_player.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace qm {

QtSoundPlayer::QtSoundPlayer() = default;

QtSoundPlayer::~QtSoundPlayer() = default;

void QtSoundPlayer::play(const QString& path)
{
    // No file, no sound: nothing to hand to the audio system (which would
    // complain about it on every request, every 3 s, for weeks).
    if (!QFileInfo::exists(path))
        return;

    // Created at the first request, so a program that never sounds an alarm
    // never touches the audio system.
    if (!effect_)
        effect_ = std::make_unique<QSoundEffect>();

    const QUrl source = QUrl::fromLocalFile(path);
    // Setting the same source again is a no-op in Qt; after a failed load
    // (file missing until now, unreadable) clear it first so the file is
    // looked at anew. Loading and playing are asynchronous: this returns at
    // once, and a missing file or absent audio output only sets the effect's
    // status to Error, which nobody reads.
    if (effect_->status() == QSoundEffect::Error)
        effect_->setSource(QUrl());
    effect_->setSource(source);
    effect_->play();
}

} // namespace qm
