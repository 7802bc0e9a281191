#include "summary/SummaryGenerator.h"

#include "format/TextPrefix.h"
#include "network/ReplyLimiter.h"
#include "platform/Log.h"
#include "summary/ChatCompletions.h"
#include "summary/ReasoningStripper.h"
#include "summary/SummaryPrompts.h"

#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPromise>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimer>
#include <cmath>
#include <map>
#include <memory>

QString SummaryError::description() const
{
    switch (kind) {
    case Kind::Api:
        return QStringLiteral("Tessra API error (") + QString::number(status) + QStringLiteral("): ") + text;
    case Kind::InvalidResponse:
        return QStringLiteral("Invalid response from Tessra");
    case Kind::Parse:
        return QStringLiteral("Failed to parse Tessra response");
    case Kind::Refused:
    case Kind::Transfer:
    case Kind::MalformedJson:
        return text;
    case Kind::Cancelled:
        return QStringLiteral("The request was cancelled");
    }
    return {};
}

namespace {

// QNetworkReply reports HTTP error statuses as errors too; those are answers, not failures
// of the transfer, and are judged by their status code instead.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return (code >= 201 && code <= 299) || (code >= 401 && code <= 499)
        || error == QNetworkReply::ProtocolInvalidOperationError;
}

QString bodyText(const QByteArray& body)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return QStringLiteral("Unknown error");
    return text;
}

Result<QString, SummaryError> answerFrom(const QByteArray& body)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Result<QString, SummaryError>::failure(SummaryError::malformedJson(parseError.errorString()));
    const QJsonArray choices = document.object().value(QStringLiteral("choices")).toArray();
    const QJsonValue content
        = choices.first().toObject().value(QStringLiteral("message")).toObject().value(QStringLiteral("content"));
    if (choices.isEmpty() || !content.isString())
        return Result<QString, SummaryError>::failure(SummaryError::parse());
    return Result<QString, SummaryError>::success(content.toString());
}

} // namespace

// Lives on the generator's thread: owns the network access and the requests in flight.
class SummaryGeneratorWorker final : public QObject
{
public:
    using Done = std::function<void(const Result<QString, SummaryError>&)>;

    SummaryGeneratorWorker(const ModelCredentials& credentials, SummaryGenerator::RetryWait retryWait)
        : m_credentials(credentials)
        , m_retryWait(std::move(retryWait))
    { }

    // Starts one completion; `done` runs exactly once, on this thread.
    quint64 startCompletion(const QString& systemPrompt, const QString& userContent, int maxTokens, Done done)
    {
        auto call = std::make_unique<Call>();
        call->id = ++m_lastId;
        call->body = ChatCompletions::body(kSummaryModel(),
            { { QStringLiteral("system"), systemPrompt }, { QStringLiteral("user"), userContent } }, maxTokens, false);
        call->done = std::move(done);
        const quint64 id = call->id;
        m_calls.emplace(id, std::move(call));
        send(id);
        return id;
    }

    void cancel(quint64 id) { finish(id, Result<QString, SummaryError>::failure(SummaryError::cancelled())); }

    // Cancels `ids` when the caller cancels the future it holds.
    template <typename T> void cancelWith(const QFuture<T>& future, const std::vector<quint64>& ids)
    {
        auto* watcher = new QFutureWatcher<T>(this);
        connect(watcher, &QFutureWatcherBase::canceled, this, [this, ids] {
            for (quint64 id : ids)
                cancel(id);
        });
        connect(watcher, &QFutureWatcherBase::finished, watcher, &QObject::deleteLater);
        watcher->setFuture(future);
    }

    void setDeadline(std::chrono::milliseconds deadline) { m_deadline = deadline; }

    void shutdown()
    {
        while (!m_calls.empty())
            cancel(m_calls.begin()->first);
    }

private:
    static QString kSummaryModel() { return ChatCompletions::kSummaryModel.toString(); }

    struct Call
    {
        quint64 id = 0;
        QByteArray body;
        int attempt = 0;
        QPointer<QNetworkReply> reply;
        std::unique_ptr<QTimer> waitTimer;
        Done done;
    };

    QNetworkAccessManager& network()
    {
        // Made here, on the worker's thread, which it then belongs to.
        if (!m_network)
            m_network = new QNetworkAccessManager(this);
        return *m_network;
    }

    Call* find(quint64 id)
    {
        const auto it = m_calls.find(id);
        return it == m_calls.end() ? nullptr : it->second.get();
    }

    void send(quint64 id)
    {
        Call* call = find(id);
        if (!call)
            return;
        ++call->attempt;
        QNetworkReply* reply = ReplyLimiter::send(network(), ChatCompletions::request(m_credentials, false), "POST",
            call->body, { ChatCompletions::kTimeout, m_deadline, RequestLimits::kJsonReplyBytes });
        call->reply = reply;
        connect(reply, &QNetworkReply::finished, this, [this, id, reply] { onFinished(id, reply); });
    }

    void onFinished(quint64 id, QNetworkReply* reply)
    {
        reply->deleteLater();
        Call* call = find(id);
        if (!call || call->reply != reply)
            return;
        call->reply = nullptr;

        const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (ReplyLimiter::failure(reply)
            || (reply->error() != QNetworkReply::NoError
                && (!statusAttribute.isValid() || !isHttpStatusError(reply->error())))) {
            const TransportError transport = TransportError::of(reply).value_or(
                TransportError { TransportError::Kind::Other, reply->errorString() });
            finish(id, Result<QString, SummaryError>::failure(SummaryError::transfer(transport)));
            return;
        }
        if (!statusAttribute.isValid()) {
            finish(id, Result<QString, SummaryError>::failure(SummaryError::invalidResponse()));
            return;
        }
        const int status = statusAttribute.toInt();
        if (status == 429) {
            if (call->attempt >= SummaryGenerator::kMaxAttempts) {
                finish(
                    id, Result<QString, SummaryError>::failure(SummaryError::api(429, QStringLiteral("Rate limited"))));
                return;
            }
            std::optional<QByteArray> retryAfter;
            if (reply->hasRawHeader("Retry-After"))
                retryAfter = reply->rawHeader("Retry-After");
            const std::chrono::milliseconds wait = SummaryGenerator::retryWait(retryAfter, call->attempt);
            Log::line("[Quillet] Rate limited, retrying in %.0fs (attempt %d/%d)", double(wait.count()) / 1000.0,
                call->attempt, SummaryGenerator::kMaxAttempts);
            const std::chrono::milliseconds actualWait = m_retryWait ? m_retryWait(wait) : wait;
            call->waitTimer = std::make_unique<QTimer>();
            call->waitTimer->setSingleShot(true);
            connect(call->waitTimer.get(), &QTimer::timeout, this, [this, id] { send(id); });
            call->waitTimer->start(actualWait);
            return;
        }
        if (status == 401 || status == 403) {
            finish(id,
                Result<QString, SummaryError>::failure(
                    SummaryError::refused(status, m_credentials.kind, bodyText(ReplyLimiter::body(reply)))));
            return;
        }
        if (status != 200) {
            finish(id,
                Result<QString, SummaryError>::failure(SummaryError::api(status, bodyText(ReplyLimiter::body(reply)))));
            return;
        }
        finish(id, answerFrom(ReplyLimiter::body(reply)));
    }

    void finish(quint64 id, const Result<QString, SummaryError>& result)
    {
        const auto it = m_calls.find(id);
        if (it == m_calls.end())
            return;
        std::unique_ptr<Call> call = std::move(it->second);
        m_calls.erase(it);
        call->waitTimer.reset();
        if (QNetworkReply* reply = call->reply) {
            reply->disconnect(this);
            // A reply that already failed (an HTTP error status) has nothing left to abort.
            if (reply->error() == QNetworkReply::NoError)
                reply->abort();
            reply->deleteLater();
        }
        call->done(result);
    }

    ModelCredentials m_credentials;
    SummaryGenerator::RetryWait m_retryWait;
    std::chrono::milliseconds m_deadline { ChatCompletions::kTimeout };
    QNetworkAccessManager* m_network = nullptr;
    std::map<quint64, std::unique_ptr<Call>> m_calls;
    quint64 m_lastId = 0;
};

namespace {

template <typename T> std::shared_ptr<QPromise<Result<T, SummaryError>>> startedPromise()
{
    auto promise = std::make_shared<QPromise<Result<T, SummaryError>>>();
    promise->start();
    return promise;
}

template <typename T> void fulfil(QPromise<Result<T, SummaryError>>& promise, const Result<T, SummaryError>& result)
{
    promise.addResult(result);
    promise.finish();
}

Result<QString, SummaryError> mapSummary(const Result<QString, SummaryError>& answer)
{
    if (!answer.ok())
        return answer;
    return Result<QString, SummaryError>::success(SummaryGenerator::cleanSummary(answer.value()));
}

Result<std::optional<QString>, SummaryError> mapTitle(const Result<QString, SummaryError>& answer)
{
    if (!answer.ok())
        return Result<std::optional<QString>, SummaryError>::failure(answer.error());
    return Result<std::optional<QString>, SummaryError>::success(SummaryGenerator::cleanTitle(answer.value()));
}

// Starts one completion on the worker's thread; the future settles with the answer as `map`
// turns it, and cancelling the future cancels the request.
template <typename T, typename Map>
QFuture<Result<T, SummaryError>> singleCompletion(
    SummaryGeneratorWorker* worker, const QString& systemPrompt, const QString& userContent, int maxTokens, Map map)
{
    auto promise = startedPromise<T>();
    QMetaObject::invokeMethod(
        worker,
        [worker, promise, systemPrompt, userContent, maxTokens, map] {
            const quint64 id = worker->startCompletion(systemPrompt, userContent, maxTokens,
                [promise, map](const Result<QString, SummaryError>& answer) { fulfil(*promise, map(answer)); });
            worker->cancelWith(promise->future(), { id });
        },
        Qt::QueuedConnection);
    return promise->future();
}

} // namespace

SummaryGenerator::SummaryGenerator(const ModelCredentials& credentials, QObject* parent)
    : SummaryGenerator(credentials, RetryWait(), parent)
{ }

SummaryGenerator::SummaryGenerator(const ModelCredentials& credentials, RetryWait retryWait, QObject* parent)
    : QObject(parent)
    , m_worker(new SummaryGeneratorWorker(credentials, std::move(retryWait)))
{
    m_thread.setObjectName(QStringLiteral("SummaryGenerator"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

SummaryGenerator::~SummaryGenerator()
{
    // Aborting the requests in flight is immediate, so the join below does not wait on work.
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker] {
            worker->shutdown();
            worker->deleteLater();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_thread.wait();
}

void SummaryGenerator::setRequestDeadline(std::chrono::milliseconds deadline)
{
    // Queued like every request, so it applies to all requests started after this call.
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, deadline] { worker->setDeadline(deadline); }, Qt::QueuedConnection);
}

QFuture<Result<QString, SummaryError>> SummaryGenerator::chatCompletion(
    const QString& systemPrompt, const QString& userContent, int maxTokens)
{
    return singleCompletion<QString>(m_worker, systemPrompt, userContent, maxTokens,
        [](const Result<QString, SummaryError>& answer) { return answer; });
}

QFuture<Result<std::optional<QString>, SummaryError>> SummaryGenerator::generateTitle(const QString& transcript)
{
    return singleCompletion<std::optional<QString>>(m_worker, SummaryPrompts::titlePrompt(),
        TextPrefix::graphemes(transcript, kTitleTranscriptLength), kTitleMaxTokens, mapTitle);
}

QFuture<Result<QString, SummaryError>> SummaryGenerator::generateSummary(
    const QString& transcript, const QString& userNotes, const std::optional<QString>& calendarContext)
{
    return singleCompletion<QString>(m_worker, SummaryPrompts::summarySystemPrompt(calendarContext),
        SummaryPrompts::summaryUserContent(transcript, userNotes), kSummaryMaxTokens, mapSummary);
}

QFuture<Result<GeneratedTitleAndSummary, SummaryError>> SummaryGenerator::generateTitleAndSummary(
    const QString& transcript, const QString& userNotes, const std::optional<QString>& calendarContext)
{
    auto promise = startedPromise<GeneratedTitleAndSummary>();
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, promise, transcript, userNotes, calendarContext] {
            struct Run
            {
                std::optional<Result<std::optional<QString>, SummaryError>> title;
                std::optional<Result<QString, SummaryError>> summary;
                quint64 summaryId = 0;
                bool settled = false;
            };
            auto run = std::make_shared<Run>();
            // Decides once the title is in: its failure ends the run at once (abandoning the
            // summary); otherwise the run waits for the summary.
            auto settle = [worker, promise, run] {
                if (run->settled || !run->title)
                    return;
                using Result = ::Result<GeneratedTitleAndSummary, SummaryError>;
                if (!run->title->ok()) {
                    run->settled = true;
                    worker->cancel(run->summaryId);
                    fulfil(*promise, Result::failure(run->title->error()));
                    return;
                }
                if (!run->summary)
                    return;
                run->settled = true;
                if (!run->summary->ok())
                    fulfil(*promise, Result::failure(run->summary->error()));
                else
                    fulfil(*promise, Result::success({ run->title->value(), run->summary->value() }));
            };
            const quint64 titleId = worker->startCompletion(SummaryPrompts::titlePrompt(),
                TextPrefix::graphemes(transcript, kTitleTranscriptLength), kTitleMaxTokens,
                [run, settle](const auto& answer) {
                    run->title = mapTitle(answer);
                    settle();
                });
            run->summaryId = worker->startCompletion(SummaryPrompts::summarySystemPrompt(calendarContext),
                SummaryPrompts::summaryUserContent(transcript, userNotes), kSummaryMaxTokens,
                [run, settle](const auto& answer) {
                    run->summary = mapSummary(answer);
                    settle();
                });
            worker->cancelWith(promise->future(), { titleId, run->summaryId });
        },
        Qt::QueuedConnection);
    return promise->future();
}

std::optional<double> SummaryGenerator::retryAfterSeconds(QByteArrayView headerValue)
{
    // Digits with an optional fraction and exponent, an optional leading sign; nothing else.
    static const QRegularExpression decimal(QStringLiteral(R"(\A[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?\z)"));
    if (!decimal.match(QString::fromLatin1(headerValue)).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double seconds = headerValue.toByteArray().toDouble(&ok);
    // A negative wait means nothing; such a value falls back to the exponential wait.
    if (!ok || !std::isfinite(seconds) || seconds < 0)
        return std::nullopt;
    return seconds;
}

std::chrono::milliseconds SummaryGenerator::retryWait(const std::optional<QByteArray>& retryAfterHeader, int attempt)
{
    std::optional<double> seconds;
    if (retryAfterHeader)
        seconds = retryAfterSeconds(*retryAfterHeader);
    const double wait = std::min(seconds.value_or(std::pow(2.0, attempt)), double(kMaxRetryWait.count()));
    return std::chrono::milliseconds(std::llround(wait * 1000.0));
}

QString SummaryGenerator::cleanSummary(const QString& answer)
{
    const QString text = ReasoningStripper::withoutThinkTags(answer.trimmed());
    if (ReasoningStripper::startsWithReasoning(text)) {
        // Reasoning prose ahead of the summary: keep it from the first markdown heading on.
        const qsizetype heading = text.indexOf(QStringLiteral("\n#"));
        if (heading >= 0)
            return text.mid(heading).trimmed();
    }
    return text;
}

std::optional<QString> SummaryGenerator::cleanTitle(const QString& answer)
{
    const std::optional<QString> line = ReasoningStripper::title(answer);
    if (!line)
        return std::nullopt;
    QString title = *line;
    title.remove(QLatin1Char('"'));
    return TextPrefix::graphemes(title, kTitleMaxLength);
}
