#include "chat/MeetingChatService.h"

#include "chat/ChatStreamReader.h"
#include "chat/MeetingChatPrompt.h"
#include "platform/Settings.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "summary/ChatCompletions.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

constexpr int kAnswerMaxTokens = 1500;
const char* const kChatModelKey = "chatModel";

QString signInText()
{
    return QStringLiteral("Sign in to ask about your meetings \u2014 or add your own Tessra key in Settings");
}

// QNetworkReply reports HTTP error statuses as errors too; those are answers with a status,
// not failures of the transfer.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return (code >= 201 && code <= 299) || (code >= 401 && code <= 499)
        || error == QNetworkReply::ProtocolInvalidOperationError;
}

} // namespace

struct MeetingChatService::Answer
{
    quint64 generation = 0;
    QPointer<Meeting> meeting;
    ModelContextBox context;
    QString modelId;
    QPointer<QNetworkReply> reply;
    ChatStreamReader reader;
    QString text;
};

MeetingChatService::MeetingChatService(CredentialsProvider credentials, Settings& settings, QObject* parent)
    : QObject(parent)
    , m_credentials(std::move(credentials))
    , m_settings(settings)
    , m_network(new QNetworkAccessManager(this))
{ }

MeetingChatService::~MeetingChatService()
{
    dropReply();
}

void MeetingChatService::ask(const QString& question, Meeting* meeting, const ModelContextBox& context)
{
    cancel();
    setError(std::nullopt);

    const std::optional<ModelCredentials> credentials = m_credentials ? m_credentials() : std::nullopt;
    if (!credentials) {
        setError(signInText());
        return;
    }
    if (!meeting)
        return;

    const ChatModel model
        = ChatModel::named(m_settings.stringValue(QLatin1String(kChatModelKey), ChatModel::defaultModel().id));
    // The history is taken before the question is stored, so the question goes out once, last.
    const QList<ChatCompletions::Message> messages
        = MeetingChatPrompt::build(question, *meeting, meeting->sortedChatMessages());

    meeting->appendChatMessage(new ChatMessage(ChatRole::User, question, std::nullopt));
    if (context.save)
        context.save();

    auto answer = std::make_unique<Answer>();
    answer->generation = ++m_generation;
    answer->meeting = meeting;
    answer->context = context;
    answer->modelId = model.id;
    QNetworkReply* reply = m_network->post(ChatCompletions::request(*credentials, true),
        ChatCompletions::body(model.id, messages, kAnswerMaxTokens, true));
    answer->reply = reply;
    const quint64 generation = answer->generation;
    connect(reply, &QNetworkReply::readyRead, this, [this, generation] { onReadyRead(generation); });
    connect(reply, &QNetworkReply::finished, this, [this, generation] { onFinished(generation); });
    m_answer = std::move(answer);

    setIsAnswering(true);
    setStreamingAnswer(QString());
}

void MeetingChatService::cancel()
{
    dropReply();
    m_answer.reset();
    setStreamingAnswer(QString());
    setIsAnswering(false);
}

QString MeetingChatService::readable(const Failure& failure)
{
    switch (failure.kind) {
    case Failure::Kind::Status:
        switch (failure.status) {
        case 401:
        case 403:
            return QStringLiteral("That request wasn't authorised. Try signing in again.");
        case 402:
            return QStringLiteral("You've used your allowance for this month.");
        case 429:
            return QStringLiteral("Too many requests just now \u2014 try again in a moment.");
        default:
            return QStringLiteral("The request failed (") + QString::number(failure.status)
                + QStringLiteral("). Try again.");
        }
    case Failure::Kind::BadResponse:
        return QStringLiteral("The reply from the server could not be read.");
    case Failure::Kind::Transfer:
        return failure.description;
    }
    return {};
}

void MeetingChatService::onReadyRead(quint64 generation)
{
    if (!m_answer || m_answer->generation != generation || !m_answer->reply)
        return;
    QNetworkReply* reply = m_answer->reply;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Other replies are judged by their status when they end; their body is never read.
    if (!status.isValid() || status.toInt() != 200)
        return;
    const ChatStreamReader::Step step = m_answer->reader.feed(reply->readAll());
    consume(step);
}

void MeetingChatService::onFinished(quint64 generation)
{
    if (!m_answer || m_answer->generation != generation || !m_answer->reply)
        return;
    QNetworkReply* reply = m_answer->reply;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->error() != QNetworkReply::NoError && (!status.isValid() || !isHttpStatusError(reply->error()))) {
        fail({ Failure::Kind::Transfer, 0, reply->errorString() });
        return;
    }
    if (!status.isValid()) {
        fail({ Failure::Kind::BadResponse, 0, {} });
        return;
    }
    if (status.toInt() != 200) {
        fail({ Failure::Kind::Status, status.toInt(), {} });
        return;
    }
    ChatStreamReader::Step step = m_answer->reader.feed(reply->readAll());
    if (!step.done) {
        const ChatStreamReader::Step last = m_answer->reader.finish();
        step.fragments << last.fragments;
    }
    // The body has ended either way: with "[DONE]" or without it, the answer is complete.
    step.done = true;
    consume(step);
}

void MeetingChatService::consume(const ChatStreamReader::Step& step)
{
    const quint64 generation = m_answer->generation;
    for (const QString& fragment : step.fragments) {
        m_answer->text += fragment;
        setStreamingAnswer(m_answer->text);
        // A listener may have cancelled or asked again meanwhile.
        if (!m_answer || m_answer->generation != generation)
            return;
    }
    if (step.done)
        complete();
}

void MeetingChatService::complete()
{
    dropReply();
    const std::unique_ptr<Answer> answer = std::move(m_answer);
    const QString text = answer->text.trimmed();
    if (!text.isEmpty() && answer->meeting) {
        answer->meeting->appendChatMessage(new ChatMessage(ChatRole::Assistant, text, answer->modelId));
        if (answer->context.save)
            answer->context.save();
    }
    if (m_answer)
        return; // saving started another answer
    setStreamingAnswer(QString());
    setIsAnswering(false);
}

void MeetingChatService::fail(const Failure& failure)
{
    dropReply();
    m_answer.reset();
    setError(readable(failure));
    setStreamingAnswer(QString());
    setIsAnswering(false);
}

void MeetingChatService::dropReply()
{
    if (!m_answer || !m_answer->reply)
        return;
    QNetworkReply* reply = m_answer->reply;
    m_answer->reply = nullptr;
    reply->disconnect(this);
    // A reply that already failed (an HTTP error status) has nothing left to abort.
    if (reply->error() == QNetworkReply::NoError)
        reply->abort();
    reply->deleteLater();
}

void MeetingChatService::setStreamingAnswer(const QString& text)
{
    if (m_streamingAnswer == text)
        return;
    m_streamingAnswer = text;
    emit streamingAnswerChanged();
}

void MeetingChatService::setIsAnswering(bool answering)
{
    if (m_isAnswering == answering)
        return;
    m_isAnswering = answering;
    emit isAnsweringChanged();
}

void MeetingChatService::setError(const std::optional<QString>& error)
{
    if (m_error == error)
        return;
    m_error = error;
    emit errorChanged();
}
