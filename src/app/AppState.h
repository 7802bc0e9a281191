#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

class MeetingArchiver;
class ModelContext;
class TranscriptionSession;

// One row of the recent-meetings list.
struct RecentMeetingInfo
{
    QUuid id;
    QString title; // "Untitled Meeting" for a meeting whose title is empty
    QDateTime date;
    double duration = 0;

    bool operator==(const RecentMeetingInfo&) const = default;
};

// The application-wide state: the one recording session, the short list of recent meetings
// the tray menu shows, and the housekeeping the main window runs each time it is shown anew.
// Made once by the composition root and handed down. Main thread only.
class AppState final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppState)
    Q_PROPERTY(QList<RecentMeetingInfo> recentMeetings READ recentMeetings NOTIFY recentMeetingsChanged)

public:
    static constexpr int kRecentMeetingCount = 3;

    AppState(TranscriptionSession& session, MeetingArchiver& archiver, QObject* parent = nullptr);

    TranscriptionSession& session() const { return m_session; }
    QList<RecentMeetingInfo> recentMeetings() const { return m_recentMeetings; }

    // Unflags the meetings an earlier run left flagged as recording: deletes the empty ones and
    // archives the rest. Does nothing while the session records, and leaves alone the meetings
    // the session is still finishing (waiting for their last uploads).
    void finalizeStaleRecordings(ModelContext& context);
    // Deletes untitled meetings ("New Meeting" or "") that hold nothing, except those the
    // session is still finishing and those waiting to record by themselves.
    void purgeEmptyMeetings(ModelContext& context);
    // The three newest meetings not being recorded.
    void refreshRecentMeetings(ModelContext& context);
    // Hands the archive every finished meeting its index lacks. The index is read on the
    // archive's thread; the snapshots are taken when its answer is back, of the meetings that
    // are finished then.
    void backfillArchive(ModelContext& context);

signals:
    void recentMeetingsChanged();

private:
    TranscriptionSession& m_session;
    MeetingArchiver& m_archiver;
    QList<RecentMeetingInfo> m_recentMeetings;
};
