#include "archive/ArchiveIndex.h"
#include "archive/ArchiveMarkdown.h"
#include "archive/ArchiveQueue.h"
#include "archive/MeetingArchiver.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"
#include "support/ArchiveFolder.h"
#include "support/FakeScheduler.h"
#include "support/RecordingArchiver.h"
#include "support/SlowIndexArchiver.h"
#include "support/TempStore.h"
#include "support/TestMain.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <sys/stat.h>

using namespace std::chrono_literals;

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

// The index is only ever replaced whole: a write gives it a new inode.
quint64 inodeOf(const QString& path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? quint64(info.st_ino) : 0;
}

} // namespace

class TestArchiveQueue final : public QObject
{
    Q_OBJECT

    // The application's way from the store to the archive, over an archiver that keeps what it
    // is handed; delayed writes wait for the test's scheduler.
    struct Fixture
    {
        TempStore store;
        RecordingArchiver archiver;
        FakeScheduler scheduler;
        ArchiveQueue queue { store.context(), archiver, scheduler };

        ModelContext& context() { return store.context(); }
    };

    // The application's way on a real archive folder, with the store committing each turn.
    struct OnDisk
    {
        TempStore store;
        QTemporaryDir folder;
        MarkdownArchiver archiver { folder.filePath(QStringLiteral("QuilletNotes")) };
        FakeScheduler scheduler;
        ArchiveQueue queue { store.context(), archiver, scheduler };
        QSignalSpy writes { &queue, &ArchiveQueue::handedOver };

        OnDisk() { store->commitChangesEachTurn(); }
        ModelContext& context() { return store.context(); }
        QString index() const { return archiver.archiveRoot() + QStringLiteral("/index.json"); }
        // The only markdown file of the folder, once every write handed over has run.
        QString file()
        {
            if (!ArchiveFolder::drain(archiver))
                return QStringLiteral("(the archive did not finish)");
            const QMap<QString, QString> files = ArchiveFolder::markdownFiles(archiver);
            return files.size() == 1 ? files.first() : QStringLiteral("(%1 files)").arg(files.size());
        }
        // A key typed into the notes and the loop's turn that commits it.
        void type(Meeting& meeting, const QString& key)
        {
            meeting.setUserNotes(meeting.userNotes() + key);
            letTheLoopTurn(store.context());
        }
    };

private slots:
    // Typing is committed at every key, yet its file is written once, 0.9 s after the last
    // key; the index is not written for an edit inside the file, and is for a new name.
    void typingIsArchivedOncePaused()
    {
        OnDisk f;
        Meeting* meeting = addMeeting(f.context(), QStringLiteral("Planning"));
        QVERIFY(f.store->save().ok());
        f.archiver.archive(MeetingArchiver::Snapshot(*meeting));
        QVERIFY(f.file().contains(QStringLiteral("# Planning")));
        const quint64 indexBefore = inodeOf(f.index());
        QVERIFY(indexBefore != 0);

        for (const QString key : { "D", "e", "c", "i", "d" }) {
            f.type(*meeting, key);
            QVERIFY(!f.store->hasChanges());
            f.scheduler.advance(200ms);
        }
        QVERIFY(!f.file().contains(QStringLiteral("Decid")));
        f.scheduler.advance(699ms);
        QCOMPARE(f.writes.size(), 0);
        f.scheduler.advance(1ms);
        QCOMPARE(f.writes.size(), 1);
        QVERIFY(f.file().contains(QStringLiteral("## My Notes\n\nDecid\n")));
        QCOMPARE(inodeOf(f.index()), indexBefore);

        meeting->setTitle(QStringLiteral("Pricing"));
        letTheLoopTurn(f.context());
        f.scheduler.advance(ArchiveQueue::kDelay);
        QCOMPARE(f.writes.size(), 2);
        QVERIFY(f.file().contains(QStringLiteral("# Pricing")));
        QVERIFY(inodeOf(f.index()) != indexBefore);
        QVERIFY(ArchiveIndex::load(f.index())
                    .entry(ArchiveMarkdown::idString(meeting->id()))
                    ->path.endsWith(QStringLiteral("-pricing.md")));
    }

    // What must not wait does not: the save at a recording's end writes at once the notes typed
    // during it, with its transcript, and every other write still waiting for its delay.
    void requestedSavesWriteAtOnce()
    {
        OnDisk f;
        Meeting* meeting = addMeeting(f.context(), QStringLiteral("Standup"), true, true);
        Meeting* other = addMeeting(f.context(), QStringLiteral("Review"));
        QVERIFY(f.store->save().ok());
        f.type(*meeting, QStringLiteral("Typed while recording"));
        f.type(*other, QStringLiteral("Typed elsewhere"));
        QCOMPARE(f.writes.size(), 0);

        meeting->setIsRecording(false);
        QVERIFY(f.store->save().ok());
        QCOMPARE(f.writes.size(), 2);
        QVERIFY(ArchiveFolder::drain(f.archiver));
        const QMap<QString, QString> files = ArchiveFolder::markdownFiles(f.archiver);
        QCOMPARE(files.size(), 2);
        const QString standup = *std::find_if(
            files.begin(), files.end(), [](const QString& text) { return text.contains(QStringLiteral("# Standup")); });
        QVERIFY(standup.contains(QStringLiteral("Typed while recording")));
        QVERIFY(standup.contains(QStringLiteral("Hello there.")));

        QVERIFY(std::any_of(files.begin(), files.end(),
            [](const QString& text) { return text.contains(QStringLiteral("Typed elsewhere")); }));
    }

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

        f.queue.backfill();
        QTRY_COMPARE(f.archiver.backfills.size(), 1);
        QCOMPARE(idsOf(f.archiver.backfills.first()), (QSet<QUuid> { lacking, alsoLacking }));

        f.queue.backfill();
        QCoreApplication::processEvents();
        QCOMPARE(f.archiver.backfills.size(), 1); // nothing lacking: no job
    }

    // The index answers after the queue is gone (the application is quitting): nothing runs.
    void indexAnswerAfterTheQueueIsGone()
    {
        TempStore store;
        addMeeting(store.context(), QStringLiteral("Weekly sync"), false, true);
        FakeScheduler scheduler;
        SlowIndexArchiver archiver;
        {
            ArchiveQueue queue(store.context(), archiver, scheduler);
            queue.backfill();
        }
        archiver.answer({});
        QCoreApplication::processEvents();
        QVERIFY(archiver.backfills.isEmpty());

        SlowIndexArchiver answered;
        ArchiveQueue answering(store.context(), answered, scheduler);
        answering.backfill();
        answered.answer({});
        QTRY_COMPARE(answered.backfills.size(), 1);
    }

    // An edit the store could not commit (a full disk) stays out of the archive, also when
    // the application quits and when a failed write of the meeting is made again: the file
    // keeps what the store holds, and gets the edit with the save that takes it.
    void editsWaitForTheStore_data()
    {
        QTest::addColumn<bool>("failedBefore");
        QTest::newRow("after its delay") << false;
        QTest::newRow("a failed write made again") << true;
    }

    void editsWaitForTheStore()
    {
        QFETCH(bool, failedBefore);
        Fixture f;
        Meeting* meeting = addMeeting(f.context(), QStringLiteral("Standup"));
        QVERIFY(f.context().save().ok());
        if (failedBefore) {
            f.archiver.failure = QStringLiteral("/notes/2026/standup.md: Input/output error");
            meeting->setTitle(QStringLiteral("Standup, renamed"));
            QVERIFY(f.context().save().ok());
            QTRY_COMPARE(f.queue.problem(), ArchiveQueue::Problem::writeFailed);
            f.archiver.failure.reset();
        }
        f.archiver.archived.clear();
        QVERIFY(f.store.execute(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON Meeting BEGIN SELECT "
                                               "RAISE(ABORT, 'database or disk is full'); END")));

        meeting->setUserNotes(QStringLiteral("Typed while the disk was full"));
        QVERIFY(!f.context().save().ok());
        f.scheduler.advance(failedBefore ? ArchiveQueue::kRetryInterval : ArchiveQueue::kDelay);
        f.queue.flush();
        QVERIFY(f.archiver.archived.isEmpty());
        QVERIFY(f.queue.isPending(meeting->id()));

        QVERIFY(f.store.execute(QStringLiteral("DROP TRIGGER refuse")));
        QVERIFY(f.context().save().ok());
        QCOMPARE(f.archiver.archived.size(), 1);
        QCOMPARE(f.archiver.archived.constFirst().userNotes, QStringLiteral("Typed while the disk was full"));
        QTRY_COMPARE(f.queue.problem(), ArchiveQueue::Problem::none);
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
        ArchiveQueue queue(store.context(), archiver, scheduler);
        queue.backfill();
        store->remove(removed);
        archiver.answer({});
        QTRY_COMPARE(archiver.backfills.size(), 1);
        QCOMPARE(idsOf(archiver.backfills.first()), QSet<QUuid> { kept });
    }
};

QUILLET_TEST_MAIN(TestArchiveQueue)
#include "TestArchiveQueue.moc"
