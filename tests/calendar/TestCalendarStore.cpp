// The desktop calendar store layer against a real Evolution Data Server, on a bus of its own.
#include "CalendarFixture.h"
#include "calendar/CalendarService.h"
#include "platform/calendar/EdsCalendarStore.h"
#include "support/EmptyBus.h"
#include "support/TestMain.h"
#include "support/ZoneAndLocale.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

using namespace std::chrono_literals;

namespace {

const EdsCalendarStore::Limits kLimits = CalendarFixture::kPatientLimits;

// Every thread an answer or a change reached its receiver on, in the current test.
QSet<QThread*> answerThreads;

QList<StoreCalendar> calendarsOf(EdsCalendarStore& store)
{
    std::optional<QList<StoreCalendar>> answer;
    QObject context;
    store.fetchCalendars(&context, [&](const QList<StoreCalendar>& calendars) {
        answerThreads.insert(QThread::currentThread());
        answer = calendars;
    });
    if (!QTest::qWaitFor([&] { return answer.has_value(); }, 150'000))
        qWarning("no calendar list");
    return answer.value_or(QList<StoreCalendar> {});
}

QList<StoreEvent> weekOf(EdsCalendarStore& store, const QStringList& calendarIds)
{
    calendarsOf(store);
    const auto [start, end] = CalendarService::window(CalendarFixture::kNow);
    std::optional<QList<StoreEvent>> answer;
    QObject context;
    store.fetchEvents(calendarIds, start, end, &context, [&](const QList<StoreEvent>& events) {
        answerThreads.insert(QThread::currentThread());
        answer = events;
    });
    if (!QTest::qWaitFor([&] { return answer.has_value(); }, 150'000))
        qWarning("no events");
    return answer.value_or(QList<StoreEvent> {});
}

const StoreEvent* find(const QList<StoreEvent>& events, const QString& id)
{
    const auto it = std::find_if(events.begin(), events.end(), [&](const StoreEvent& e) { return e.id == id; });
    return it == events.end() ? nullptr : &*it;
}

// The registry's program, as the bus would start it.
QString registryProgram()
{
    QFile service(QStringLiteral("/usr/share/dbus-1/services/org.gnome.evolution.dataserver.Sources5.service"));
    if (!service.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : service.readAll().split('\n')) {
        if (line.startsWith("Exec="))
            return QString::fromUtf8(line.mid(5).trimmed());
    }
    return {};
}

} // namespace

class TestCalendarStore final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("QUILLET_PRIVATE_BUS"), "run through scripts/with-private-bus");
        QString error;
        QVERIFY2(CalendarFixture::run(CalendarFixture::setupScript(), &error), qPrintable(error));
    }

    // An invitation that repeats every second adds a bounded number of occurrences, and the
    // rest of its calendar is read as usual (the backend and the library, left to themselves,
    // took minutes for either and the read timed out with nothing).
    void boundsAnEventThatRepeatsEverySecond()
    {
        QString events;
        QStringList normalIds;
        for (int day = 26; day < 30; ++day) {
            for (const QString hour : { "09", "14" }) {
                const QString uid = QStringLiteral("normal-%1-%2").arg(day).arg(hour);
                normalIds.append("quillet-burst/" + uid);
                events += CalendarFixture::event(uid, "Normal",
                    QStringLiteral(":202603%1T%2%3Z").arg(day).arg(hour, "0000"),
                    QStringLiteral(":202603%1T%2%3Z").arg(day).arg(hour, "3000"));
            }
        }
        // One starts in the week; two started years ago (at times of day before and after the
        // week's start), last a second and never end.
        events += CalendarFixture::event(
            "burst", "Every second", ":20260325T080000Z", ":20260325T083000Z", "RRULE:FREQ=SECONDLY\n");
        events += CalendarFixture::event(
            "ticker", "Since 2020", ":20200101T123456Z", ":20200101T123457Z", "RRULE:FREQ=SECONDLY\n");
        events += CalendarFixture::event(
            "night-ticker", "Since 2020", ":20200101T234530Z", ":20200101T234531Z", "RRULE:FREQ=SECONDLY\n");
        auto cleanUp = qScopeGuard([] {
            CalendarFixture::run(CalendarFixture::command({ "forget", "quillet-burst" }));
        });
        QString error;
        QVERIFY2(CalendarFixture::run(
                     CalendarFixture::command({ "calendar", "quillet-burst", "Burst", "local-stub", "local", "-" })
                         + CalendarFixture::put("quillet-burst", events),
                     &error),
            qPrintable(error));

        EdsCalendarStore store(kLimits);
        const QList<StoreEvent> week = weekOf(store, { "quillet-burst" });
        QStringList normal;
        QMap<QString, QList<QDateTime>> starts; // of each repeating event, by its UID
        for (const StoreEvent& event : week) {
            const QStringList parts = event.id.split('/');
            if (parts.size() == 3)
                starts[parts[1]].append(event.start);
            else
                normal.append(event.id);
        }
        QCOMPARE(normal, normalIds);
        QCOMPARE(starts.keys(), QStringList({ "burst", "night-ticker", "ticker" }));
        const QDateTime windowStart = CalendarService::window(CalendarFixture::kNow).first;
        const QMap<QString, QDateTime> firsts {
            { "burst", QDateTime(QDate(2026, 3, 25), QTime(8, 0), Qt::UTC) },
            { "ticker", windowStart },
            { "night-ticker", windowStart },
        };
        for (const QString& uid : starts.keys()) {
            const QList<QDateTime>& times = starts[uid];
            QCOMPARE(times.size(), EdsCalendarStore::kMaxOccurrencesPerEvent);
            QCOMPARE(times.first(), firsts[uid]);
            QCOMPARE(times.last(), firsts[uid].addSecs(EdsCalendarStore::kMaxOccurrencesPerEvent - 1));
        }
        QVERIFY(find(week, "quillet-burst/burst/20260325T080001Z"));
    }

    // The store reads on a thread of its own; its callers never see it.
    void init() { answerThreads.clear(); }
    void cleanup()
    {
        if (!answerThreads.isEmpty())
            QCOMPARE(answerThreads, QSet<QThread*> { QThread::currentThread() });
    }

    void listsEnabledCalendars()
    {
        EdsCalendarStore store(kLimits);
        QList<StoreCalendar> calendars = calendarsOf(store);
        for (const StoreCalendar& calendar : std::as_const(calendars))
            QVERIFY2(calendar.color.isValid(), qPrintable(calendar.id));
        const QColor grey = CalendarStore::kFallbackColor;
        // The store gives every calendar a colour of its own choice when none was set.
        for (StoreCalendar& calendar : calendars) {
            if (!calendar.id.startsWith(QLatin1String("quillet-")) || calendar.id == QLatin1String("quillet-loose"))
                calendar.color = grey;
        }
        const QList<StoreCalendar> expected {
            { "birthdays", "Birthdays & Anniversaries", "Contacts", grey, false },
            { "quillet-feed", "Holidays", "On The Web", QColor("#c4a000"), false },
            { "quillet-loose", "Loose ends", "Other", grey, true },
            { "quillet-side", "Side project", "On This Computer", QColor("#73d216"), true },
            { "quillet-work", "Work", "On This Computer", QColor("#3465a4"), true },
            { "system-calendar", "Personal", "On This Computer", grey, true },
        };
        QCOMPARE(calendars, expected);
    }

    // The week's occurrences in their zones, with the ids they keep across reads.
    void readsTheWindowsOccurrences()
    {
        EdsCalendarStore store(kLimits);
        const QList<StoreEvent> events = weekOf(store, { "quillet-work" });
        QStringList ids;
        for (const StoreEvent& event : events)
            ids.append(event.id);
        // Sorted by start. Friday's standup is excluded, Monday's moved to Tuesday afternoon;
        // the planning call starts at the window's end and belongs to the next week.
        const QStringList expectedIds { "quillet-work/late", "quillet-work/standup/20260325T083000Z",
            "quillet-work/review", "quillet-work/declined", "quillet-work/partner", "quillet-work/offsite",
            "quillet-work/vendor", "quillet-work/nyc", "quillet-work/utc", "quillet-work/dentist", "quillet-work/tokyo",
            "quillet-work/floating", "quillet-work/standup/20260330T073000Z", "quillet-work/retro" };
        QCOMPARE(ids, expectedIds);

        struct Time
        {
            const char* id;
            QDateTime start;
            QByteArray zone;
        };
        const QList<Time> times {
            { "quillet-work/nyc", QDateTime(QDate(2026, 3, 26), QTime(13, 0), Qt::UTC), "America/New_York" },
            { "quillet-work/utc", QDateTime(QDate(2026, 3, 26), QTime(15, 0), Qt::UTC), "UTC" },
            { "quillet-work/floating", QDateTime(QDate(2026, 3, 27), QTime(15, 0), Qt::UTC), "Europe/Berlin" },
            { "quillet-work/tokyo", QDateTime(QDate(2026, 3, 27), QTime(9, 0), Qt::UTC), "Asia/Tokyo" },
            { "quillet-work/standup/20260330T073000Z", CalendarFixture::berlin(3, 31, 14), "Europe/Berlin" },
        };
        for (const Time& time : times) {
            const StoreEvent* event = find(events, time.id);
            QVERIFY2(event, time.id);
            QCOMPARE(event->start, time.start);
            const QByteArray zone = event->start.timeSpec() == Qt::UTC ? "UTC" : event->start.timeZone().id();
            QCOMPARE(zone, time.zone);
        }
        QVERIFY(find(events, "quillet-work/offsite")->allDay);
        QCOMPARE(find(events, "quillet-work/offsite")->start, QDateTime(QDate(2026, 3, 26), QTime(0, 0)));

        const StoreEvent* review = find(events, "quillet-work/review");
        QCOMPARE(review->organizerName, std::optional<QString>("Alice Nguyen"));
        QCOMPARE(review->location, std::optional<QString>("Board Room"));
        using Type = StoreAttendee::Type;
        using Status = StoreAttendee::Status;
        const QList<StoreAttendee> attendees {
            { "Alice Nguyen", QUrl("mailto:alice@example.com"), Type::Individual, Status::Accepted, false },
            { "", QUrl("mailto:bob.tran@example.com"), Type::Individual, Status::NeedsAction, false },
            { "", QUrl("mailto:@"), Type::Individual, Status::NeedsAction, false },
            { "Board Room", QUrl("mailto:board.room@example.com"), Type::Room, Status::NeedsAction, false },
            { "Me", QUrl("mailto:me@example.com"), Type::Individual, Status::Accepted, true },
        };
        QCOMPARE(review->attendees, attendees);
        // The alias, written in capitals, is the user too.
        QVERIFY(find(events, "quillet-work/declined")->attendees.first().isCurrentUser);
        QCOMPARE(find(events, "quillet-work/declined")->attendees.first().status, Status::Declined);

        EdsCalendarStore again(kLimits);
        QCOMPARE(weekOf(again, { "quillet-work" }), events);
    }

    // Reading sets off no change; an edit by another program is one change, after the quiet.
    void reportsEditsOnce()
    {
        EdsCalendarStore store(kLimits);
        QSignalSpy changed(&store, &CalendarStore::changed);
        connect(&store, &CalendarStore::changed, this, [] { answerThreads.insert(QThread::currentThread()); });
        QVERIFY(!weekOf(store, { "quillet-work", "quillet-side" }).isEmpty());
        QVERIFY(!weekOf(store, { "quillet-work", "quillet-side" }).isEmpty());
        QVERIFY(!changed.wait(3000));

        QString error;
        QVERIFY2(CalendarFixture::run(
                     CalendarFixture::put("quillet-side",
                         CalendarFixture::event("side-2", "Side sync", ":20260327T100000Z", ":20260327T103000Z"))
                         + CalendarFixture::command({ "remove", "quillet-side", "side-2" }),
                     &error),
            qPrintable(error));
        QVERIFY(changed.wait(60'000));
        QVERIFY(!changed.wait(3000)); // longer than the quiet: a second change would be in
        QCOMPARE(changed.count(), 1);
    }

    // The read after an edit has it, and every other calendar's week as the store holds it:
    // the calendars edited before, and those the registry added or removed, included.
    void readsEveryEditAfterAChange()
    {
        EdsCalendarStore store(kLimits);
        QSignalSpy changed(&store, &CalendarStore::changed);
        const QStringList ids { "quillet-work", "quillet-side" };
        const QStringList withExtra = ids + QStringList { "quillet-extra" };
        const QList<StoreEvent> before = weekOf(store, ids);
        QCOMPARE(weekOf(store, ids), before);
        // The change may be reported before the helper has quit.
        const auto edit = [&](const QString& script) {
            changed.clear();
            QString error;
            if (!CalendarFixture::run(script, &error))
                qWarning("%s", qPrintable(error));
            return !changed.isEmpty() || changed.wait(60'000);
        };
        const auto idsOf = [](const QList<StoreEvent>& events, const QString& calendar) {
            QStringList result;
            for (const StoreEvent& event : events) {
                if (event.calendarId == calendar)
                    result.append(event.id);
            }
            return result;
        };
        const auto listed = [&](const QString& id) {
            const QList<StoreCalendar> calendars = calendarsOf(store);
            return std::any_of(calendars.begin(), calendars.end(), [&](const StoreCalendar& c) { return c.id == id; });
        };
        const QStringList work = idsOf(before, "quillet-work");
        const QStringList side = idsOf(before, "quillet-side");
        // After the late call, which began the day before.
        QStringList workAndKickoff = work;
        workAndKickoff.insert(1, "quillet-work/work-4");
        auto cleanUp = qScopeGuard([] {
            CalendarFixture::run(CalendarFixture::command({ "remove", "quillet-side", "side-4" }));
            CalendarFixture::run(CalendarFixture::command({ "remove", "quillet-work", "work-4" }));
            CalendarFixture::run(CalendarFixture::command({ "forget", "quillet-extra" }));
        });

        QVERIFY(edit(CalendarFixture::put("quillet-side",
            CalendarFixture::event("side-4", "Side kickoff", ":20260325T000000Z", ":20260325T003000Z"))));
        QList<StoreEvent> week = weekOf(store, ids);
        QCOMPARE(idsOf(week, "quillet-work"), work);
        QCOMPARE(idsOf(week, "quillet-side"), QStringList { "quillet-side/side-4" } + side);

        QVERIFY(edit(CalendarFixture::put("quillet-work",
            CalendarFixture::event("work-4", "Work kickoff", ":20260325T000000Z", ":20260325T003000Z"))));
        week = weekOf(store, ids);
        QCOMPARE(idsOf(week, "quillet-work"), workAndKickoff);
        QCOMPARE(idsOf(week, "quillet-side"), QStringList { "quillet-side/side-4" } + side);

        QVERIFY(edit(CalendarFixture::command({ "calendar", "quillet-extra", "Extra", "local-stub", "local", "-" })));
        QTRY_VERIFY_WITH_TIMEOUT(listed("quillet-extra"), 60'000);
        week = weekOf(store, withExtra);
        QCOMPARE(idsOf(week, "quillet-extra"), QStringList {});
        QCOMPARE(idsOf(week, "quillet-work"), workAndKickoff);
        QVERIFY(edit(CalendarFixture::put(
            "quillet-extra", CalendarFixture::event("extra", "Extra call", ":20260326T090000Z", ":20260326T093000Z"))));
        week = weekOf(store, withExtra);
        QCOMPARE(idsOf(week, "quillet-extra"), QStringList { "quillet-extra/extra" });
        QCOMPARE(idsOf(week, "quillet-work"), workAndKickoff);
        QCOMPARE(idsOf(week, "quillet-side"), QStringList { "quillet-side/side-4" } + side);

        QVERIFY(edit(CalendarFixture::command({ "remove", "quillet-side", "side-4" })
            + CalendarFixture::command({ "remove", "quillet-work", "work-4" })
            + CalendarFixture::command({ "forget", "quillet-extra" })));
        cleanUp.dismiss();
        QTRY_VERIFY_WITH_TIMEOUT(!listed("quillet-extra"), 60'000);
        QTRY_COMPARE_WITH_TIMEOUT(weekOf(store, withExtra), before, 60'000);
    }

    // Work in flight when its caller or the whole store goes away is dropped: nothing reaches an
    // object that is gone, and the store's own thread ends without waiting for the backend.
    void dropsWorkWhoseReceiverIsGone_data()
    {
        QTest::addColumn<QString>("gone");
        QTest::addColumn<QString>("during");
        QTest::newRow("caller, registry starting") << "caller"
                                                   << "registry";
        QTest::newRow("store, registry starting") << "store"
                                                  << "registry";
        QTest::newRow("store, calendars being read") << "store"
                                                     << "read";
        QTest::newRow("store, edit in its quiet period") << "store"
                                                         << "quiet";
    }
    void dropsWorkWhoseReceiverIsGone()
    {
        QFETCH(QString, gone);
        QFETCH(QString, during);
        const QStringList ids { "quillet-work", "quillet-side", "quillet-loose", "system-calendar" };
        QList<StoreEvent> week;
        {
            EdsCalendarStore first(kLimits);
            week = weekOf(first, ids);
        }
        QVERIFY(!week.isEmpty());

        auto store = std::make_unique<EdsCalendarStore>(kLimits);
        auto caller = std::make_unique<QObject>();
        int answers = 0;
        int changes = 0;
        connect(store.get(), &CalendarStore::changed, this, [&] { ++changes; });
        if (during == "registry") {
            store->fetchCalendars(caller.get(), [&](const QList<StoreCalendar>&) { ++answers; });
        } else {
            QVERIFY(!weekOf(*store, ids).isEmpty());
            const auto [start, end] = CalendarService::window(CalendarFixture::kNow);
            store->fetchEvents(ids, start, end, caller.get(), [&](const QList<StoreEvent>&) { ++answers; });
        }
        if (during == "quiet") {
            QString error;
            QVERIFY2(CalendarFixture::run(
                         CalendarFixture::put("quillet-side",
                             CalendarFixture::event("side-3", "Side chat", ":20260327T110000Z", ":20260327T113000Z"))
                             + CalendarFixture::command({ "remove", "quillet-side", "side-3" }),
                         &error),
                qPrintable(error));
        }
        if (gone == "store") {
            store.reset();
            QCoreApplication::processEvents();
        } else {
            caller.reset();
            // Answers come in the order asked for: once this one is in, the first was handled.
            QVERIFY(!calendarsOf(*store).isEmpty());
        }
        QCOMPARE(answers, 0);
        QCOMPARE(changes, 0);
        // The calendar server may still be winding up what the first store left; a fresh
        // store reads the same week once it has.
        EdsCalendarStore again(kLimits);
        QTRY_COMPARE_WITH_TIMEOUT(weekOf(again, ids), week, 120'000);
    }

    // A store that cannot be reached lists no calendars, within the limit and without blocking
    // the main thread; once it is back, the next resync lists its calendars. The registry's
    // client is one for the whole process: a store let go while it starts must not leave it
    // failing for the stores that come after.
    void unreachableStore_data()
    {
        QTest::addColumn<bool>("hungRegistry");
        QTest::addColumn<QString>("mode");
        QTest::newRow("no calendar service on the bus") << false << QString();
        QTest::newRow("registry holds its name but hangs") << true << QString();
        QTest::newRow("program quits while the registry hangs") << true << "quit-when-unreachable";
        QTest::newRow("store replaced while the registry hangs") << true << "replace-when-unreachable";
    }
    void unreachableStore()
    {
        QFETCH(bool, hungRegistry);
        QFETCH(QString, mode);
        const bool quitWhileHung = mode == "quit-when-unreachable";
        EmptyBus bus;
        QVERIFY(bus.start());
        const QString address = bus.address();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address);

        QProcess registry;
        QProcess probe;
        const auto stop = qScopeGuard([&] {
            for (QProcess* process : { &probe, &registry }) {
                if (process == &registry && hungRegistry)
                    ::kill(pid_t(registry.processId()), SIGCONT);
                process->kill();
                process->waitForFinished();
            }
        });
        registry.setProcessEnvironment(env);
        const auto startRegistry = [&] {
            registry.start(registryProgram(), {});
            QVERIFY(registry.waitForStarted());
        };
        if (hungRegistry) {
            startRegistry();
            QDBusConnection connection = QDBusConnection::connectToBus(address, "probe-bus");
            QTRY_VERIFY_WITH_TIMEOUT(
                connection.interface()->isServiceRegistered("org.gnome.evolution.dataserver.Sources5"), 120'000);
            QDBusConnection::disconnectFromBus("probe-bus");
            ::kill(pid_t(registry.processId()), SIGSTOP);
        }

        // Far from both a prompt answer and a stall, even on a busy machine.
        const int limitMs = 6000;
        probe.setProcessEnvironment(env);
        QStringList probeArguments { QString::number(limitMs) };
        if (!mode.isEmpty())
            probeArguments.append(mode);
        probe.start(QStringLiteral(QUILLET_CALENDAR_STORE_PROBE), probeArguments);
        QVERIFY(probe.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(probe.canReadLine(), 60'000);
        const QStringList first = QString::fromUtf8(probe.readLine()).split(QRegularExpression("[ =\n]"));
        QCOMPARE(first.value(0), "noAccounts");
        const int after = first.value(2).toInt();
        // Qt's coarse timers may fire up to 5 % early.
        QVERIFY2(hungRegistry ? after >= limitMs * 9 / 10 : after < limitMs, qPrintable(first.join(' ')));
        QVERIFY2(first.value(4).toInt() < limitMs / 3, qPrintable(first.join(' ')));
        if (quitWhileHung) {
            // The store's thread ends although the registry's answer is still due.
            QVERIFY(probe.waitForFinished(30'000));
            QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
            QCOMPARE(probe.exitCode(), 0);
            return;
        }

        if (mode == "replace-when-unreachable") {
            // The first store is gone, its registry call still out, before the registry answers.
            QTRY_VERIFY_WITH_TIMEOUT(probe.canReadLine(), 60'000);
            QCOMPARE(probe.readLine().trimmed(), "replaced");
        }
        if (hungRegistry)
            ::kill(pid_t(registry.processId()), SIGCONT);
        else
            startRegistry();
        QVERIFY(probe.waitForFinished(120'000));
        QCOMPARE(probe.exitCode(), 0);
        const QString second = QString::fromUtf8(probe.readAll().trimmed());
        QVERIFY2(second.startsWith("after change calendars=") && second.contains("Personal"), qPrintable(second));
    }
};

int main(int argc, char* argv[])
{
    // The fixture's week crosses Central Europe's change to summer time.
    ZoneAndLocale::useTimeZone("Europe/Berlin");
    TestSupport::isolateHome();
    QCoreApplication app(argc, argv);
    TestCalendarStore tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "TestCalendarStore.moc"
