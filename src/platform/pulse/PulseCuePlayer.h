#pragma once

#include "platform/CuePlayer.h"

#include <QObject>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// CuePlayer over the PulseAudio simple API, on a thread of its own so the main thread never
// waits for the sound server. Each cue opens its own playback stream, so a server that
// appears or goes away between cues is handled; with no server the cue is skipped silently.
// A new cue stops the one that plays (its buffered rest is flushed).
class PulseCuePlayer final : public QObject, public CuePlayer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PulseCuePlayer)

public:
    explicit PulseCuePlayer(QObject* parent = nullptr);
    ~PulseCuePlayer() override;

    void play(const QByteArray& wav, float volume) override;

signals:
    // Emitted on this object's thread when a cue ends: played is false when it could not be
    // played (no server, unreadable WAV) or was cut off by a newer cue.
    void cueFinished(bool played);

private:
    struct Cue
    {
        QByteArray samples; // 16-bit mono little-endian, volume applied
        int sampleRate = 0;
        quint64 generation = 0;
    };

    void run();
    bool playCue(const Cue& cue);
    bool superseded(quint64 generation);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Cue> m_next;
    quint64 m_generation = 0;
    bool m_stopping = false;
    std::thread m_thread;
};
