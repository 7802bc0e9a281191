#include "chat/MeetingChatPrompt.h"

#include "storage/ChatMessage.h"
#include "storage/Meeting.h"

#include <QStringList>

namespace MeetingChatPrompt {
namespace {

const QString& instruction()
{
    static const QString text = QStringLiteral(
        "You are answering questions about one meeting, for the person who recorded it. Everything you know "
        "about it is below.\n\n"
        "Answer only from that material. If something was not discussed, say so plainly and say what was "
        "discussed instead \u2014 never fill the gap with a plausible guess. The person is often asking "
        "mid-meeting to catch something they missed, so being wrong is worse than being incomplete.\n\n"
        "Reply in the language of the question unless asked otherwise. Keep it short: a couple of sentences or a "
        "few bullets. No preamble, no restating the question.\n\n"
        "The transcript separates two sources: the microphone, which is usually this person, and the meeting "
        "audio, which is everyone else. That split is a reasonable guess and occasionally wrong, so avoid "
        "asserting who said what unless the words themselves make it clear.");
    return text;
}

// The name a meeting has before anyone names it; it says nothing about the meeting.
constexpr QStringView kUnnamedTitle = u"New Meeting";

} // namespace

QString system(const Meeting& meeting)
{
    QStringList blocks { instruction() };

    const QString title = meeting.title();
    if (!title.isEmpty() && title != kUnnamedTitle)
        blocks << QStringLiteral("MEETING: ") + title;

    QStringList invited;
    for (const QString& name : meeting.attendeeNames()) {
        if (!name.isEmpty())
            invited << name;
    }
    if (!invited.isEmpty()) {
        blocks << QStringLiteral("INVITED: ") + invited.join(QStringLiteral(", "))
                + QStringLiteral("\nUse these names when the transcript makes clear who is speaking. Do not guess a "
                                 "name onto a line that could belong to anyone.");
    }

    if (const std::optional<QString> organizer = meeting.organizer(); organizer && !organizer->isEmpty())
        blocks << QStringLiteral("ORGANISER: ") + *organizer;

    if (const QString notes = meeting.userNotes().trimmed(); !notes.isEmpty()) {
        blocks << QStringLiteral("WHAT THEY WROTE DOWN THEMSELVES \u2014 treat as what matters most to them:\n")
                + notes;
    }

    const QString transcript = meeting.formattedTranscript();
    blocks << (transcript.isEmpty() ? QStringLiteral("TRANSCRIPT: nothing has been transcribed yet.")
                                    : QStringLiteral("TRANSCRIPT:\n") + transcript);

    if (meeting.isRecording()) {
        blocks << QStringLiteral("This meeting is still being recorded, so the transcript ends at the present "
                                 "moment and more will follow. \"Just now\" means the end of it.");
    }
    return blocks.join(QStringLiteral("\n\n"));
}

QList<ChatCompletions::Message> build(
    const QString& question, const Meeting& meeting, const QList<ChatMessage*>& history)
{
    QList<ChatCompletions::Message> messages { { QStringLiteral("system"), system(meeting) } };
    const qsizetype first = std::max<qsizetype>(0, history.size() - kHistoryTurns);
    for (qsizetype i = first; i < history.size(); ++i) {
        const ChatMessage* turn = history.at(i);
        const bool isAnswer = turn->roleRaw() == QStringLiteral("assistant");
        messages.append({ isAnswer ? QStringLiteral("assistant") : QStringLiteral("user"), turn->text() });
    }
    messages.append({ QStringLiteral("user"), question });
    return messages;
}

} // namespace MeetingChatPrompt
