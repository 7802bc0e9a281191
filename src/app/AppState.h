#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

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

// The application-wide state: the short list of recent meetings the tray menu shows, and the
// repairs and purges of each show's housekeeping, which read the one recording session.
// Made once by the composition root and handed down. Main thread only.
class AppState final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppState)
    Q_PROPERTY(QList<RecentMeetingInfo> recentMeetings READ recentMeetings NOTIFY recentMeetingsChanged)

public:
    static constexpr int kRecentMeetingCount = 3;

    explicit AppState(TranscriptionSession& session, QObject* parent = nullptr);

    QList<RecentMeetingInfo> recentMeetings() const { return m_recentMeetings; }

    // Unflags the meetings an earlier run left flagged as recording and deletes the empty ones;
    // the archive writes the others' files as it does at the end of any recording. Does nothing
    // while the session records, and leaves alone the meetings the session is still finishing
    // (waiting for their last uploads).
    void finalizeStaleRecordings(ModelContext& context);
    // Deletes untitled meetings ("New Meeting" or "") that hold nothing, except those the
    // session is still finishing and those waiting to record by themselves.
    void purgeEmptyMeetings(ModelContext& context);
    // The three newest meetings not being recorded.
    void refreshRecentMeetings(ModelContext& context);

signals:
    void recentMeetingsChanged();

private:
    TranscriptionSession& m_session;
    QList<RecentMeetingInfo> m_recentMeetings;
};
