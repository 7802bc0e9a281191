#pragma once

#include "account/ModelCredentials.h"
#include "transcription/TranscriptionReply.h"

#include <QByteArray>
#include <QDateTime>
#include <QFuture>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class Clock;
class QThread;
class TranscriptionUploader;
struct TranscriberCore;

struct TranscriberOptions
{
    // The vocabulary hint sent as "prompt", read afresh for every request (on the upload
    // thread, so it must be thread-safe); empty or unset sends no prompt.
    std::function<QString()> vocabularyPrompt;
    // Anchors the stream when its first chunk arrives; the system clock when unset.
    const Clock* clock = nullptr;
    std::chrono::milliseconds retryDelay { 800 };
    // Longest wait for any progress of one request.
    std::chrono::milliseconds requestTimeout { 30000 };
    // Longest time one request may take in all, however steadily its reply trickles in.
    std::chrono::milliseconds requestDeadline { 30000 };
};

// Turns one audio stream of a recording into finished lines of text. Chunks (base64 of
// 16-bit mono PCM at 24 kHz) are cut into utterances; each one that holds enough speech is
// uploaded as WAV on the transcriber's own thread, one after another, so the texts of a
// stream arrive in the order they were spoken. A failed upload is tried once more; a text
// equal to the one just before it is dropped.
//
// Callbacks run on the upload thread: hop to the receiver's thread before touching its
// state, and never block there on the main thread. Set them before connect().
// Destroying the transcriber drops the utterances still queued; an upload already under
// way finishes on its own and still reports through the callbacks.
class TessraTranscriber final
{
    Q_DISABLE_COPY_MOVE(TessraTranscriber)

public:
    enum class State { Idle, Listening, Transcribing };
    using TessraError = ::TessraError;
    using TranscriptHandler = std::function<void(const QString& text, double startOffset)>;
    using ErrorHandler = std::function<void(const TessraError& error)>;
    using StateHandler = std::function<void(State state)>;

    static constexpr int sampleRate = 24000;

    // `recordingId` goes out as "X-Recording-Id"; `language` none means automatic detection;
    // `sessionStart` is the recording's start, from which start offsets are counted.
    TessraTranscriber(const ModelCredentials& credentials, const QString& recordingId,
        const std::optional<QString>& language, const QDateTime& sessionStart, TranscriberOptions options = {});
    ~TessraTranscriber();

    // Each new text, trimmed at both ends, and its start in seconds from sessionStart.
    void setOnTranscriptCompleted(TranscriptHandler handler);
    // Called once for each utterance whose upload failed twice.
    void setOnError(ErrorHandler handler);
    // Called on the thread that changed the state.
    void setOnStateChanged(StateHandler handler);

    // Starts taking chunks; keeps the stream clock and any open utterance.
    void connect();
    // Stops taking chunks and drops the open utterance; queued uploads go on.
    void disconnect();
    // Any thread. Text that is not strict base64 is ignored (the clock does not move).
    void sendAudio(const QByteArray& base64Chunk);
    void sendAudio(const QString& base64Chunk);
    // Ends the open utterance now, queuing it when it holds enough speech.
    void commitBuffer();

    // Finishes when every upload queued before this call has ended (or, if the transcriber
    // is destroyed first, was dropped). Never blocks; use QFutureWatcher or .then().
    QFuture<void> pendingUploads() const;

    State state() const;
    // Seconds from sessionStart to the arrival of the first chunk, once one arrived.
    std::optional<double> streamStartOffset() const;
    // Seconds of audio received on this stream, also while disconnected.
    double audioClock() const;

    static float rms(const QByteArray& pcm16);
    static QByteArray wavFile(const QByteArray& pcm16, int sampleRate);
    static bool matchesHallucinationBlocklist(const QString& text);

private:
    void enqueueLocked(QByteArray pcm, double startOffset);

    std::shared_ptr<TranscriberCore> m_core;
    QThread* m_thread = nullptr;
    TranscriptionUploader* m_uploader = nullptr;
};
