#pragma once

// A cue player that notes each cue (its WAV bytes and volume) instead of playing it.

#include "platform/CuePlayer.h"

#include <QByteArray>
#include <QList>
#include <utility>

class RecordingCuePlayer final : public CuePlayer
{
public:
    void play(const QByteArray& wav, float volume) override { played.append({ wav, volume }); }

    QList<std::pair<QByteArray, float>> played;
};
