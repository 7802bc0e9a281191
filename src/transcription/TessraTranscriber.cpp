#include "transcription/TessraTranscriber.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "transcription/StrictBase64.h"
#include "transcription/TranscriptionRequest.h"
#include "transcription/TranscriptionUploader.h"

#include <QThread>

TessraTranscriber::TessraTranscriber(const ModelCredentials& credentials, const QString& recordingId,
    const std::optional<QString>& language, const QDateTime& sessionStart, TranscriberOptions options)
    : m_core(std::make_shared<TranscriberCore>())
{
    m_core->credentials = credentials;
    m_core->recordingId = recordingId;
    m_core->language = language;
    m_core->sessionStart = sessionStart;
    m_core->options = std::move(options);
    if (!m_core->options.clock)
        m_core->options.clock = &Clock::system();

    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("TessraTranscriber"));
    m_uploader = new TranscriptionUploader(m_core);
    m_uploader->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_uploader, &QObject::deleteLater);
    m_thread->start();
}

TessraTranscriber::~TessraTranscriber()
{
    bool uploading = false;
    {
        std::lock_guard lock(m_core->bufferMutex);
        m_core->released = true;
        uploading = m_core->endedUploads < m_core->queuedUploads;
    }
    if (uploading) {
        // The upload under way ends on its own; the uploader then stops its thread, and the
        // thread object goes with the next turn of this thread's event loop.
        QObject::connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        QMetaObject::invokeMethod(m_uploader, &TranscriptionUploader::shutdown, Qt::QueuedConnection);
        return;
    }
    // Nothing is queued or running, so the thread only has to leave its idle event loop.
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void TessraTranscriber::setOnTranscriptCompleted(TranscriptHandler handler)
{
    std::lock_guard lock(m_core->callbackMutex);
    m_core->onTranscriptCompleted = std::move(handler);
}

void TessraTranscriber::setOnError(ErrorHandler handler)
{
    std::lock_guard lock(m_core->callbackMutex);
    m_core->onError = std::move(handler);
}

void TessraTranscriber::setOnStateChanged(StateHandler handler)
{
    std::lock_guard lock(m_core->callbackMutex);
    m_core->onStateChanged = std::move(handler);
}

void TessraTranscriber::connect()
{
    {
        std::lock_guard lock(m_core->bufferMutex);
        m_core->isStopped = false;
    }
    m_core->setState(State::Listening);
    const QString language = m_core->language.value_or(QString());
    Log::line("[Quillet] TessraTranscriber ready (model=%@, lang=%@)", TranscriptionRequest::model,
        language.isEmpty() ? QStringLiteral("auto") : language);
}

void TessraTranscriber::disconnect()
{
    {
        std::lock_guard lock(m_core->bufferMutex);
        m_core->isStopped = true;
        m_core->detector.discard();
    }
    m_core->setState(State::Idle);
}

void TessraTranscriber::sendAudio(const QString& base64Chunk)
{
    // Characters outside Latin-1 become '?', which strict decoding rejects.
    sendAudio(base64Chunk.toLatin1());
}

void TessraTranscriber::sendAudio(const QByteArray& base64Chunk)
{
    const std::optional<QByteArray> pcm = StrictBase64::decode(base64Chunk);
    if (!pcm)
        return;
    const float loudness = UtteranceDetector::rms(*pcm);

    std::lock_guard lock(m_core->bufferMutex);
    if (!m_core->detector.hasAnchor()) {
        const qint64 sinceStart = m_core->sessionStart.msecsTo(m_core->options.clock->now());
        m_core->detector.setAnchor(sinceStart > 0 ? double(sinceStart) / 1000.0 : 0.0);
    }
    std::optional<UtteranceDetector::Utterance> utterance
        = m_core->detector.addChunk(*pcm, loudness, !m_core->isStopped);
    if (utterance)
        enqueueLocked(std::move(utterance->pcm), utterance->startOffset);
}

void TessraTranscriber::commitBuffer()
{
    std::lock_guard lock(m_core->bufferMutex);
    std::optional<UtteranceDetector::Utterance> utterance = m_core->detector.commit();
    if (utterance)
        enqueueLocked(std::move(utterance->pcm), utterance->startOffset);
}

void TessraTranscriber::enqueueLocked(QByteArray pcm, double startOffset)
{
    // Posting under the buffer lock keeps the upload order equal to the order of cutting,
    // also when the capture thread and commitBuffer() on the main thread race.
    TranscriptionUploader::Job job { ++m_core->queuedUploads, std::move(pcm), startOffset };
    QMetaObject::invokeMethod(
        m_uploader, [uploader = m_uploader, job = std::move(job)]() mutable { uploader->enqueue(std::move(job)); },
        Qt::QueuedConnection);
}

QFuture<void> TessraTranscriber::pendingUploads() const
{
    QPromise<void> promise;
    QFuture<void> future = promise.future();
    promise.start();
    std::lock_guard lock(m_core->bufferMutex);
    if (m_core->endedUploads >= m_core->queuedUploads) {
        promise.finish();
        return future;
    }
    m_core->waiters.emplace_back(m_core->queuedUploads, std::move(promise));
    return future;
}

TessraTranscriber::State TessraTranscriber::state() const
{
    std::lock_guard lock(m_core->stateMutex);
    return m_core->state;
}

std::optional<double> TessraTranscriber::streamStartOffset() const
{
    std::lock_guard lock(m_core->bufferMutex);
    return m_core->detector.streamStartOffset();
}

double TessraTranscriber::audioClock() const
{
    std::lock_guard lock(m_core->bufferMutex);
    return m_core->detector.audioClock();
}

float TessraTranscriber::rms(const QByteArray& pcm16)
{
    return UtteranceDetector::rms(pcm16);
}

QByteArray TessraTranscriber::wavFile(const QByteArray& pcm16, int sampleRate)
{
    return TranscriptionRequest::wavFile(pcm16, sampleRate);
}

bool TessraTranscriber::matchesHallucinationBlocklist(const QString& text)
{
    return TranscriptionReply::matchesHallucinationBlocklist(text);
}
