#pragma once

#include "account/ModelCredentials.h"
#include "format/Result.h"
#include "network/TransportError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFuture>
#include <QObject>
#include <QString>
#include <QThread>
#include <chrono>
#include <functional>
#include <optional>

// Why a summary, title or completion request failed. description() is the text users see.
struct SummaryError
{
    enum class Kind {
        Api, // an HTTP status other than 200 (text: the reply body)
        Refused, // 401 or 403: the credential was refused (text: which one, in words)
        InvalidResponse, // the reply was not an HTTP reply
        Parse, // JSON without a string at choices[0].message.content
        Transfer, // no connection, timeout, broken transfer (text: the network layer's words)
        MalformedJson, // a 200 reply that is not JSON (text: the parser's words)
        Cancelled, // the request was cancelled or its generator went away
    };

    // A result nothing was put into is one whose request went away on the way.
    Kind kind = Kind::Cancelled;
    int status = 0;
    QString text;
    // Transfer: the network layer's own words, for the log; Refused: the server's answer.
    QString detail;

    static SummaryError api(int status, const QString& body) { return { Kind::Api, status, body, {} }; }
    static SummaryError refused(int status, ModelCredentials::Kind credential, const QString& body)
    {
        return { Kind::Refused, status, ModelCredentials::refusedText(credential), api(status, body).description() };
    }
    static SummaryError invalidResponse() { return { Kind::InvalidResponse, 0, {}, {} }; }
    static SummaryError parse() { return { Kind::Parse, 0, {}, {} }; }
    static SummaryError transfer(const TransportError& error)
    {
        return { Kind::Transfer, 0, error.description(), error.detail };
    }
    static SummaryError malformedJson(const QString& description)
    {
        return { Kind::MalformedJson, 0, description, {} };
    }
    static SummaryError cancelled() { return { Kind::Cancelled, 0, {}, {} }; }

    QString description() const;
    QString logText() const { return detail.isEmpty() ? description() : detail; }

    friend bool operator==(const SummaryError&, const SummaryError&) = default;
};

struct GeneratedTitleAndSummary
{
    // Nothing when the model gave no usable title line; an empty title counts as given.
    std::optional<QString> title;
    QString summary;
};

class SummaryGeneratorWorker;

// Writes a meeting's summary and title through the provider's chat-completions service.
//
// Each generator runs its requests on a thread of its own and answers with futures; attach
// the continuation to an object of the calling thread so it runs there:
//
//   generator->generateTitleAndSummary(transcript, notes, context)
//       .then(this, [this](const Result<GeneratedTitleAndSummary, SummaryError>& result) { ... });
//
// Cancelling a returned future aborts its requests (a cancelled future runs no .then()
// continuation). Destroying the generator aborts whatever is still running; those futures
// end with a Cancelled error. A generator holds the credentials it was made with.
class SummaryGenerator final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SummaryGenerator)

public:
    // Maps the wait the service asked for before a retry to the time actually waited.
    // Called on the generator's thread. Tests pass one that records and returns zero.
    using RetryWait = std::function<std::chrono::milliseconds(std::chrono::milliseconds requested)>;

    static constexpr int kMaxAttempts = 3;
    static constexpr int kSummaryMaxTokens = 2048;
    static constexpr int kTitleMaxTokens = 200;
    static constexpr qsizetype kTitleTranscriptLength = 2000;
    static constexpr qsizetype kTitleMaxLength = 120;
    static constexpr std::chrono::seconds kMaxRetryWait { 60 };

    explicit SummaryGenerator(const ModelCredentials& credentials, QObject* parent = nullptr);
    SummaryGenerator(const ModelCredentials& credentials, RetryWait retryWait, QObject* parent = nullptr);
    ~SummaryGenerator() override;

    // Shortens the whole-request limit of each attempt (by default 120 s, as long as the
    // longest silence); tests use it.
    void setRequestDeadline(std::chrono::milliseconds deadline);

    // One whole (not streamed) completion with the model "fast": up to three attempts while
    // the service answers 429, then the text at choices[0].message.content exactly as sent.
    QFuture<Result<QString, SummaryError>> chatCompletion(
        const QString& systemPrompt, const QString& userContent, int maxTokens);

    // A one-line title from the first 2000 characters of the formatted transcript, or nothing.
    QFuture<Result<std::optional<QString>, SummaryError>> generateTitle(const QString& transcript);

    // The markdown summary, with leaked reasoning removed. May be empty.
    QFuture<Result<QString, SummaryError>> generateSummary(
        const QString& transcript, const QString& userNotes, const std::optional<QString>& calendarContext);

    // Title and summary requested side by side. The title is awaited first: when it fails, the
    // summary request is abandoned and the run fails with the title's error; when the summary
    // fails, the run fails with its error.
    QFuture<Result<GeneratedTitleAndSummary, SummaryError>> generateTitleAndSummary(
        const QString& transcript, const QString& userNotes, const std::optional<QString>& calendarContext);

    // The seconds a "Retry-After" value asks for: only a plain, non-negative decimal number
    // with nothing around it counts (no HTTP dates, no units, no blanks).
    static std::optional<double> retryAfterSeconds(QByteArrayView headerValue);
    // The wait after a 429 on the given attempt (1-based): the header's value when it counts,
    // else 2^attempt seconds; never above 60 s.
    static std::chrono::milliseconds retryWait(const std::optional<QByteArray>& retryAfterHeader, int attempt);

    // Post-processing of the model's answers.
    static QString cleanSummary(const QString& answer);
    static std::optional<QString> cleanTitle(const QString& answer);

private:
    QThread m_thread;
    SummaryGeneratorWorker* m_worker = nullptr;
};
