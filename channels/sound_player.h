#pragma once

#include <QByteArray>

namespace qm {

// Plays a WAV file asynchronously: the call returns at once. A missing file or
// a machine without audio output is silent and harmless.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QByteArray& path) = 0;
};

} // namespace qm
