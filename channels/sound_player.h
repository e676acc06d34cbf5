#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string_view>

namespace qm {

// Plays a WAV file asynchronously: the call returns at once.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QByteArray& path) = 0;

    // Told, possibly after play() has returned, when a file it was given
    // cannot play, and why ("there is no audio output device").
    void setOnFailure(std::function<void(const QByteArray&, const QString&)> onFailure)
    {
        onFailure_ = std::move(onFailure);
    }

protected:
    void failed(const QByteArray& path, const QString& why) const
    {
        if (onFailure_)
            onFailure_(path, why);
    }

private:
    std::function<void(const QByteArray&, const QString&)> onFailure_;
};

// Whether the first bytes of a file are those of a WAV file: "RIFF", the
// size, "WAVE".
bool isWavHeader(std::string_view head);

} // namespace qm
