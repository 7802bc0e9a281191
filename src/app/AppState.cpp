#include "app/AppState.h"

#include "platform/Log.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "recording/TranscriptionSession.h"

namespace {

bool isUntitled(const Meeting& meeting)
{
    const QString title = meeting.title();
    return title.isEmpty() || title == QLatin1String("New Meeting");
}

// Made from an event and set to record at its scheduled start, which has not come yet.
bool awaitsAutoStart(const Meeting& meeting)
{
    return meeting.autoStartEnabled() && !meeting.autoStartFired();
}

} // namespace

AppState::AppState(TranscriptionSession& session, QObject* parent)
    : QObject(parent)
    , m_session(session)
{ }

void AppState::finalizeStaleRecordings(ModelContext& context)
{
    if (m_session.isRecording())
        return;
    // A meeting the session stopped recording stays flagged until its last uploads are in;
    // that one is not a leftover.
    const QList<Meeting*> stale = context.fetchMeetings(
        { [this](const Meeting& m) { return m.isRecording() && !m_session.isFinishing(m.id()); } });
    if (stale.isEmpty())
        return;
    Log::line("[Quillet] Finalizing %d stale recording(s) from a previous session", stale.size());
    for (Meeting* meeting : stale) {
        meeting->setIsRecording(false);
        if (meeting->segments().isEmpty() && !meeting->calendarEventId() && !meeting->hasUserNotes())
            context.remove(meeting);
    }
    context.save();
}

void AppState::purgeEmptyMeetings(ModelContext& context)
{
    // The segments are read last: they are loaded from the file on first access.
    const QList<Meeting*> empty = context.fetchMeetings({ [this](const Meeting& m) {
        return !m.isRecording() && isUntitled(m) && !m.summary() && !m.hasUserNotes() && !awaitsAutoStart(m)
            && !m_session.isFinishing(m.id()) && m.segments().isEmpty();
    } });
    if (empty.isEmpty())
        return;
    Log::line("[Quillet] Purging %d empty meeting(s)", empty.size());
    for (Meeting* meeting : empty)
        context.remove(meeting);
    context.save();
}

void AppState::refreshRecentMeetings(ModelContext& context)
{
    const QList<Meeting*> newest = context.fetchMeetings(
        { [](const Meeting& m) { return !m.isRecording(); }, MeetingSort::DateDescending, kRecentMeetingCount });
    QList<RecentMeetingInfo> recent;
    recent.reserve(newest.size());
    for (const Meeting* meeting : newest) {
        const QString title = meeting->title().isEmpty() ? QStringLiteral("Untitled Meeting") : meeting->title();
        recent.append({ meeting->id(), title, meeting->date(), meeting->duration() });
    }
    if (recent == m_recentMeetings)
        return;
    m_recentMeetings = recent;
    emit recentMeetingsChanged();
}
