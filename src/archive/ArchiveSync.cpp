#include "archive/ArchiveSync.h"

#include "archive/ArchiveDebouncer.h"
#include "archive/MeetingArchiver.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

#include <QCoreApplication>
#include <QFutureWatcher>

ArchiveSync::FileFields::FileFields(const Meeting& meeting)
    : title(meeting.title())
    , summary(meeting.summary())
    , userNotes(meeting.userNotes())
    , date(meeting.date())
    , duration(meeting.duration())
    , isRecording(meeting.isRecording())
{ }

ArchiveSync::ArchiveSync(ModelContext& store, MeetingArchiver& archiver, ArchiveDebouncer& debouncer, QObject* parent)
    : QObject(parent)
    , m_store(&store)
    , m_archiver(archiver)
    , m_debouncer(debouncer)
{
    const QList<Meeting*> meetings = store.fetchMeetings();
    m_fileFields.reserve(meetings.size());
    for (const Meeting* meeting : meetings)
        m_fileFields.insert(meeting, FileFields(*meeting));

    // A new meeting is written once something is said or typed in it, as before it was stored.
    connect(&store, &ModelContext::meetingInserted, this,
        [this](Meeting* meeting) { m_fileFields.insert(meeting, FileFields(*meeting)); });
    connect(&store, &ModelContext::meetingAboutToBeRemoved, this,
        [this](Meeting* meeting) { m_fileFields.remove(meeting); });
    connect(&store, &ModelContext::meetingUpdated, this, &ArchiveSync::meetingUpdated);
    connect(&store, &ModelContext::transcriptChanged, this, &ArchiveSync::contentChanged);
    // A chat is archived as it is saved, also during a recording: the file then shows the
    // transcript so far with it.
    connect(&store, &ModelContext::chatChanged, this, [this](Meeting* meeting) { m_debouncer.schedule(*meeting); });
    // Before the debouncer hands its writes over at quit, the store commits what they show.
    if (QCoreApplication* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] {
            if (m_store)
                m_store->save();
        });
}

void ArchiveSync::meetingUpdated(Meeting* meeting)
{
    const FileFields fields(*meeting);
    const auto seen = m_fileFields.find(meeting);
    if (seen != m_fileFields.end() && *seen == fields)
        return;
    // What the user writes during a recording is written as typed; the recording's own start
    // (its date, its flag) waits for its end like its transcript.
    const bool written = seen == m_fileFields.end() || seen->title != fields.title || seen->summary != fields.summary
        || seen->userNotes != fields.userNotes;
    m_fileFields.insert(meeting, fields);
    if (meeting->isRecording() && written)
        m_debouncer.schedule(*meeting);
    else
        contentChanged(meeting);
}

void ArchiveSync::contentChanged(Meeting* meeting)
{
    // Its file is written when the recording ends, with everything said meanwhile.
    if (meeting->isRecording())
        return;
    m_debouncer.schedule(*meeting);
}

void ArchiveSync::backfill()
{
    // A snapshot loads the meeting's whole transcript: only the meetings the archive lacks are
    // worth one. Which those are is known once the archive's thread has read its index. The
    // answer is watched by a child of this object, so that it is dropped if this object goes
    // first (in Qt 6.4 a continuation whose context object is destroyed before the future
    // finishes is still run, on no object).
    auto* answer = new QFutureWatcher<QSet<QUuid>>(this);
    connect(answer, &QFutureWatcherBase::finished, this, [this, answer] {
        answer->deleteLater();
        if (!m_store || answer->future().resultCount() == 0)
            return;
        const QSet<QUuid> indexed = answer->result();
        const QList<Meeting*> missing = m_store->fetchMeetings(
            { [&indexed](const Meeting& m) { return !m.isRecording() && !indexed.contains(m.id()); } });
        if (missing.isEmpty())
            return;
        QList<MeetingSnapshot> snapshots;
        snapshots.reserve(missing.size());
        for (const Meeting* meeting : missing)
            snapshots.append(MeetingSnapshot(*meeting));
        m_archiver.backfill(snapshots);
    });
    answer->setFuture(m_archiver.indexedIds());
}
