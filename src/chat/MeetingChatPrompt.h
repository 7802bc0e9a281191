#pragma once

#include "summary/ChatCompletions.h"

#include <QList>
#include <QString>

class ChatMessage;
class Meeting;

// The message list of a chat question about one meeting: a system message with everything
// known about the meeting, the latest turns of the conversation, then the question.
// Main thread: reads the records.
namespace MeetingChatPrompt {

inline constexpr qsizetype kHistoryTurns = 8;

QString system(const Meeting& meeting);

// history: the conversation so far, oldest first, without the question.
QList<ChatCompletions::Message> build(
    const QString& question, const Meeting& meeting, const QList<ChatMessage*>& history);

} // namespace MeetingChatPrompt
