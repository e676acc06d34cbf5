#pragma once

#include "base/files.h"

#include "channels/sound_player.h"

#include <memory>

class QSoundEffect;

namespace qm {

// Plays WAV files through Qt Multimedia, asynchronously.
class QtSoundPlayer final : public SoundPlayer {
public:
    QtSoundPlayer();
    ~QtSoundPlayer() override;
    void play(const QByteArray& path) override;

private:
    std::unique_ptr<QSoundEffect> effect_;
    FileDescriptor fd_;    // the file being played, where only a descriptor can name it
    QByteArray requested_; // the path of the file asked for last
};

} // namespace qm
