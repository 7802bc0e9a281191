#pragma once

#include "transcription/TessraTranscriber.h"
#include "transcription/UtteranceDetector.h"

#include <QObject>
#include <QPromise>
#include <deque>
#include <mutex>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

// State shared by a transcriber (capture and main threads) and its uploader (upload
// thread). It outlives the transcriber while an upload is still under way.
struct TranscriberCore
{
    using State = TessraTranscriber::State;

    ModelCredentials credentials;
    QString recordingId;
    std::optional<QString> language;
    QDateTime sessionStart;
    TranscriberOptions options;

    // Guards the detector, the stop flag and the upload bookkeeping.
    mutable std::mutex bufferMutex;
    UtteranceDetector detector;
    bool isStopped = false;
    bool released = false;
    quint64 queuedUploads = 0;
    quint64 endedUploads = 0;
    std::vector<std::pair<quint64, QPromise<void>>> waiters;

    mutable std::mutex stateMutex;
    State state = State::Idle;

    mutable std::mutex callbackMutex;
    TessraTranscriber::TranscriptHandler onTranscriptCompleted;
    TessraTranscriber::ErrorHandler onError;
    TessraTranscriber::StateHandler onStateChanged;

    void setState(State next);
    // Marks uploads up to `sequence` as ended and releases whoever waited for them.
    void uploadsEnded(quint64 sequence);
};

// Runs on the transcriber's own thread with its own network manager; takes utterances in
// the order they were cut and sends one at a time.
class TranscriptionUploader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranscriptionUploader)

public:
    struct Job
    {
        quint64 sequence = 0;
        QByteArray pcm;
        double startOffset = 0;
    };

    explicit TranscriptionUploader(std::shared_ptr<TranscriberCore> core);
    ~TranscriptionUploader() override;

    void enqueue(Job job);
    // The transcriber is gone: drop what is queued, let the running upload end, then stop
    // the thread.
    void shutdown();

private:
    void startNext();
    void sendAttempt();
    void onFinished(QNetworkReply* reply);
    void finishCurrent(const Result<QString, TessraError>& result);
    bool isRepeatOfLastEmission(const QString& text);

    std::shared_ptr<TranscriberCore> m_core;
    QNetworkAccessManager* m_network = nullptr;
    std::deque<Job> m_queue;
    std::optional<Job> m_current;
    QByteArray m_currentWav;
    int m_attempt = 0;
    QString m_lastEmittedText;
    bool m_shuttingDown = false;
};
