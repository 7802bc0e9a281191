#pragma once

#include "account/ModelCredentials.h"
#include "chat/ChatModel.h"
#include "chat/ChatStreamReader.h"
#include "chat/ModelContextBox.h"
#include "platform/Scheduler.h"
#include "summary/ChatCompletions.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

class Meeting;
class Settings;
class StreamedPost;

// Answers questions about one meeting from its transcript and notes. The question is stored
// as a chat message before it is sent; the answer streams into streamingAnswer, which only
// grows until it is cleared, and is stored as a second message when it is complete (or, when
// the server is too slow to finish it, as far as it came). One answer runs at a time. Main
// thread only.
class MeetingChatService final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingChatService)
    Q_PROPERTY(QString streamingAnswer READ streamingAnswer NOTIFY streamingAnswerChanged)
    Q_PROPERTY(bool isAnswering READ isAnswering NOTIFY isAnsweringChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorChanged)

public:
    using CredentialsProvider = std::function<std::optional<ModelCredentials>()>;

    // An answer may take as long in all as a whole summary does: the same service writes it,
    // and it asks for fewer tokens. The idle limit is the summary's too.
    static constexpr std::chrono::milliseconds kAnswerDeadline = ChatCompletions::kTimeout;
    // Far above any answer of the tokens asked for, events and all.
    static constexpr qint64 kMaxAnswerBytes = 16 * 1024 * 1024;

    // Why a streamed request failed, for readable().
    struct Failure
    {
        enum class Kind { Status, Transfer, TimedOut };
        Kind kind = Kind::Transfer;
        int status = 0;
        QString description; // what went wrong on the way, for Transfer
        // The credential the request carried: a refusal names it.
        ModelCredentials::Kind credential = ModelCredentials::Kind::ownKey;
    };

    // credentials: asked once per question (the account service's current model credentials).
    // settings: "chatModel" is read at each question. scheduler: runs each answer's deadline.
    MeetingChatService(CredentialsProvider credentials, Settings& settings, Scheduler& scheduler = Scheduler::system(),
        QObject* parent = nullptr);
    ~MeetingChatService() override;

    QString streamingAnswer() const { return m_streamingAnswer; }
    bool isAnswering() const { return m_isAnswering; }
    std::optional<QString> error() const { return m_error; }
    QString errorText() const { return m_error.value_or(QString()); }

    // Stores the question (trimmed and non-empty, as the panel sends it), sends it with the
    // meeting's material and the last eight turns, and returns at once. Cancels any running
    // answer first.
    void ask(const QString& question, Meeting* meeting, const ModelContextBox& context);
    // Stops the running answer, if any; nothing of it is stored. error is left as it is.
    void cancel();

    // Shortens the whole-answer limit; tests use it.
    void setAnswerDeadline(std::chrono::milliseconds deadline);

    // The sentence users see for a failed request.
    static QString readable(const Failure& failure);

signals:
    void streamingAnswerChanged();
    void isAnsweringChanged();
    void errorChanged();

private:
    struct Answer;

    bool isCurrent(quint64 generation) const;
    void onHead(quint64 generation, int status);
    void onBody(quint64 generation, const QByteArray& bytes);
    void onEnd(quint64 generation);
    void consume(const ChatStreamReader::Step& step);
    void complete();
    void fail(const Failure& failure);
    // Stores the answer as far as it came; false when storing it started another answer.
    bool store(const Answer& answer);
    void dropRequest();

    void setStreamingAnswer(const QString& text);
    void setIsAnswering(bool answering);
    void setError(const std::optional<QString>& error);

    CredentialsProvider m_credentials;
    Settings& m_settings;
    Scheduler& m_scheduler;

    QString m_streamingAnswer;
    bool m_isAnswering = false;
    std::optional<QString> m_error;

    // Every ask gets a new generation; callbacks of an earlier one are ignored, so a late
    // event of a cancelled answer can never touch the next one.
    quint64 m_generation = 0;
    std::chrono::milliseconds m_answerDeadline { kAnswerDeadline };
    std::unique_ptr<Answer> m_answer;
};
