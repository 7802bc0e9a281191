#include "app/AppState.h"
#include "archive/ArchiveQueue.h"
#include "platform/Log.h"
#include "support/FakeScheduler.h"
#include "support/RecordingArchiver.h"
#include "support/SessionRig.h"
#include "support/TestMain.h"

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC);

struct MeetingSpec
{
    QString title = QStringLiteral("Weekly sync");
    int minutesAgo = 60;
    bool recording = false;
    bool segment = false;
    QString notes = {};
    std::optional<QString> summary = {};
    std::optional<QString> eventId = {};
    bool autoStart = false;
    bool autoStartFired = false;
};

Meeting* addMeeting(ModelContext& context, const MeetingSpec& spec)
{
    auto* meeting = new Meeting(spec.title, kNow.addSecs(-60 * spec.minutesAgo));
    meeting->setIsRecording(spec.recording);
    meeting->setUserNotes(spec.notes);
    meeting->setSummary(spec.summary);
    meeting->setCalendarEventId(spec.eventId);
    meeting->setAutoStartEnabled(spec.autoStart);
    meeting->setAutoStartFired(spec.autoStartFired);
    if (spec.segment)
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("Hello there."), Speaker::me(), 1.5));
    context.insert(meeting);
    return meeting;
}

} // namespace

class TestAppState final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SessionRig> m_rig;
    // What the store's own changes hand the archive, as the application's sync does.
    std::unique_ptr<RecordingArchiver> m_archiver;
    FakeScheduler m_scheduler;
    std::unique_ptr<ArchiveQueue> m_queue;
    std::unique_ptr<AppState> m_state;

    ModelContext& context() { return m_rig->context(); }

private slots:
    void init()
    {
        m_rig = std::make_unique<SessionRig>();
        m_archiver = std::make_unique<RecordingArchiver>();
        m_queue = std::make_unique<ArchiveQueue>(context(), *m_archiver, m_scheduler);
        m_state = std::make_unique<AppState>(m_rig->session);
    }
    void cleanup()
    {
        m_state.reset();
        m_queue.reset();
        m_archiver.reset();
        m_rig.reset();
    }

    // A meeting an earlier run left flagged keeps what it holds: speech, an event, notes; its
    // file is written once the repair is saved, the empty ones' never.
    void finalizeRepairsLeftoverRecordings()
    {
        const QUuid empty = addMeeting(context(), { .recording = true })->id();
        const QUuid blankNotes = addMeeting(context(), { .recording = true, .notes = QStringLiteral(" \n\t ") })->id();
        auto* spoken = addMeeting(context(), { .title = QStringLiteral("Spoken"), .recording = true, .segment = true });
        spoken->setDuration(125);
        spoken->setSummary(QStringLiteral("Earlier summary"));
        const QUuid spokenId = spoken->id();
        const QUuid linked = addMeeting(
            context(), { .recording = true, .notes = QStringLiteral("  "), .eventId = QStringLiteral("evt-1") })
                                 ->id();
        const QUuid noted = addMeeting(context(), { .recording = true, .notes = QStringLiteral("Agenda") })->id();
        const QUuid finished = addMeeting(context(), { .title = QString() })->id();
        QVERIFY(context().save().ok());
        m_archiver->archived.clear();

        LogCapture log;
        m_state->finalizeStaleRecordings(context());
        QCOMPARE(log.lines(),
            QStringList { QStringLiteral("[Quillet] Finalizing 5 stale recording(s) from a previous session") });
        QCOMPARE(idsOf(m_archiver->archived), (QSet<QUuid> { spokenId, linked, noted }));

        ModelContext& reopened = m_rig->store.reopen();
        QVERIFY(!reopened.meetingById(empty));
        QVERIFY(!reopened.meetingById(blankNotes));
        for (const QUuid& kept : { spokenId, linked, noted, finished })
            QVERIFY(reopened.meetingById(kept) && !reopened.meetingById(kept)->isRecording());
        // Only the flag changes.
        const Meeting* repaired = reopened.meetingById(spokenId);
        QCOMPARE(repaired->title(), QStringLiteral("Spoken"));
        QCOMPARE(repaired->duration(), 125.0);
        QCOMPARE(repaired->summary(), std::optional<QString>(QStringLiteral("Earlier summary")));

        // Nothing left to repair: no line, no save.
        log.clear();
        m_state->finalizeStaleRecordings(reopened);
        QVERIFY(log.lines().isEmpty());
    }

    void purgeDropsOnlyUntitledMeetingsHoldingNothing()
    {
        struct Row
        {
            const char* name;
            MeetingSpec spec;
            bool purged;
        };
        const QList<Row> rows = {
            { "New Meeting, blank notes", { .title = QStringLiteral("New Meeting"), .notes = QStringLiteral(" \n") },
                true },
            { "empty title", { .title = QString() }, true },
            { "linked to an event", { .title = QStringLiteral("New Meeting"), .eventId = QStringLiteral("e") }, true },
            { "auto-start already dealt with",
                { .title = QStringLiteral("New Meeting"), .autoStart = true, .autoStartFired = true }, true },
            { "with a summary", { .title = QStringLiteral("New Meeting"), .summary = QStringLiteral("## Key points") },
                false },
            { "with a segment", { .title = QStringLiteral("New Meeting"), .segment = true }, false },
            { "with notes", { .title = QString(), .notes = QStringLiteral("x") }, false },
            { "other case", { .title = QStringLiteral("new meeting") }, false },
            { "title of spaces", { .title = QStringLiteral("  ") }, false },
            { "named", { .title = QStringLiteral("Budget") }, false },
            { "flagged as recording", { .title = QStringLiteral("New Meeting"), .recording = true }, false },
            // Made from an event and set to record at its start, which has not come yet.
            { "waiting to auto-start", { .title = QStringLiteral("New Meeting"), .autoStart = true }, false },
        };
        QHash<QUuid, const Row*> byId;
        for (const Row& row : rows)
            byId.insert(addMeeting(context(), row.spec)->id(), &row);
        QVERIFY(context().save().ok());

        LogCapture log;
        m_state->purgeEmptyMeetings(context());
        QCOMPARE(log.lines(), QStringList { QStringLiteral("[Quillet] Purging 4 empty meeting(s)") });
        ModelContext& reopened = m_rig->store.reopen();
        for (auto it = byId.cbegin(); it != byId.cend(); ++it)
            QVERIFY2(bool(reopened.meetingById(it.key())) != it.value()->purged, it.value()->name);
        // No file is written for a meeting on its way out.
        QVERIFY(m_archiver->archived.isEmpty());
    }

    void recentListHoldsTheThreeNewestFinishedMeetings()
    {
        addMeeting(context(), { .title = QStringLiteral("Oldest"), .minutesAgo = 400 });
        addMeeting(context(), { .title = QStringLiteral("Third"), .minutesAgo = 300 });
        const QUuid untitled = addMeeting(context(), { .title = QString(), .minutesAgo = 200 })->id();
        addMeeting(context(), { .title = QStringLiteral("Newest"), .minutesAgo = 100 });
        addMeeting(context(), { .title = QStringLiteral("Being recorded"), .minutesAgo = 1, .recording = true });
        QSignalSpy changed(m_state.get(), &AppState::recentMeetingsChanged);

        m_state->refreshRecentMeetings(context());
        QStringList titles;
        for (const RecentMeetingInfo& info : m_state->recentMeetings())
            titles << info.title;
        QCOMPARE(titles, (QStringList { "Newest", "Untitled Meeting", "Third" }));
        QCOMPARE(m_state->recentMeetings().at(1).id, untitled);
        QCOMPARE(changed.size(), 1);

        m_state->refreshRecentMeetings(context());
        QCOMPARE(changed.size(), 1); // the same list is no change

        const QList<Meeting*> all = context().fetchMeetings();
        for (Meeting* meeting : all)
            context().remove(meeting);
        m_state->refreshRecentMeetings(context());
        QVERIFY(m_state->recentMeetings().isEmpty());
        QCOMPARE(changed.size(), 2);
    }

    void nothingIsFinalisedWhileRecording()
    {
        SessionRig& rig = *m_rig;
        const QUuid stale = addMeeting(context(), { .recording = true })->id();
        Meeting* recording = rig.start();
        QVERIFY(rig.session.isRecording());
        QCOMPARE(recording->title(), QStringLiteral("New Meeting"));

        LogCapture log;
        m_state->finalizeStaleRecordings(context());
        m_state->purgeEmptyMeetings(context());
        m_state->refreshRecentMeetings(context());
        QVERIFY(log.lines().isEmpty());
        QVERIFY(rig.meetingById(stale)->isRecording());
        QCOMPARE(rig.meetingById(recording->id()), recording);
        QVERIFY(m_state->recentMeetings().isEmpty());
        QVERIFY(rig.stopAndFinalize());
    }

    // After Stop, a meeting waits for its last uploads: first still flagged (the stop's wait),
    // then, past the wait's limit, unflagged and still without text. A window shown meanwhile
    // must take it neither for a leftover nor for an empty meeting.
    void meetingBeingFinishedSurvivesHousekeeping_data()
    {
        QTest::addColumn<int>("drainLimitMs");
        QTest::newRow("within the wait") << 60000;
        QTest::newRow("past the wait's limit") << 200;
    }

    void meetingBeingFinishedSurvivesHousekeeping()
    {
        QFETCH(int, drainLimitMs);
        SessionRig& rig = *m_rig;
        rig.session.setDrainLimit(std::chrono::milliseconds(drainLimitMs));
        rig.provider.setTranscript(QStringLiteral("The late words arrive."));
        rig.server.hold("POST", "/v1/audio/transcriptions");
        Meeting* meeting = rig.start();
        const QUuid id = meeting->id();
        QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance()));
        QTRY_VERIFY_WITH_TIMEOUT(rig.server.heldCount() == 1, kLongWaitMs);
        QSignalSpy finalized(&rig.session, &TranscriptionSession::recordingFinalized);
        rig.session.stopRecording();
        if (drainLimitMs < 1000)
            QVERIFY(finalized.wait(kLongWaitMs));
        QCOMPARE(meeting->isRecording(), drainLimitMs >= 1000);
        QVERIFY(meeting->segments().isEmpty());
        QVERIFY(rig.session.isFinishing(id));

        LogCapture log;
        m_state->finalizeStaleRecordings(context());
        m_state->purgeEmptyMeetings(context());
        QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join('\n')));
        QCOMPARE(rig.meetingById(id), meeting);

        rig.server.release("POST", "/v1/audio/transcriptions");
        QTRY_COMPARE_WITH_TIMEOUT(rig.session.drainingRecordings(), 0, kLongWaitMs);
        QVERIFY(!rig.session.isFinishing(id));
        QCOMPARE(SessionRig::texts(*meeting), QStringList { QStringLiteral("Me: The late words arrive.") });
        QVERIFY(!log.containsPart(QStringLiteral("Late transcript dropped")));
        QCOMPARE(rig.store.reopen().meetingById(id)->segments().size(), 1);
    }
};

QUILLET_TEST_MAIN(TestAppState)
#include "TestAppState.moc"
