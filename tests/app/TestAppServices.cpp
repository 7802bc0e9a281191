#include "archive/ArchiveMarkdown.h"
#include "platform/Log.h"
#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/ArchiveFolder.h"
#include "support/TempStore.h"
#include "support/TestMain.h"

#include <QDirIterator>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

namespace {

bool waitFor(QFuture<void> future)
{
    return QTest::qWaitFor([&] { return future.isFinished(); }, 20000);
}

} // namespace

class TestAppServices final : public QObject
{
    Q_OBJECT

private slots:
    // A meeting is owed its file from its first change, before the store commits it, until a
    // write shows its last one: an edit made while a write is under way keeps it owed.
    void owedFromTheFirstChangeToTheLastWrite()
    {
        AppRig rig({ .steppedDelays = true });
        auto* meeting = new Meeting(QStringLiteral("Sync"), rig.clock.now());
        rig->store().insert(meeting);
        QVERIFY(rig->store().save().ok());
        const QUuid id = meeting->id();
        QVERIFY(waitFor(rig->archiver().idle()));
        QVERIFY(rig->store().archiveWritesOwed().isEmpty());

        meeting->setUserNotes(QStringLiteral("first"));
        QCOMPARE(rig->store().archiveWritesOwed(), QSet<QUuid> { id });
        letTheLoopTurn(rig->store());
        rig.scheduler.advance(ArchiveQueue::kDelay);
        meeting->setUserNotes(QStringLiteral("first, second"));
        letTheLoopTurn(rig->store());
        QVERIFY(waitFor(rig->archiver().idle()));
        QCoreApplication::processEvents(); // the first write's outcome
        QCOMPARE(rig->store().archiveWritesOwed(), QSet<QUuid> { id });

        rig.scheduler.advance(ArchiveQueue::kDelay);
        QVERIFY(waitFor(rig->archiver().idle()));
        QTRY_VERIFY(rig->store().archiveWritesOwed().isEmpty());
    }

    // Start-up and the session read the cue setting through one registry: with nothing
    // stored, a recording starts with its cue.
    void recordingStartCueFollowsTheSetting_data()
    {
        QTest::addColumn<bool>("capture");
        QTest::addColumn<std::optional<bool>>("storedSound");
        QTest::addColumn<bool>("cuePlayed");
        QTest::newRow("nothing stored") << true << std::optional<bool>() << true;
        QTest::newRow("sound turned off") << true << std::optional<bool>(false) << false;
        QTest::newRow("capture off: no start, no cue") << false << std::optional<bool>() << false;
    }

    void recordingStartCueFollowsTheSetting()
    {
        QFETCH(bool, capture);
        QFETCH(std::optional<bool>, storedSound);
        QFETCH(bool, cuePlayed);
        AppRig rig({ .capture = capture });
        if (storedSound)
            rig->settings().set(SettingsKeys::soundEnabled, *storedSound);
        rig->account().setByoKey(QStringLiteral("tq-own-key"));

        rig->session().startRecording(rig->store());
        QCOMPARE(rig->session().isRecording(), capture);
        QCOMPARE(!rig.cues.played.isEmpty(), cuePlayed);
        if (cuePlayed)
            QCOMPARE(rig.cues.played.first().first, SoundFeedback::startCue());
        if (!capture) {
            QVERIFY(rig->session().error().startsWith(QLatin1String("Could not start the microphone")));
            return;
        }
        QSignalSpy finalized(&rig->session(), &TranscriptionSession::recordingFinalized);
        rig->session().stopRecording();
        QVERIFY(finalized.wait(60000));
    }

    // The router hands "quillet:" links to the account, as the desktop delivers them.
    void signInLinkReachesTheCloudServer()
    {
        AppRig rig;
        rig->router().route(QUrl(QStringLiteral("quillet://auth?token=link-4b1")));
        QTRY_COMPARE(rig.cloud.requestsTo("POST", "/v1/auth/verify").size(), 1);
        QCOMPARE(rig.cloud.requestsTo("POST", "/v1/auth/verify").first().body, QByteArray(R"({"token":"link-4b1"})"));
        QVERIFY(rig.browser.opened.isEmpty());
    }

    // A window show's housekeeping asks the archive what it holds before the show's tasks
    // rebuild an empty store from it; the back-fill is taken when the archive answers, so it
    // indexes the imported meetings. The update feed is asked on the product's site; the
    // launch reads the calendars, and with meetings in the store prunes the archive.
    void showImportsAndBackfillsLaunchPrunes()
    {
        AppRig rig;
        const QString golden = QStringLiteral(QUILLET_TEST_DATA_DIR "/archive/golden");
        QDirIterator files(golden, { QStringLiteral("*.md") }, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString from = files.next();
            const QString to = rig.archiveRoot() + u'/' + QDir(golden).relativeFilePath(from);
            QVERIFY(QDir().mkpath(QFileInfo(to).path()));
            QVERIFY(QFile::copy(from, to));
        }
        const auto index = [&rig] {
            QFile file(rig.archiveRoot() + QStringLiteral("/index.json"));
            return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
        };

        rig->launch();
        rig->archiveQueue().backfill();
        rig->runWindowTasks();
        QCOMPARE(rig->store().meetingCount(), 6);
        QTRY_COMPARE(index().size(), 6);
        QTRY_COMPARE(rig.site.requestsTo("GET", "/latest.json").size(), 1);
        QCOMPARE(rig.calendars.calendarReads(), 1);

        // A meeting deleted from the store whose archive removal never ran (the process ended
        // first): the next launch drops its file, and its show imports nothing.
        Meeting* deleted = rig->store().fetchMeetings().first();
        const QString deletedId = deleted->id().toString(QUuid::WithoutBraces).toUpper();
        rig->store().remove(deleted);
        QVERIFY(rig->store().save().ok());
        AppServices& again = rig.restart();
        again.launch();
        again.archiveQueue().backfill();
        again.runWindowTasks();
        QCOMPARE(again.store().meetingCount(), 5);
        QVERIFY(waitFor(again.archiver().idle()));
        QCOMPARE(index().size(), 5);
        QVERIFY(!index().contains(deletedId));
    }

    // A file the person wrote in the notes folder stays as it is after the store is rebuilt
    // from it: the meeting's edits go to a file of its own beside it.
    void rebuiltMeetingLeavesThePersonsFileAlone()
    {
        AppRig rig({ .steppedDelays = true });
        QVERIFY(QDir().mkpath(rig.archiveRoot()));
        const QByteArray theirs = "---\ntitle: \"Weekly sync\"\ndate: 2026-12-09T09:50:00Z\n---\n\n# Weekly sync\n\n## "
                                  "My Notes\n\nAgenda\n";
        {
            QFile file(rig.archiveRoot() + QStringLiteral("/2026-12-09-0950-m01.md"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write(theirs) > 0);
        }
        rig->runWindowTasks();
        QCOMPARE(rig->store().meetingCount(), 1);
        Meeting* meeting = rig->store().fetchMeetings().first();
        meeting->setUserNotes(QStringLiteral("Agenda, then the budget"));
        letTheLoopTurn(rig->store());
        rig.scheduler.advance(ArchiveQueue::kDelay);
        QVERIFY(ArchiveFolder::drain(rig->archiver()));
        const QMap<QString, QString> files = ArchiveFolder::markdownFiles(rig->archiver());
        QCOMPARE(files.size(), 2);
        QCOMPARE(files.first().toUtf8(), theirs);
        QVERIFY(files.last().contains(QStringLiteral("Agenda, then the budget")));
    }

    // The recovery road: a store moved away is rebuilt from the notes folder with every section
    // its files hold, and the first edit, which writes the file again from the store, keeps
    // them all.
    void recoveredMeetingKeepsEverySectionThroughAnEdit()
    {
        AppRig rig({ .steppedDelays = true });
        MeetingSnapshot written;
        written.id = QUuid::createUuid();
        written.title = QStringLiteral("Budget review");
        written.date = QDateTime(QDate(2026, 3, 2), QTime(9, 30), Qt::UTC);
        written.duration = 25 * 60;
        written.summary = QStringLiteral("**Decisions**\n- Keep the venue\n\n## Action items\n- Linh: quotes");
        // Stored with blank lines around it; the file holds it trimmed.
        written.userNotes = QStringLiteral("\nAsk about *two* venues_ \\ [x]\n\n## Follow-up\n# Friday\n\n");
        written.turns = { { "Speaker A", 0, "Shall we start?" }, { "Linh", 65, "Yes, the quotes are in." } };
        written.chat = { { "user", "What did we decide?" },
            { "assistant", "Two things:\n\n- keep the venue\n[00:00] **Speaker A:** Shall we start?\n" },
            { "user", "And Linh?" }, { "assistant", "She sends the quotes." } };
        const QString path = rig.archiveRoot() + u'/' + ArchiveMarkdown::yearFolder(written.date) + u'/'
            + ArchiveMarkdown::fileName(written);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write(ArchiveMarkdown::markdown(written)) > 0);
        }

        rig->runWindowTasks();
        QCOMPARE(rig->store().meetingCount(), 1);
        Meeting* meeting = rig->store().meetingById(written.id);
        QVERIFY(meeting);
        MeetingSnapshot expected = written;
        expected.userNotes = written.userNotes.trimmed();
        const auto fileOf
            = [](const MeetingSnapshot& snapshot) { return QString::fromUtf8(ArchiveMarkdown::markdown(snapshot)); };
        QCOMPARE(fileOf(MeetingSnapshot(*meeting)), fileOf(expected));
        QCOMPARE(meeting->userNotes(), expected.userNotes);

        meeting->setUserNotes(meeting->userNotes() + QStringLiteral("\nBook the room."));
        expected.userNotes += QStringLiteral("\nBook the room.");
        QVERIFY(rig->store().save().ok());
        QVERIFY(waitFor(rig->archiver().idle()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), fileOf(expected));

        AppServices& again = rig.restart();
        const Meeting* reopened = again.store().meetingById(written.id);
        QVERIFY(reopened);
        QCOMPARE(fileOf(MeetingSnapshot(*reopened)), fileOf(expected));
    }

    // Meetings deleted by a process killed before the archive caught up stay deleted: the next
    // launch removes their files, and the store they emptied is not refilled from the archive,
    // then or at any later launch.
    void deletionsKilledBeforeTheArchiveStayDeleted()
    {
        AppRig rig;
        QList<MeetingArchiver::Snapshot> snapshots;
        for (const char* title : { "Kickoff", "Review", "Retro" }) {
            rig.clock.advanceMs(60'000);
            auto* meeting = new Meeting(QString::fromLatin1(title), rig.clock.now());
            meeting->setUserNotes(QStringLiteral("Notes of ") + meeting->title());
            rig->store().insert(meeting);
            snapshots.append(MeetingArchiver::Snapshot(*meeting));
        }
        QVERIFY(rig->store().save().ok());
        rig->archiver().backfill(snapshots);
        QVERIFY(waitFor(rig->archiver().idle()));
        const auto markdownFiles = [&rig] {
            QStringList files;
            QDirIterator it(rig.archiveRoot(), { QStringLiteral("*.md") }, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                files.append(it.next());
            return files;
        };
        QCOMPARE(markdownFiles().size(), 3);

        // The deleting process saves, then dies before any archive job of its own.
        QProcess child;
        child.start(QStringLiteral(STORE_CHILD_PROCESS), { QStringLiteral("delete"), rig.path("Quillet.store") });
        QVERIFY(child.waitForStarted());
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += child.readAllStandardOutput()).contains("deleted") || child.state() == QProcess::NotRunning,
            30000);
        QCOMPARE(child.state(), QProcess::Running);
        child.kill();
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        LogCapture log;
        for (int launch = 0; launch < 2; ++launch) {
            AppServices& again = rig.restart();
            QCOMPARE(again.store().meetingCount(), 0);
            again.launch();
            again.runWindowTasks();
            QVERIFY(waitFor(again.archiver().idle()));
            QTRY_VERIFY(again.store().pendingArchiveRemovals().isEmpty());
            QCOMPARE(again.store().meetingCount(), 0);
            QCOMPARE(markdownFiles(), QStringList());
            QVERIFY2(!log.containsPart(QStringLiteral("Recovered")), qPrintable(log.lines().join(u'\n')));
        }
    }
};

QUILLET_TEST_MAIN(TestAppServices)
#include "TestAppServices.moc"
