#include "archive/ArchiveDebouncer.h"
#include "archive/ArchiveSync.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"
#include "support/FakeScheduler.h"
#include "support/RecordingArchiver.h"
#include "support/SlowIndexArchiver.h"
#include "support/TempStore.h"
#include "support/TestMain.h"

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC);

Meeting* addMeeting(ModelContext& context, const QString& title, bool recording = false, bool segment = false)
{
    auto* meeting = new Meeting(title, kNow.addSecs(-3600));
    meeting->setIsRecording(recording);
    if (segment)
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("Hello there."), Speaker::me(), 1.5));
    context.insert(meeting);
    return meeting;
}

} // namespace

class TestArchiveSync final : public QObject
{
    Q_OBJECT

    // The application's way from the store to the archive, over an archiver that keeps what it
    // is handed; delayed writes wait for the test's scheduler.
    struct Fixture
    {
        TempStore store;
        RecordingArchiver archiver;
        FakeScheduler scheduler;
        ArchiveDebouncer debouncer { archiver, store.context(), scheduler };
        ArchiveSync sync { store.context(), archiver, debouncer };

        ModelContext& context() { return store.context(); }
    };

private slots:
    // During a recording a chat question and its answer reach the archive with the save that
    // stores them, the transcript so far with them; a new transcript turn alone waits for the
    // recording's end.
    void chatDuringARecordingIsArchivedAtOnce()
    {
        Fixture f;
        Meeting* meeting = addMeeting(f.context(), QStringLiteral("Planning"), true, true);
        QVERIFY(f.context().save().ok());
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("Shall we start?"), Speaker::them(), 4));
        QVERIFY(f.context().save().ok());
        QVERIFY(f.archiver.archived.isEmpty());

        meeting->appendChatMessage(new ChatMessage(ChatRole::User, QStringLiteral("What was decided?"), std::nullopt));
        meeting->appendChatMessage(
            new ChatMessage(ChatRole::Assistant, QStringLiteral("Nothing yet."), QStringLiteral("m-1")));
        QVERIFY(f.context().save().ok());
        QCOMPARE(f.archiver.archived.size(), 1); // at the save, with no delay
        const MeetingArchiver::Snapshot& written = f.archiver.archived.first();
        QCOMPARE(written.id, meeting->id());
        QCOMPARE(written.chat.size(), 2);
        QCOMPARE(written.chat.last().text, QStringLiteral("Nothing yet."));
        QCOMPARE(written.turns.size(), 2);

        meeting->appendSegment(new TranscriptSegment(QStringLiteral("Next item."), Speaker::me(), 9));
        QVERIFY(f.context().save().ok());
        f.scheduler.advance(std::chrono::seconds(5));
        QCOMPARE(f.archiver.archived.size(), 1);
    }

    // The archive's back-fill gets snapshots of only the finished meetings its index lacks.
    void backfillSnapshotsOnlyWhatTheArchiveLacks()
    {
        Fixture f;
        Meeting* archived = addMeeting(f.context(), QStringLiteral("Weekly sync"), false, true);
        const QUuid lacking = addMeeting(f.context(), QStringLiteral("Review"), false, true)->id();
        const QUuid alsoLacking = addMeeting(f.context(), QString())->id();
        addMeeting(f.context(), QStringLiteral("Being recorded"), true);
        f.archiver.archive(MeetingArchiver::Snapshot(*archived));

        f.sync.backfill();
        QTRY_COMPARE(f.archiver.backfills.size(), 1);
        QCOMPARE(idsOf(f.archiver.backfills.first()), (QSet<QUuid> { lacking, alsoLacking }));

        f.sync.backfill();
        QCoreApplication::processEvents();
        QCOMPARE(f.archiver.backfills.size(), 1); // nothing lacking: no job
    }

    // The index answers after the sync is gone (the application is quitting): nothing runs.
    void indexAnswerAfterTheSyncIsGone()
    {
        TempStore store;
        addMeeting(store.context(), QStringLiteral("Weekly sync"), false, true);
        FakeScheduler scheduler;
        SlowIndexArchiver archiver;
        {
            ArchiveDebouncer debouncer(archiver, store.context(), scheduler);
            ArchiveSync sync(store.context(), archiver, debouncer);
            sync.backfill();
        }
        archiver.answer({});
        QCoreApplication::processEvents();
        QVERIFY(archiver.backfills.isEmpty());

        SlowIndexArchiver answered;
        ArchiveDebouncer debouncer(answered, store.context(), scheduler);
        ArchiveSync answering(store.context(), answered, debouncer);
        answering.backfill();
        answered.answer({});
        QTRY_COMPARE(answered.backfills.size(), 1);
    }

    // An edit the store could not commit (a full disk) stays out of the archive, also when
    // the application quits: the file keeps what the store holds, and gets the edit with the
    // save that takes it.
    void editsWaitForTheStore()
    {
        Fixture f;
        Meeting* meeting = addMeeting(f.context(), QStringLiteral("Standup"));
        QVERIFY(f.context().save().ok());
        f.archiver.archived.clear();
        QVERIFY(f.store.execute(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON Meeting BEGIN SELECT "
                                               "RAISE(ABORT, 'database or disk is full'); END")));

        meeting->setUserNotes(QStringLiteral("Typed while the disk was full"));
        QVERIFY(!f.context().save().ok());
        f.scheduler.advance(ArchiveDebouncer::kDelay);
        f.debouncer.flush();
        QVERIFY(f.archiver.archived.isEmpty());
        QVERIFY(f.debouncer.isPending(meeting->id()));

        QVERIFY(f.store.execute(QStringLiteral("DROP TRIGGER refuse")));
        QVERIFY(f.context().save().ok());
        QCOMPARE(f.archiver.archived.size(), 1);
        QCOMPARE(f.archiver.archived.constFirst().userNotes, QStringLiteral("Typed while the disk was full"));
    }

    // A meeting removed while the index is being read is not handed back to the archive.
    void backfillLeavesOutAMeetingRemovedMeanwhile()
    {
        TempStore store;
        Meeting* removed = addMeeting(store.context(), QStringLiteral("Deleted"), false, true);
        const QUuid kept = addMeeting(store.context(), QStringLiteral("Kept"), false, true)->id();
        QVERIFY(store->save().ok());
        FakeScheduler scheduler;
        SlowIndexArchiver archiver;
        ArchiveDebouncer debouncer(archiver, store.context(), scheduler);
        ArchiveSync sync(store.context(), archiver, debouncer);
        sync.backfill();
        store->remove(removed);
        archiver.answer({});
        QTRY_COMPARE(archiver.backfills.size(), 1);
        QCOMPARE(idsOf(archiver.backfills.first()), QSet<QUuid> { kept });
    }
};

QUILLET_TEST_MAIN(TestArchiveSync)
#include "TestArchiveSync.moc"
