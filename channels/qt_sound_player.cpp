#include "channels/qt_sound_player.h"

#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

QtSoundPlayer::QtSoundPlayer() = default;

QtSoundPlayer::~QtSoundPlayer()
{
    effect_.reset();
}

void QtSoundPlayer::play(const QByteArray& path)
{
    // No file, no sound: nothing to hand to the audio system (which would
    // complain about it on every request, every 3 s, for weeks). Only a
    // regular file: a FIFO would hang the loader.
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return;

    // Qt names files by text. A path that is not UTF-8 does not survive that,
    // so the file is then reached through a descriptor of this process.
    QString name = QFile::decodeName(path);
    if (QFile::encodeName(name) != path) {
        if (!fd_.valid())
            fd_.reset(::open(path.constData(), O_RDONLY | O_CLOEXEC));
        if (!fd_.valid())
            return;
        name = QStringLiteral("/proc/self/fd/%1").arg(fd_.get());
    }

    // Asked at the first request, so a program that never sounds an alarm
    // never touches the audio system; a device plugged in later is used.
    requested_ = path;
    if (QMediaDevices::audioOutputs().isEmpty())
        return failed(path, QStringLiteral("there is no audio output device"));
    if (!effect_) {
        effect_ = std::make_unique<QSoundEffect>();
        QObject::connect(effect_.get(), &QSoundEffect::statusChanged, effect_.get(), [this] {
            if (effect_->status() == QSoundEffect::Error)
                failed(requested_, QStringLiteral("the audio system cannot play it (a WAV file "
                                                  "of uncompressed PCM samples can be played)"));
        });
    }

    const QUrl source = QUrl::fromLocalFile(name);
    // Setting the same source again is a no-op in Qt; after a failed load
    // (file missing until now, unreadable) clear it first so the file is
    // looked at anew. Loading and playing are asynchronous: this returns at
    // once, and a file that cannot play or an absent audio output sets the
    // effect's status to Error later, which is told (above).
    if (effect_->status() == QSoundEffect::Error)
        effect_->setSource(QUrl());
    effect_->setSource(source);
    effect_->play();
}

} // namespace qm
