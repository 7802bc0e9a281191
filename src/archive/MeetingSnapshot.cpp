#include "archive/MeetingSnapshot.h"

#include "storage/ChatMessage.h"
#include "storage/ChatRole.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"

namespace {

QString turnLabel(const QString& speakerRaw)
{
    if (speakerRaw.isEmpty() || speakerRaw == QLatin1String("Me"))
        return QStringLiteral("Speaker A");
    if (speakerRaw == QLatin1String("Them"))
        return QStringLiteral("Speaker B");
    return speakerRaw;
}

} // namespace

MeetingSnapshot::MeetingSnapshot(const Meeting& meeting)
    : id(meeting.id())
    , title(meeting.title().isEmpty() ? QStringLiteral("Untitled") : meeting.title())
    , date(meeting.date())
    , duration(meeting.duration())
    , summary(meeting.summary())
    , userNotes(meeting.userNotes())
{
    const auto segments = meeting.sortedSegments();
    turns.reserve(segments.size());
    for (const TranscriptSegment* segment : segments)
        turns.append({ turnLabel(segment->speakerRaw()), segment->timestamp(), segment->text() });

    const auto messages = meeting.sortedChatMessages();
    chat.reserve(messages.size());
    for (const ChatMessage* message : messages)
        chat.append({ chatRoleRawValue(chatRoleFromRawValue(message->roleRaw())), message->text() });
}
