#pragma once

#include "platform/CuePlayer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <memory>

// Audible cues for recording start/resume (playStart) and pause/stop (playStop). The cues are
// chords synthesised into WAV files in memory; nothing ships as a sound file. Main thread.
// The caller decides whether cues are wanted ("soundEnabled").
class SoundFeedback final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SoundFeedback)

public:
    struct Tone
    {
        double frequency; // Hz
        double amplitude; // fraction of full scale
    };

    static constexpr int kSampleRate = 44100;
    static constexpr int kStopChordGapMs = 100;

    // Plays through the desktop's sound server.
    explicit SoundFeedback(QObject* parent = nullptr);
    // Plays through the given player (tests).
    explicit SoundFeedback(CuePlayer& player, QObject* parent = nullptr);
    ~SoundFeedback() override;

    // Start and resume cue: one rising chord.
    void playStart();
    // Stop and pause cue: two falling chords, the second 0.1 s after the first.
    void playStop();

    // Mono 44.1 kHz 16-bit WAV of one chord: each tone with its 2nd (8 %) and 3rd (3 %)
    // harmonic, optional raised-cosine fade-in over the first quarter, raised-cosine fall over
    // the second half, a linear pitch bend to pitchBend at the end, clamped to 16 bits.
    static QByteArray renderChord(const QList<Tone>& tones, double durationSeconds, bool fadeIn, double pitchBend);

    static QByteArray startCue();
    static QByteArray stopCueFirst();
    static QByteArray stopCueSecond();

private:
    std::unique_ptr<CuePlayer> m_ownPlayer;
    CuePlayer& m_player;
};
