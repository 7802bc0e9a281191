#include "app/MeetingActions.h"
#include "app/RecordingController.h"
#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/FakeCalendarHooks.h"
#include "support/TestMain.h"

#include <QSignalSpy>

using namespace std::chrono_literals;

namespace {

// The application's services recording silence on the test sound server (nothing is
// uploaded), with the user's own key and delayed calls the test moves on.
struct Recordings
{
    Recordings()
    {
        rig->account().setByoKey(QStringLiteral("tq-own-key"));
        QObject::connect(&controller(), &RecordingController::showMeeting, &controller(),
            [this](Meeting* meeting) { shown.append(meeting); });
    }
    ~Recordings()
    {
        if (rig->session().isRecording())
            rig->session().stopRecording();
        QTRY_COMPARE(rig->session().drainingRecordings(), 0);
    }

    RecordingController& controller() { return rig->recordings(); }
    TranscriptionSession& session() { return rig->session(); }
    ModelContext& store() { return rig->store(); }

    Meeting* addMeeting(const QString& title)
    {
        // Each later than the one before, so that "newest" is never a tie.
        rig.clock.advanceMs(60'000);
        auto* meeting = new Meeting(title, rig.clock.now());
        store().insert(meeting);
        store().save();
        return meeting;
    }

    Meeting* record(Meeting* into)
    {
        rig.clock.advanceMs(60'000);
        session().startRecording(store(), into);
        return session().meeting();
    }

    QList<Meeting*> shown; // what the controller asked the window to show
    FakeCalendarHooks calendar;
    AppRig rig { { .capture = true, .steppedDelays = true, .calendarHooks = &calendar } };
};

const QString kSwitchStandup = QStringLiteral("Stop recording \u201CStandup\u201D and start a new one?");

} // namespace

// The recordings as every part of the application asks for them, without a window: its
// question stands in for the window's dialog.
class TestRecordingController final : public QObject
{
    Q_OBJECT

private slots:
    // What the views show of a recording is read here, and follows the session.
    void adHocStartShowsItsStateHere()
    {
        Recordings r;
        QSignalSpy recording(&r.controller(), &RecordingController::isRecordingChanged);
        QSignalSpy paused(&r.controller(), &RecordingController::isPausedChanged);
        r.controller().startAdHocRecording();
        Meeting* meeting = r.controller().meeting();
        QVERIFY(meeting && r.controller().isRecording());
        QCOMPARE(r.controller().recordingMeeting(), meeting);
        QCOMPARE(recording.count(), 1);
        // The window turns to any recording that starts: nothing more is asked of it.
        QVERIFY(r.shown.isEmpty());

        r.controller().pauseRecording();
        QVERIFY(r.controller().isPaused());
        QCOMPARE(r.controller().microphoneLevel(), 0.0f);
        r.controller().resumeRecording();
        QVERIFY(!r.controller().isPaused());
        QCOMPARE(paused.count(), 2);

        r.controller().stopRecording();
        QVERIFY(!r.controller().isRecording());
        QVERIFY(!r.controller().meeting());
        QCOMPARE(recording.count(), 2);
    }

    void switchingAsksFirst_data()
    {
        QTest::addColumn<bool>("stopAndStart");
        QTest::addColumn<bool>("targetDeleted"); // while the question is up
        QTest::newRow("Stop & Start") << true << false;
        QTest::newRow("Cancel") << false << false;
        QTest::newRow("Stop & Start, target gone") << true << true;
    }

    void switchingAsksFirst()
    {
        QFETCH(bool, stopAndStart);
        QFETCH(bool, targetDeleted);
        Recordings r;
        Meeting* standup = r.addMeeting(QStringLiteral("Standup"));
        Meeting* retro = r.addMeeting(QStringLiteral("Retro"));
        Meeting* review = r.addMeeting(QStringLiteral("Review"));
        QCOMPARE(r.record(standup), standup);
        QSignalSpy asked(&r.controller(), &RecordingController::questionChanged);

        // Recording into the meeting that already records asks nothing.
        r.controller().startRecording(standup);
        QCOMPARE(asked.count(), 0);

        // A second request replaces the first; the question keeps its words.
        r.controller().startRecording(review);
        r.controller().startRecording(retro);
        QCOMPARE(asked.count(), 1);
        QCOMPARE(r.controller().asking(), RecordingController::Ask::switchRecording);
        QCOMPARE(r.controller().question(), kSwitchStandup);
        QCOMPARE(r.session().meeting(), standup);
        if (targetDeleted)
            MeetingActions::deleteMeeting(retro, r.store(), r.controller());
        r.controller().answer(stopAndStart);
        QVERIFY(r.controller().question().isEmpty());
        QCOMPARE(r.controller().asking(), RecordingController::Ask::nothing);
        // A target deleted meanwhile starts nothing, and the recording goes on.
        QCOMPARE(r.session().meeting(), stopAndStart && !targetDeleted ? retro : standup);
        QVERIFY(r.rig.browser.opened.isEmpty());
        // An answer nobody asked for does nothing.
        r.controller().answer(true);
        QCOMPARE(r.session().meeting(), stopAndStart && !targetDeleted ? retro : standup);
    }

    void quickNoteAsksWhileRecording()
    {
        Recordings r;
        r.controller().quickNote();
        Meeting* first = r.session().meeting();
        QVERIFY(first);
        QVERIFY(r.controller().question().isEmpty());

        r.rig.clock.advanceMs(60'000);
        r.controller().quickNote();
        QCOMPARE(r.controller().asking(), RecordingController::Ask::quickNote);
        QCOMPARE(r.controller().question(), QStringLiteral("Stop the current recording and start a new note?"));
        QCOMPARE(r.session().meeting(), first);
        r.controller().answer(true);
        Meeting* second = r.session().meeting();
        QVERIFY(second && second != first);
    }

    // A reminder's request, with the event's meeting, from the calendar's signal straight to
    // the recordings.
    void openAndRecord_data()
    {
        QTest::addColumn<QString>("recordingBefore"); // "", "event" (its meeting) or "other"
        QTest::addColumn<bool>("eventCurrent");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("expect"); // what records afterwards: "event", "other", "new"
        QTest::addColumn<bool>("asks");
        QTest::addColumn<bool>("linkOpened");
        const QString web = QStringLiteral("https://meet.example.test/abc-defg-hij");
        QTest::newRow("idle: records and opens the link") << "" << true << web << "event" << false << true;
        QTest::newRow("already recording it: nothing more") << "event" << true << web << "event" << false << false;
        QTest::newRow("another recording: asks, then switches") << "other" << true << web << "event" << true << true;
        QTest::newRow("event gone, idle: a new recording") << "" << false << web << "new" << false << false;
        QTest::newRow("event gone while recording: nothing") << "other" << false << web << "other" << false << false;
        // The call apps' own links go to their apps; other schemes on a call host record but
        // open nothing, and say so.
        QTest::newRow("Zoom's app link") << "" << true << "zoommtg://zoom.us/join?action=join&confno=123"
                                         << "event" << false << true;
        QTest::newRow("Teams' app link") << "" << true << "msteams://teams.microsoft.com/l/meetup-join/19%3ax"
                                         << "event" << false << true;
        QTest::newRow("a file on a call host") << "" << true << "file://zoom.us/etc/passwd"
                                               << "event" << false << false;
    }

    void openAndRecord()
    {
        QFETCH(QString, recordingBefore);
        QFETCH(bool, eventCurrent);
        QFETCH(QString, link);
        QFETCH(QString, expect);
        QFETCH(bool, asks);
        QFETCH(bool, linkOpened);
        Recordings r;
        Meeting* planning = r.addMeeting(QStringLiteral("Planning"));
        Meeting* other = r.addMeeting(QStringLiteral("Interview"));
        const QUrl callLink(link);
        if (recordingBefore == QLatin1String("event"))
            r.record(planning);
        else if (recordingBefore == QLatin1String("other"))
            r.record(other);
        const QList<Meeting*>& shown = r.shown;
        QSignalSpy joinFailures(&r.controller(), &RecordingController::joinFailed);

        emit r.calendar.openAndRecordRequested(
            eventCurrent ? CalendarHooks::EventMeeting { planning, callLink } : CalendarHooks::EventMeeting {});
        // The event's meeting is asked to be shown first, whatever follows.
        QCOMPARE(shown, eventCurrent ? QList<Meeting*> { planning } : QList<Meeting*> {});
        QCOMPARE(r.controller().asking() == RecordingController::Ask::switchRecording, asks);
        if (asks) {
            QCOMPARE(
                r.controller().question(), QStringLiteral("Stop recording \u201CInterview\u201D and start a new one?"));
            QVERIFY(r.rig.browser.opened.isEmpty());
            r.controller().answer(true);
        }

        Meeting* recording = r.session().meeting();
        if (expect == QLatin1String("event"))
            QCOMPARE(recording, planning);
        else if (expect == QLatin1String("other"))
            QCOMPARE(recording, other);
        else
            QVERIFY(recording && recording != planning && recording != other);
        QCOMPARE(r.rig.browser.opened, linkOpened ? QList<QUrl> { callLink } : QList<QUrl> {});
        const bool refused = eventCurrent && recordingBefore != QLatin1String("event") && !linkOpened;
        QCOMPARE(joinFailures.count(), refused ? 1 : 0);
    }

    // Deleting the meeting being recorded stops its recording first: nothing keeps capturing
    // for a record that is gone. A meeting already gone is left alone.
    void deletingTheRecordingMeetingStopsIt()
    {
        Recordings r;
        Meeting* other = r.addMeeting(QStringLiteral("Other"));
        Meeting* live = r.record(r.addMeeting(QStringLiteral("Live")));
        const QUuid id = live->id();
        MeetingActions::deleteMeeting(other, r.store(), r.controller());
        QVERIFY(r.controller().isRecording());
        MeetingActions::deleteMeeting(other, r.store(), r.controller());

        MeetingActions::deleteMeeting(live, r.store(), r.controller());
        QVERIFY(!r.controller().isRecording());
        QVERIFY(!r.session().mixer().isRunning());
        QVERIFY(!r.store().meetingById(id));
        QCOMPARE(r.store().meetingCount(), 0);
    }};

QUILLET_TEST_MAIN(TestRecordingController)
#include "TestRecordingController.moc"
