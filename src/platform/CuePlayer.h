#pragma once

#include <QByteArray>

// Plays a short sound held in memory. One cue at a time: a new cue stops the one before.
class CuePlayer
{
public:
    virtual ~CuePlayer() = default;

    // wav: a complete 16-bit PCM WAV file; volume: 0 to 1. Returns at once; without a sound
    // server the cue is skipped silently.
    virtual void play(const QByteArray& wav, float volume) = 0;
};
