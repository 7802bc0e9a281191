#include "library/MeetingDateGroup.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"
#include "storage/ModelContext.h"
#include "support/FakeClock.h"
#include "support/TempStore.h"
#include "support/TestMain.h"
#include "ui/FolderHeader.h"
#include "ui/MeetingCard.h"
#include "ui/MeetingCardList.h"
#include "ui/RecordingDot.h"

#include <QScrollArea>
#include <QSignalSpy>
#include <QTimeZone>
#include <cmath>
#include <ctime>
#include <limits>

namespace {

// Sets the process's time zone for as long as it lives (glibc reads TZ at each conversion).
class ZoneScope final
{
public:
    explicit ZoneScope(const QByteArray& zone)
        : m_before(qgetenv("TZ"))
    {
        if (!zone.isEmpty()) {
            qputenv("TZ", zone);
            tzset();
        }
    }
    ~ZoneScope()
    {
        qputenv("TZ", m_before);
        tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

private:
    QByteArray m_before;
};

QString describe(const QList<MeetingDateGroup>& groups)
{
    QStringList parts;
    for (const MeetingDateGroup& group : groups) {
        QStringList titles;
        for (const Meeting* meeting : group.meetings)
            titles.append(meeting->title());
        parts.append(group.title + QLatin1Char('=') + titles.join(QLatin1Char(',')));
    }
    return parts.join(QLatin1Char('|'));
}

using Fact = MeetingCard::Fact;

} // namespace

namespace MeetingCard {
char* toString(const Fact& fact)
{
    return QTest::toString(QStringLiteral("[%1|%2]").arg(fact.text, fact.symbol));
}
} // namespace MeetingCard

Q_DECLARE_METATYPE(QList<MeetingCard::Fact>)

class TestHomeView final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void groupsByCalendarDay_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QStringList>("meetings");
        QTest::addColumn<QString>("groups");

        // Berlin moved to summer time at 02:00 on 29 March 2026: a week back from that
        // morning at the same clock time is 23 hours more than 6 x 86,400 s before.
        const QDateTime plainDay(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC);
        const QDateTime afterChange(QDate(2026, 3, 29), QTime(8, 0), Qt::UTC);
        const QStringList boundaries = { "today 00:00", "yesterday 23:59", "week back", "week back +1s", "tomorrow" };
        const QString boundaryGroups = QStringLiteral(
            "Today=today 00:00|Yesterday=yesterday 23:59|This Week=week back +1s,tomorrow|Earlier=week back");
        for (const QByteArray& zone : { QByteArray(), QByteArray("Europe/Berlin") }) {
            const QDateTime now = zone.isEmpty() ? plainDay : afterChange;
            const QByteArray name = zone.isEmpty() ? "UTC" : zone;
            QTest::newRow(name + ": boundaries") << zone << now << boundaries << boundaryGroups;
            QTest::newRow(name + ": only old") << zone << now << QStringList { "month back", "year back" }
                                               << QStringLiteral("Earlier=month back,year back");
            QTest::newRow(name + ": input order kept")
                << zone << now << QStringList { "today 00:00", "yesterday 23:59", "now", "year back", "two days back" }
                << QStringLiteral("Today=today 00:00,now|Yesterday=yesterday 23:59|This Week=two days back|"
                                  "Earlier=year back");
        }
    }

    void groupsByCalendarDay()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, now);
        QFETCH(QStringList, meetings);
        QFETCH(QString, groups);
        ZoneScope scope(zone);

        // Wall-clock times of the zone, built from dates and times (not by shifting instants).
        const QTimeZone tz = zone.isEmpty() ? QTimeZone::utc() : QTimeZone(zone);
        const QDateTime wall = now.toTimeZone(tz);
        const QDate today = wall.date();
        const auto at = [&](QDate day, QTime time) { return QDateTime(day, time, tz); };
        const QHash<QString, QDateTime> dates = {
            { "now", now },
            { "today 00:00", at(today, QTime(0, 0)) },
            { "yesterday 23:59", at(today.addDays(-1), QTime(23, 59)) },
            { "week back", at(today.addDays(-7), wall.time()) },
            { "week back +1s", at(today.addDays(-7), wall.time()).addSecs(1) },
            { "two days back", at(today.addDays(-2), QTime(12, 0)) },
            { "tomorrow", at(today.addDays(1), QTime(9, 0)) },
            { "month back", at(today.addDays(-30), QTime(9, 0)) },
            { "year back", at(today.addDays(-365), QTime(9, 0)) },
        };
        if (!zone.isEmpty())
            QVERIFY(dates["week back"].secsTo(now) != 7 * 86400);

        QList<std::shared_ptr<Meeting>> owned;
        QList<Meeting*> list;
        for (const QString& name : meetings) {
            owned.append(std::make_shared<Meeting>(name, dates.value(name).toUTC()));
            list.append(owned.last().get());
        }
        QCOMPARE(describe(groupMeetingsByDate(list, now)), groups);
    }

    void cardFacts_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<std::optional<QString>>("summary");
        QTest::addColumn<QString>("folderIcon"); // empty: not filed
        QTest::addColumn<bool>("showFolder");
        QTest::addColumn<QList<Fact>>("facts");

        const Fact time { QStringLiteral("9:05 AM"), {} };
        const Fact summary { {}, QStringLiteral("text.alignleft") };
        const std::optional<QString> none;
        QTest::newRow("0 s") << 0.0 << none << QString() << true << QList<Fact> { time };
        QTest::newRow("59.9 s") << 59.9 << none << QString() << true << QList<Fact> { time, { "<1m", {} } };
        QTest::newRow("an hour") << 3600.0 << none << QString() << true << QList<Fact> { time, { "1h 0m", {} } };
        QTest::newRow("a day") << 86400.0 << none << QString() << true << QList<Fact> { time, { "24h 0m", {} } };
        QTest::newRow("not a number") << std::nan("") << none << QString() << true << QList<Fact> { time };
        QTest::newRow("1e30 s") << 1e30 << none << QString() << true << QList<Fact> { time };
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << none << QString() << true
                                  << QList<Fact> { time };
        QTest::newRow("empty summary") << 0.0 << std::optional<QString>(QString()) << QString() << true
                                       << QList<Fact> { time, summary };
        QTest::newRow("folder on the dashboard")
            << 90.0 << std::optional<QString>(QStringLiteral("Notes")) << QStringLiteral("briefcase") << true
            << QList<Fact> { time, { "1m", {} }, summary, { "Clients", "briefcase" } };
        QTest::newRow("folder on its page") << 0.0 << none << QStringLiteral("briefcase") << false
                                            << QList<Fact> { time };
        QTest::newRow("unknown folder symbol")
            << 0.0 << none << QStringLiteral("sparkles.rectangle") << true << QList<Fact> { time, { "Clients", "folder" } };
    }

    void cardFacts()
    {
        QFETCH(double, duration);
        QFETCH(std::optional<QString>, summary);
        QFETCH(QString, folderIcon);
        QFETCH(bool, showFolder);
        QFETCH(QList<Fact>, facts);
        Meeting meeting(QStringLiteral("Weekly"), QDateTime(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC));
        meeting.setDuration(duration);
        meeting.setSummary(summary);
        Folder folder(QStringLiteral("Clients"), folderIcon, {});
        if (!folderIcon.isEmpty())
            meeting.setFolder(&folder);
        QCOMPARE(MeetingCard::facts(meeting, showFolder), facts);
        meeting.setFolder(nullptr);
    }

    void cardTitleIsShownAsTyped_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << QString() << QStringLiteral("Untitled");
        QTest::newRow("spaces") << QStringLiteral("  ") << QStringLiteral("  ");
        QTest::newRow("markup") << QStringLiteral("<b>x</b>") << QStringLiteral("<b>x</b>");
    }

    void cardTitleIsShownAsTyped()
    {
        QFETCH(QString, title);
        QFETCH(QString, shown);
        Meeting meeting(title, QDateTime::currentDateTimeUtc());
        QCOMPARE(MeetingCard::title(meeting), shown);
    }
};

QUILLET_WIDGET_TEST_MAIN(TestHomeView)
#include "TestHomeView.moc"
