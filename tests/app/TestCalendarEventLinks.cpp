#include "storage/Meeting.h"
#include "support/AppRig.h"
#include "support/TestMain.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QDateTime kNow(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC);

// A meeting with two other people, as the calendar lists it (a lone block of time is skipped).
StoreEvent& addMeeting(AppRig& rig, const QString& title, const QDateTime& start)
{
    StoreEvent& event = rig.calendars.addEvent("work", "r1", title, start);
    for (const char* name : { "ada", "bob" })
        event.attendees.append({ QString::fromLatin1(name), QUrl(QStringLiteral("mailto:%1@example.com").arg(name)) });
    return event;
}

// The rig's calendar service reading one calendar of the in-memory store, published once.
bool publish(AppRig& rig)
{
    QSignalSpy published(&rig->calendar(), &CalendarService::eventsChanged);
    rig->calendar().start();
    return published.wait(5000);
}

} // namespace

class TestCalendarEventLinks : public QObject
{
    Q_OBJECT

private slots:
    void offersAndLinksTheListedEvent_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("noteMinutesAfterStart");
        QTest::addColumn<QString>("offered");

        QTest::newRow("quick note during the event") << "quick-note" << 10 << "Design review";
        QTest::newRow("just before the start") << "quick-note" << -4 << "Design review";
        QTest::newRow("detected recording") << "auto-detected" << 0 << "Design review";
        QTest::newRow("after the end") << "quick-note" << 31 << "";
        QTest::newRow("a calendar meeting") << "calendar" << 10 << "";
    }

    void offersAndLinksTheListedEvent()
    {
        QFETCH(QString, source);
        QFETCH(int, noteMinutesAfterStart);
        QFETCH(QString, offered);

        AppRig rig;
        rig.clock.set(kNow);
        const QDateTime start = kNow.addSecs(-15 * 60);
        rig.calendars.addCalendar("work", "Work");
        addMeeting(rig, "Design review", start).organizerName = QStringLiteral("Ada");
        QVERIFY(publish(rig));

        auto* meeting = new Meeting(QStringLiteral("Quick note"), start.addSecs(noteMinutesAfterStart * 60));
        meeting->setSource(source);
        rig->store().insert(meeting);
        rig->store().save();

        EventLinks& links = rig->eventLinks();
        const std::optional<EventLinks::Offer> offer = links.candidate(*meeting);
        QCOMPARE(offer ? offer->title : QString(), offered);
        if (!offer)
            return;

        links.link(*meeting, *offer);
        QCOMPARE(meeting->calendarEventId(), std::optional(offer->eventId));
        QCOMPARE(meeting->title(), QStringLiteral("Design review"));
        QCOMPARE(meeting->organizer(), std::optional<QString>(QStringLiteral("Ada")));
        QCOMPARE(meeting->scheduledStart(), std::optional(start));
        // A linked note is offered nothing more.
        QVERIFY(!links.candidate(*meeting));
    }

    void offersFollowTheCalendar()
    {
        AppRig rig;
        rig.clock.set(kNow);
        rig.calendars.addCalendar("work", "Work");
        addMeeting(rig, "Design review", kNow.addSecs(-600));
        QVERIFY(publish(rig));
        Meeting meeting(QStringLiteral("Quick note"), kNow);
        EventLinks& links = rig->eventLinks();
        const std::optional<EventLinks::Offer> offer = links.candidate(meeting);
        QVERIFY(offer);

        // The event goes away while its offer is shown: the view hears of it, and a click on
        // the stale offer links the note to nothing.
        QSignalSpy changed(&links, &EventLinks::changed);
        rig.calendars.clearEvents();
        rig.calendars.signalChange();
        QVERIFY(changed.wait(5000));
        QVERIFY(!links.candidate(meeting));
        links.link(meeting, *offer);
        QVERIFY(!meeting.calendarEventId());
        QCOMPARE(meeting.title(), QStringLiteral("Quick note"));
        QCOMPARE(meeting.source(), QStringLiteral("quick-note"));
    }
};

QUILLET_TEST_MAIN(TestCalendarEventLinks)
#include "TestCalendarEventLinks.moc"
