#include "chat/MeetingChatService.h"

#include "chat/ChatStreamReader.h"
#include "chat/MeetingChatPrompt.h"
#include "chat/StreamedPost.h"
#include "network/ReplyLimiter.h"
#include "platform/Settings.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "summary/ChatCompletions.h"

namespace {

constexpr int kAnswerMaxTokens = 1500;

QString signInText()
{
    return QStringLiteral("Sign in to ask about your meetings \u2014 or add your own Tessra key in Settings");
}

} // namespace

struct MeetingChatService::Answer
{
    quint64 generation = 0;
    QPointer<Meeting> meeting;
    ModelContextBox context;
    QString modelId;
    ModelCredentials::Kind credential = ModelCredentials::Kind::ownKey;
    QPointer<StreamedPost> request;
    ChatStreamReader reader;
};

MeetingChatService::MeetingChatService(
    CredentialsProvider credentials, Settings& settings, Scheduler& scheduler, QObject* parent)
    : QObject(parent)
    , m_credentials(std::move(credentials))
    , m_settings(settings)
    , m_scheduler(scheduler)
{ }

MeetingChatService::~MeetingChatService()
{
    dropRequest();
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

    const ChatModel model = ChatModel::named(m_settings.get(SettingsKeys::chatModel));
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
    answer->credential = credentials->kind;
    const QNetworkRequest request = ChatCompletions::request(*credentials, true);
    StreamedPost::Headers headers;
    for (const QByteArray& name : request.rawHeaderList())
        headers.append({ name, request.rawHeader(name) });
    // StreamedPost follows no redirect at all, so the bearer goes to this origin only.
    auto* post
        = new StreamedPost(request.url(), headers, ChatCompletions::body(model.id, messages, kAnswerMaxTokens, true),
            { ChatCompletions::kTimeout, m_answerDeadline, kMaxAnswerBytes }, m_scheduler, this);
    answer->request = post;
    const quint64 generation = answer->generation;
    connect(post, &StreamedPost::headReceived, this, [this, generation](int status) { onHead(generation, status); });
    connect(post, &StreamedPost::bodyReceived, this,
        [this, generation](const QByteArray& bytes) { onBody(generation, bytes); });
    connect(post, &StreamedPost::finished, this, [this, generation] { onEnd(generation); });
    connect(post, &StreamedPost::failed, this, [this, generation](const QString& description) {
        if (isCurrent(generation))
            fail({ Failure::Kind::Transfer, 0, description });
    });
    connect(post, &StreamedPost::timedOut, this, [this, generation] {
        if (isCurrent(generation))
            fail({ Failure::Kind::TimedOut, 0, {} });
    });
    post->start();
    m_answer = std::move(answer);

    setIsAnswering(true);
    setStreamingAnswer(QString());
}

void MeetingChatService::cancel()
{
    dropRequest();
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
            // Signing in again is the cure for the cloud account's session; a key typed in or
            // a provider sign-in is named, since signing in mends neither.
            if (failure.credential == ModelCredentials::Kind::account)
                return QStringLiteral("That request wasn't authorised. Try signing in again.");
            return ModelCredentials::refusedText(failure.credential);
        case 402:
            return QStringLiteral("You've used your allowance for this month.");
        case 429:
            return QStringLiteral("Too many requests just now \u2014 try again in a moment.");
        default:
            return QStringLiteral("The request failed (") + QString::number(failure.status)
                + QStringLiteral("). Try again.");
        }
    case Failure::Kind::Transfer:
        return failure.description;
    case Failure::Kind::TimedOut:
        return QStringLiteral("The answer took too long and was stopped. Try again.");
    }
    return {};
}

bool MeetingChatService::isCurrent(quint64 generation) const
{
    return m_answer && m_answer->generation == generation && m_answer->request;
}

void MeetingChatService::onHead(quint64 generation, int status)
{
    // Only a 200 carries an answer; the body of any other reply is not read.
    if (isCurrent(generation) && status != 200)
        fail({ Failure::Kind::Status, status, {}, m_answer->credential });
}

void MeetingChatService::onBody(quint64 generation, const QByteArray& bytes)
{
    if (isCurrent(generation))
        consume(m_answer->reader.feed(bytes));
}

void MeetingChatService::onEnd(quint64 generation)
{
    if (!isCurrent(generation))
        return;
    // The reply ended cleanly: with "[DONE]" or without it, the answer is complete.
    ChatStreamReader::Step step = m_answer->reader.finish();
    step.done = true;
    consume(step);
}

void MeetingChatService::setAnswerDeadline(std::chrono::milliseconds deadline)
{
    m_answerDeadline = deadline;
}

void MeetingChatService::consume(const ChatStreamReader::Step& step)
{
    if (step.tooLong) {
        fail({ Failure::Kind::Transfer, 0, RequestLimits::tooLargeText() });
        return;
    }
    const quint64 generation = m_answer->generation;
    for (const QString& fragment : step.fragments) {
        // The answer grows in place: a second copy of it would be copied whole at every piece
        // once a listener holds the first.
        m_streamingAnswer += fragment;
        emit streamingAnswerChanged();
        // A listener may have cancelled or asked again meanwhile.
        if (!m_answer || m_answer->generation != generation)
            return;
    }
    if (step.done)
        complete();
}

void MeetingChatService::complete()
{
    dropRequest();
    const std::unique_ptr<Answer> answer = std::move(m_answer);
    if (!store(*answer))
        return;
    setStreamingAnswer(QString());
    setIsAnswering(false);
}

bool MeetingChatService::store(const Answer& answer)
{
    const QString text = m_streamingAnswer.trimmed();
    if (!text.isEmpty() && answer.meeting) {
        answer.meeting->appendChatMessage(new ChatMessage(ChatRole::Assistant, text, answer.modelId));
        if (answer.context.save)
            answer.context.save();
    }
    return !m_answer;
}

void MeetingChatService::fail(const Failure& failure)
{
    dropRequest();
    const std::unique_ptr<Answer> answer = std::move(m_answer);
    // A server too slow to finish has sent what it could in the time it was given: that much
    // stays, with the reason it stops there beside it. Any other failure stores nothing.
    if (failure.kind == Failure::Kind::TimedOut && !store(*answer))
        return;
    setError(readable(failure));
    setStreamingAnswer(QString());
    setIsAnswering(false);
}

void MeetingChatService::dropRequest()
{
    if (!m_answer || !m_answer->request)
        return;
    StreamedPost* request = m_answer->request;
    m_answer->request = nullptr;
    request->disconnect(this);
    request->abort();
    request->deleteLater();
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
