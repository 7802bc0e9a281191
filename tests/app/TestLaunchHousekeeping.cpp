#include "app/AppState.h"
#include "app/LaunchHousekeeping.h"
#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/FakeCalendarHooks.h"
#include "support/TestMain.h"

// The housekeeping of each window show through the composition root, with a calendar that
// counts what it is asked.
class TestLaunchHousekeeping final : public QObject
{
    Q_OBJECT

private slots:
    // A recording an earlier run left open is repaired before the purge and the recent list
    // see it, and the calendar's automatic start comes last; the calendar's publications
    // bring the linked meetings' titles.
    void repairsThenPurgesThenStartsTheCalendar()
    {
        FakeCalendarHooks calendar;
        AppRig rig({ .calendarHooks = &calendar });
        ModelContext& store = rig->store();
        auto* stale = new Meeting(QStringLiteral("Left recording"), rig.clock.now());
        stale->setIsRecording(true);
        stale->setUserNotes(QStringLiteral("kept"));
        store.insert(stale);
        // Untitled and empty: the purge's, once it no longer records.
        auto* empty = new Meeting(QStringLiteral("New Meeting"), rig.clock.now());
        empty->setIsRecording(true);
        store.insert(empty);
        store.save();
        int autoStartsSeenAtTheRepair = -1;
        connect(stale, &Meeting::isRecordingChanged, this,
            [&] { autoStartsSeenAtTheRepair = calendar.autoStarts; });

        rig->housekeeping().run();
        QVERIFY(!stale->isRecording());
        QCOMPARE(autoStartsSeenAtTheRepair, 0);
        QCOMPARE(calendar.autoStarts, 1);
        QCOMPARE(store.meetingCount(), 1);
        QCOMPARE(rig->appState().recentMeetings().size(), 1);
        QCOMPARE(rig->appState().recentMeetings().first().title, QStringLiteral("Left recording"));

        emit calendar.eventsPublished();
        emit calendar.eventsPublished();
        QCOMPARE(calendar.titleSyncs, 2);
    }
};

QUILLET_TEST_MAIN(TestLaunchHousekeeping)
#include "TestLaunchHousekeeping.moc"
