#include "transcription/TranscriptionUploader.h"

#include "network/ReplyLimiter.h"
#include "network/TransportError.h"
#include "platform/Log.h"
#include "transcription/TranscriptText.h"
#include "transcription/TranscriptionRequest.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>

namespace {

constexpr int kAttempts = 2;
constexpr qsizetype kLoggedCharacters = 50;

} // namespace

void TranscriberCore::setState(State next)
{
    {
        std::lock_guard lock(stateMutex);
        if (state == next)
            return;
        state = next;
    }
    TessraTranscriber::StateHandler handler;
    {
        std::lock_guard lock(callbackMutex);
        handler = onStateChanged;
    }
    if (handler)
        handler(next);
}

void TranscriberCore::uploadsEnded(quint64 sequence)
{
    std::vector<QPromise<void>> released;
    {
        std::lock_guard lock(bufferMutex);
        endedUploads = std::max(endedUploads, sequence);
        for (auto it = waiters.begin(); it != waiters.end();) {
            if (it->first <= endedUploads) {
                released.push_back(std::move(it->second));
                it = waiters.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (QPromise<void>& promise : released)
        promise.finish();
}

TranscriptionUploader::TranscriptionUploader(std::shared_ptr<TranscriberCore> core)
    : m_core(std::move(core))
{ }

TranscriptionUploader::~TranscriptionUploader() = default;

void TranscriptionUploader::enqueue(Job job)
{
    if (m_shuttingDown)
        return;
    m_queue.push_back(std::move(job));
    startNext();
}

void TranscriptionUploader::shutdown()
{
    m_shuttingDown = true;
    quint64 last = 0;
    {
        std::lock_guard lock(m_core->bufferMutex);
        last = m_core->queuedUploads;
    }
    m_queue.clear();
    if (!m_current) {
        m_core->uploadsEnded(last);
        thread()->quit();
    }
}

void TranscriptionUploader::startNext()
{
    if (m_current || m_queue.empty())
        return;
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    if (!m_network) {
        // Made here, on the upload thread, which it then belongs to.
        m_network = new QNetworkAccessManager(this);
    }
    m_core->setState(TranscriberCore::State::Transcribing);
    m_currentWav = TranscriptionRequest::wavFile(m_current->pcm, TessraTranscriber::sampleRate);
    m_current->pcm = QByteArray();
    m_attempt = 0;
    sendAttempt();
}

void TranscriptionUploader::sendAttempt()
{
    ++m_attempt;
    const QString boundary = TranscriptionRequest::newBoundary();
    TranscriptionRequest::Fields fields;
    if (m_core->options.vocabularyPrompt)
        fields.prompt = m_core->options.vocabularyPrompt();
    fields.language = m_core->language;

    QNetworkRequest request(TranscriptionRequest::endpoint(m_core->credentials.baseUrl));
    request.setRawHeader("Authorization", "Bearer " + m_core->credentials.token.toUtf8());
    request.setRawHeader("X-Recording-Id", m_core->recordingId.toUtf8());
    request.setRawHeader("Content-Type", "multipart/form-data; boundary=" + boundary.toUtf8());

    QNetworkReply* reply = ReplyLimiter::send(*m_network, request, "POST",
        TranscriptionRequest::multipartBody(boundary, fields, m_currentWav),
        { m_core->options.requestTimeout, m_core->options.requestDeadline, RequestLimits::kJsonReplyBytes });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
}

void TranscriptionUploader::onFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const Result<QString, TessraError> result = [&]() -> Result<QString, TessraError> {
        if (const std::optional<TransportError> transport = TransportError::of(reply))
            return TessraError { TessraError::Kind::Transport, transport->description(), transport->detail };
        if (!status.isValid())
            return TessraError { TessraError::Kind::BadResponse, QStringLiteral("No HTTP response"), {} };
        return TranscriptionReply::read(status.toInt(), ReplyLimiter::body(reply), m_core->credentials.kind);
    }();

    if (!result.ok() && m_attempt < kAttempts) {
        QTimer::singleShot(m_core->options.retryDelay, this, &TranscriptionUploader::sendAttempt);
        return;
    }
    finishCurrent(result);
}

void TranscriptionUploader::finishCurrent(const Result<QString, TessraError>& result)
{
    const Job job = std::move(*m_current);
    m_current.reset();
    m_currentWav = QByteArray();

    TessraTranscriber::TranscriptHandler onText;
    TessraTranscriber::ErrorHandler onError;
    {
        std::lock_guard lock(m_core->callbackMutex);
        onText = m_core->onTranscriptCompleted;
        onError = m_core->onError;
    }
    if (!result.ok()) {
        Log::line("[Quillet] Tessra transcription failed: %@", result.error().logText());
        if (onError)
            onError(result.error());
    } else {
        const QString text = result.value().trimmed();
        if (!text.isEmpty() && !isRepeatOfLastEmission(text) && onText)
            onText(text, job.startOffset);
    }

    bool stopped = false;
    {
        std::lock_guard lock(m_core->bufferMutex);
        stopped = m_core->isStopped;
    }
    m_core->setState(stopped ? TranscriberCore::State::Idle : TranscriberCore::State::Listening);
    m_core->uploadsEnded(job.sequence);

    if (m_shuttingDown) {
        shutdown();
        return;
    }
    startNext();
}

bool TranscriptionUploader::isRepeatOfLastEmission(const QString& text)
{
    const QString normalized = TranscriptText::folded(text).trimmed();
    if (normalized == m_lastEmittedText) {
        Log::line("[Quillet] Dropped repeated utterance: %@", TranscriptText::prefix(text, kLoggedCharacters));
        return true;
    }
    m_lastEmittedText = normalized;
    return false;
}
