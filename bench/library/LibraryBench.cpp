// Prints how the meeting library's views hold up on a large store, and how fast the settings
// page opens.
//
//   bench_library [--meetings N] [--segments-per-meeting M] [--events N] [--file PATH]
//
// Runs under the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "BenchFigures.h"
#include "LibraryFill.h"
#include "account/AccountService.h"
#include "library/MeetingDateGroup.h"
#include "library/MeetingSearchIndex.h"
#include "platform/Scheduler.h"
#include "platform/Settings.h"
#include "platform/UrlRouter.h"
#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"
#include "support/AppRig.h"
#include "support/BrowserStandIn.h"
#include "support/CalendarRig.h"
#include "support/FakeClock.h"
#include "support/GoogleSignIn.h"
#include "support/InMemorySecretStore.h"
#include "support/RecordingUrlOpener.h"
#include "system/Keychain.h"
#include "system/UpdateChecker.h"
#include "ui/home/ComingUpPanel.h"
#include "ui/home/ComingUpParts.h"
#include "ui/home/HomeView.h"
#include "ui/home/MeetingCardList.h"
#include "ui/sidebar/MeetingListView.h"
#include "ui/settings/SettingsView.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <unistd.h>

namespace {

double residentMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / 1e6 : 0;
}

// Notes when a widget has finished painting.
class PaintWatch final : public QObject
{
public:
    explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }

    bool painted = false;

    // Processes events until the next paint of the widget has ended.
    bool waitForPaint()
    {
        painted = false;
        QElapsedTimer limit;
        limit.start();
        while (!painted && limit.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        return painted;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        watched->removeEventFilter(this);
        QCoreApplication::sendEvent(watched, event);
        watched->installEventFilter(this);
        painted = true;
        return true;
    }
};

// The settings page is made afresh at each visit: with a full calendar card and a long vocabulary.
bool settingsPageFigures()
{
    AppRig rig;
    for (int i = 0; i < 20; ++i)
        rig.calendars.addCalendar(QStringLiteral("desktop-%1").arg(i), QStringLiteral("Calendar %1").arg(i),
            QStringLiteral("Account %1").arg(i % 4));
    GoogleSignIn::seed(rig, { { "sub-a", "ann@example.com", {} }, { "sub-b", "bob@example.com", {} } }, {});
    rig->calendar().start();
    if (!QTest::qWaitFor([&] { return rig->calendar().calendars().size() == 20; }))
        return false;
    GoogleCalendarService::CalendarsByAccount lists;
    for (const QString& sub : { QStringLiteral("sub-a"), QStringLiteral("sub-b") })
        for (int i = 0; i < 30; ++i)
            lists[sub].append({ sub + QString::number(i), QStringLiteral("Google calendar %1").arg(i), std::nullopt,
                QStringLiteral("#33b679"), std::nullopt });
    rig->google().setCalendarsByAccount(lists);
    QStringList words;
    for (int i = 0; i < 200; ++i)
        words.append(QStringLiteral("Word%1").arg(i));
    rig->settings().set(SettingsKeys::customDictionary, words);
    QCoreApplication::processEvents();

    QList<double> samples;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer timer;
        timer.start();
        SettingsView page(rig->settingsServices());
        PaintWatch paint(&page);
        page.resize(1120, 740);
        page.show();
        if (!paint.waitForPaint())
            return false;
        samples.append(msSince(timer));
    }
    const Figures open = summarise(samples);
    std::printf("settings page, 20 desktop and 2 x 30 Google calendars, 200 words, 1120 x 740: first paint median "
                "%.1f ms  max %.1f ms  (target < 100 ms)\n",
        open.median, open.max);
    return true;
}

void groupingFigures(const QList<Meeting*>& meetings, const QDateTime& now, const char* zone)
{
    if (zone)
        qputenv("TZ", zone);
    else
        qunsetenv("TZ");
    tzset();
    QList<double> samples;
    int groups = 0;
    for (int run = 0; run < 30; ++run) {
        QElapsedTimer timer;
        timer.start();
        groups = int(groupMeetingsByDate(meetings, now).size());
        samples.append(msSince(timer));
    }
    const Figures f = summarise(samples);
    std::printf(
        "groupMeetingsByDate, %lld meetings, TZ %-14s median %6.2f ms  p95 %6.2f ms  (%d groups; target < 2 ms)\n",
        qlonglong(meetings.size()), zone ? zone : "unset:", f.median, f.p95, groups);
}

QList<CalendarService::EventInfo> weekOfEvents(int count, const QDateTime& now, int variant)
{
    // Spread over the coming week, starting two hours from now, so that no event runs or
    // starts soon: a minute later nothing shown has changed.
    QList<CalendarService::EventInfo> events;
    const qint64 span = 6 * 86'400 - 4 * 3600;
    for (int i = 0; i < count; ++i) {
        const QDateTime start = now.addSecs(2 * 3600 + qint64(i) * span / count);
        events.append(CalendarRig::event(QStringLiteral("event-%1").arg(i),
            QStringLiteral("Meeting %1 of the week%2").arg(i).arg(variant ? QStringLiteral(" (moved)") : QString()),
            start, 30, i % 7 == 0 ? EventKind::OneOnOne : EventKind::Meeting, true, 2 + i % 5));
    }
    return events;
}

// The search rule written plainly, over lower-cased copies of the live records' texts made once
// (lower-casing every segment for every query would take hours here), in parallel.
class PlainSearch
{
public:
    explicit PlainSearch(const QList<Meeting*>& meetings)
        : m_meetings(meetings)
    {
        for (Meeting* meeting : meetings) {
            QStringList texts { meeting->title().toLower(), meeting->userNotes().toLower() };
            for (const TranscriptSegment* segment : meeting->segments())
                texts.append(segment->text().toLower());
            m_texts.append(texts);
        }
    }

    QList<Meeting*> filter(const QString& searchText) const
    {
        if (searchText.isEmpty())
            return m_meetings;
        const QString query = searchText.toLower();
        QList<qsizetype> positions(m_meetings.size());
        std::iota(positions.begin(), positions.end(), 0);
        const QList<qsizetype> kept = QtConcurrent::blockingFiltered(positions, [&](qsizetype at) {
            return std::any_of(m_texts.at(at).cbegin(), m_texts.at(at).cend(),
                [&](const QString& text) { return text.contains(query); });
        });
        QList<Meeting*> result;
        for (qsizetype at : kept)
            result.append(m_meetings.at(at));
        return result;
    }

private:
    QList<Meeting*> m_meetings;
    QList<QStringList> m_texts;
};

// The account service, with its secrets in memory and no server that answers: the chip shows
// the signed-out state.
struct OfflineAccount
{
    QTemporaryDir dir;
    Settings settings { dir.filePath(QStringLiteral("settings.ini")) };
    InMemorySecretStore secrets;
    Keychain keychain { secrets };
    QNetworkAccessManager network;
    UrlRouter router;
    BrowserStandIn browser { router };
    FakeClock clock;
    AccountEndpoints endpoints { QUrl(QStringLiteral("http://127.0.0.1:9")), QUrl(QStringLiteral("http://127.0.0.1:9")),
        QUrl(QStringLiteral("http://127.0.0.1:9")) };
    QuilletCloud cloud { settings, network, endpoints.cloudBase };
    TessraOAuth oauth { network, browser, clock, endpoints.providerWeb };
    AccountService account { keychain, settings, cloud, oauth, browser, network, clock, endpoints };
};

int sidebarFigures(const QString& path, const FilledLibrary& library)
{
    auto opened = ModelContext::open(path);
    if (!opened.ok()) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(opened.error().message));
        return 1;
    }
    const std::unique_ptr<ModelContext> store = std::move(opened).value();

    // --- Building the search copy, while the main thread goes on ----------------------
    const double residentBefore = residentMb();
    MeetingSearchIndex index(*store);
    QElapsedTimer build;
    build.start();
    index.start();
    double longestStall = 0;
    while (!index.isReady() && build.elapsed() < 60'000) {
        QElapsedTimer turn;
        turn.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        longestStall = std::max(longestStall, msSince(turn));
    }
    if (!index.isReady())
        return 1;
    std::printf("\nsearch copy: built in %.0f ms (target < 2000 ms), resident +%.1f MB (target < 80 MB), longest "
                "main-thread turn meanwhile %.1f ms (target < 50 ms)\n",
        msSince(build), residentMb() - residentBefore, longestStall);

    // --- One keystroke's search, by class of query -------------------------------------
    const QList<Meeting*> meetings = store->fetchMeetings();
    QRandomGenerator random(7);
    QStringList phrases;
    QList<Meeting*> sampled;
    for (int i = 0; i < 200; ++i)
        sampled.append(meetings.at(random.bounded(int(meetings.size()))));
    for (Meeting* meeting : std::as_const(sampled)) {
        const QList<TranscriptSegment*> segments = meeting->segments();
        const QString text = segments.isEmpty() ? QString() : segments.at(random.bounded(int(segments.size())))->text();
        phrases.append(text.mid(qMax(0, random.bounded(qMax(1, int(text.size()) - 30))), 30));
    }
    const auto repeat = [](const QStringList& words) {
        QStringList queries;
        while (queries.size() < 200)
            queries.append(words.at(queries.size() % words.size()));
        return queries;
    };
    const auto upper = [](QStringList words) {
        for (QString& word : words)
            word = word.toUpper();
        return words;
    };
    QStringList markers;
    for (const LibraryMarker& marker : library.markers)
        markers.append(marker.word);
    const QStringList shortQueries { "e", "a", "t", "n", "x", "q", "ư", "đ", "th", "an", "in", "zq", "ng", "ộ", "xy" };
    const QList<std::pair<const char*, QStringList>> classes {
        { "marker word (one segment)", repeat(markers) },
        { "absent word", repeat(library.absentWords) },
        { "common word", repeat(library.commonWords) },
        { "one or two characters", repeat(shortQueries) },
        { "marker word, capitals", repeat(upper(markers)) },
        { "absent word, capitals", repeat(upper(library.absentWords)) },
        { "common word, capitals", repeat(upper(library.commonWords)) },
        { "one or two, capitals", repeat(upper(shortQueries)) },
        { "accented", repeat({ "được", "người", "ngân sách", "hôm nay", "Đà Nẵng" }) },
        { "two spaces", repeat({ "  " }) },
        { "30-character phrase", repeat(phrases) },
    };

    const double residentPlainBefore = residentMb();
    const PlainSearch plain(meetings);
    std::printf(
        "  (the plain rule's lower-cased copies for the comparison: +%.0f MB)\n", residentMb() - residentPlainBefore);
    int queries = 0;
    int equal = 0;
    for (const auto& [name, texts] : classes) {
        QList<double> samples;
        qsizetype hits = 0;
        for (const QString& text : texts) {
            QElapsedTimer timer;
            timer.start();
            const QList<Meeting*> found = index.filter(meetings, MeetingSearchIndex::Query(text));
            samples.append(msSince(timer));
            hits += found.size();
            ++queries;
            equal += found == plain.filter(text) ? 1 : 0;
        }
        const Figures f = summarise(samples);
        std::printf("  search, %-27s median %6.2f ms  p95 %6.2f ms  (%6.1f hits on average; target p95 < 10 ms)\n",
            name, f.median, f.p95, double(hits) / double(texts.size()));
    }
    std::printf("  equal to the plain rule: %d of %d queries (target: all)\n", equal, queries);

    // --- The sidebar: a keystroke to the repaint, and a segment appended while searching -
    OfflineAccount offline;
    QNetworkAccessManager network;
    UpdateChecker updater(
        network, QUrl(QStringLiteral("http://127.0.0.1:9")), QStringLiteral("1.0.0"), [](const QUrl&) { return true; });
    const auto ignore = [](Meeting*) {};
    MeetingListView sidebar(
        { *store, offline.clock, updater, offline.account, index, Scheduler::system() }, ignore, ignore);
    sidebar.resize(280, 740);
    sidebar.show();
    PaintWatch paint(sidebar.list()->viewport());
    if (!paint.waitForPaint())
        return 1;
    while (!sidebar.searchIndex().isReady())
        QCoreApplication::processEvents();
    QList<double> keystrokes;
    const QStringList typed { "m", "me", "mee", "meet", "meeti", "meetin", "meeting", "meetin", "meeti", "meet", "mee",
        "me", "m", "", "k", "ke", "kes", "kest", "kestr", "kestre", "kestrel", "kestrel0", "kestrel00", "" };
    for (int round = 0; round < 10; ++round) {
        for (const QString& text : typed) {
            QElapsedTimer timer;
            timer.start();
            sidebar.searchField()->setText(text);
            if (!paint.waitForPaint())
                return 1;
            keystrokes.append(msSince(timer));
        }
    }
    const Figures key = summarise(keystrokes);
    std::printf("sidebar, %lld meetings, 280 x 740: a keystroke to the repaint: median %5.1f ms  p95 %5.1f ms  max "
                "%5.1f ms  (target p95 < 80 ms)\n",
        qlonglong(meetings.size()), key.median, key.p95, key.max);

    sidebar.searchField()->setText(QStringLiteral("budget"));
    if (!paint.waitForPaint())
        return 1;
    // A segment that brings a meeting into the results, and one added to a meeting already shown
    // at the top of them (a live transcript while its meeting is found).
    const MeetingSearchIndex::Query budget(QStringLiteral("budget"));
    QList<Meeting*> outside;
    for (Meeting* meeting : meetings) {
        if (outside.size() < 40 && !index.matches(meeting, budget))
            outside.append(meeting);
    }
    const QList<Meeting*> found = index.filter(meetings, budget);
    QList<double> entering;
    QList<double> shownAppends;
    for (int i = 0; i < 40 && !found.isEmpty(); ++i) {
        QElapsedTimer timer;
        timer.start();
        outside.at(i)->appendSegment(
            new TranscriptSegment(QStringLiteral("We agreed on the budget."), Speaker::me(), 3600 + i));
        if (!paint.waitForPaint())
            return 1;
        entering.append(msSince(timer));
        timer.start();
        found.first()->appendSegment(new TranscriptSegment(QStringLiteral("Fine."), Speaker::me(), 3600 + i));
        if (!paint.waitForPaint())
            return 1;
        shownAppends.append(msSince(timer));
    }
    const Figures enter = summarise(entering);
    const Figures shownAppend = summarise(shownAppends);
    std::printf("sidebar, searching \"budget\" (%lld hits): a segment appended, to the repaint: to a shown meeting "
                "median %5.2f ms  p95 %5.2f ms; bringing a meeting in median %5.2f ms  p95 %5.2f ms  (target < 10 "
                "ms)\n",
        qlonglong(found.size()), shownAppend.median, shownAppend.p95, enter.median, enter.p95);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("meetings"), QStringLiteral("Meetings in the store."), QStringLiteral("n"),
        QStringLiteral("10000") });
    parser.addOption({ QStringLiteral("segments-per-meeting"), QStringLiteral("Segments per meeting."),
        QStringLiteral("n"), QStringLiteral("50") });
    parser.addOption({ QStringLiteral("events"), QStringLiteral("Upcoming calendar events."), QStringLiteral("n"),
        QStringLiteral("300") });
    parser.addOption({ QStringLiteral("file"), QStringLiteral("Store file to create (default: a temporary one)."),
        QStringLiteral("path") });
    parser.process(app);

    LibrarySpec spec;
    spec.meetings = parser.value(QStringLiteral("meetings")).toInt();
    spec.segmentsPerMeeting = parser.value(QStringLiteral("segments-per-meeting")).toInt();
    const int eventCount = parser.value(QStringLiteral("events")).toInt();

    QTemporaryDir dir;
    const QString path = parser.isSet(QStringLiteral("file")) ? parser.value(QStringLiteral("file"))
                                                              : dir.filePath(QStringLiteral("Quillet.store"));
    {
        const auto created = ModelContext::open(path);
        if (!created.ok()) {
            std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(created.error().message));
            return 1;
        }
    }
    QElapsedTimer fillTimer;
    fillTimer.start();
    FilledLibrary library;
    if (!fillLibrary(path, spec, &library))
        return 1;
    std::printf("library: %d meetings, %d segments (%.1f MB of text), %lld marker words, file %.1f MB, filled in "
                "%.1f s\n",
        library.meetings, library.segments, double(library.textBytes) / 1e6, qlonglong(library.markers.size()),
        double(QFileInfo(path).size()) / 1e6, double(fillTimer.elapsed()) / 1000);

    auto opened = ModelContext::open(path);
    if (!opened.ok()) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(opened.error().message));
        return 1;
    }
    const std::unique_ptr<ModelContext> store = std::move(opened).value();
    const QList<Meeting*> meetings = store->fetchMeetings();
    const QDateTime now = QDateTime::currentDateTimeUtc();

    // --- Date groups --------------------------------------------------------------------
    groupingFigures(meetings, now, nullptr);
    groupingFigures(meetings, now, "Europe/Berlin");
    qunsetenv("TZ");
    tzset();

    // --- The home page ------------------------------------------------------------------
    CalendarRig calendar(CalendarStore::Access::NotDetermined, true, now);
    RecordingUrlOpener browser;
    if (!calendar.start())
        return 1;
    HomeServices services { *store, calendar.clock, calendar.service, browser, {}, {}, {} };
    const auto ignore = [](Meeting*) {};
    QCoreApplication::processEvents();

    const double residentBefore = residentMb();
    QElapsedTimer openTimer;
    openTimer.start();
    auto home = std::make_unique<HomeView>(nullptr, services, ignore, ignore, ignore, ignore);
    PaintWatch listPaint(home->meetingList());
    home->resize(1120, 740);
    home->show();
    if (!listPaint.waitForPaint())
        return 1;
    const double firstPaint = msSince(openTimer);
    const double residentAfter = residentMb();
    std::printf("home page, %lld meetings, 1120 x 740: first paint %.1f ms (target < 100 ms), resident +%.1f MB "
                "(target < 30 MB)\n",
        qlonglong(meetings.size()), firstPaint, residentAfter - residentBefore);
    QElapsedTimer measured;
    measured.start();
    while (!home->meetingList()->isMeasured() && measured.elapsed() < 10'000)
        QCoreApplication::processEvents();
    std::printf("  every card measured in idle steps %.0f ms after the first paint; resident +%.1f MB by then\n",
        msSince(measured), residentMb() - residentBefore);

    QList<double> titleSamples;
    Meeting* top = home->meetingList()->meetingsShown().first();
    for (int i = 0; i < 60; ++i) {
        QElapsedTimer timer;
        timer.start();
        top->setTitle(QStringLiteral("Renamed meeting %1").arg(i));
        if (!listPaint.waitForPaint())
            return 1;
        titleSamples.append(msSince(timer));
    }
    const Figures title = summarise(titleSamples);
    std::printf("a title changed, to the repaint:   median %6.2f ms  p95 %6.2f ms  max %6.2f ms  (target < 16 ms)\n",
        title.median, title.p95, title.max);

    QList<double> insertSamples;
    for (int i = 0; i < 30; ++i) {
        auto* meeting = new Meeting(QStringLiteral("Quick note %1").arg(i), QDateTime::currentDateTimeUtc());
        QElapsedTimer timer;
        timer.start();
        store->insert(meeting);
        if (!listPaint.waitForPaint() || home->meetingList()->meetingsShown().first() != meeting)
            return 1;
        insertSamples.append(msSince(timer));
    }
    const Figures insert = summarise(insertSamples);
    std::printf("a meeting inserted at the top, to the repaint: median %6.2f ms  p95 %6.2f ms  max %6.2f ms  (target "
                "< 16 ms)\n",
        insert.median, insert.p95, insert.max);
    home.reset();

    // --- The coming-up panel, on the same page ------------------------------------------
    CalendarRig week(CalendarStore::Access::NotDetermined, true, now);
    HomeServices weekServices { *store, week.clock, week.service, browser, {}, {}, {} };
    HomeView dashboard(nullptr, weekServices, ignore, ignore, ignore, ignore);
    dashboard.resize(1120, 740);
    dashboard.show();
    if (!week.start(weekOfEvents(eventCount, now, 0)))
        return 1;
    ComingUpPanel& panel = *dashboard.comingUp();
    ComingUp::DayList* days = panel.dayList();
    PaintWatch pagePaint(days);
    dashboard.repaint();
    const auto rowsBefore = days->events();

    QList<double> tickSamples;
    for (int i = 0; i < 200; ++i) {
        week.clock.set(now.addSecs(60 * (i % 2 + 1)));
        QElapsedTimer timer;
        timer.start();
        panel.evaluate(); // what the minute ticker calls
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        tickSamples.append(msSince(timer));
    }
    const Figures tick = summarise(tickSamples);
    std::printf(
        "coming up, %d events: a minute tick that changes nothing shown: median %5.2f ms  p95 %5.2f ms  (target "
        "< 5 ms; rows rebuilt: %s)\n",
        eventCount, tick.median, tick.p95, days->events() == rowsBefore ? "none" : "some");

    QList<double> publishSamples;
    for (int i = 0; i < 20; ++i) {
        // From the request to Google, whose answer arrives at the next turn and is published at
        // once (no desktop access: nothing else is read), to the panel painted again.
        week.google.answerAllWith(weekOfEvents(eventCount, now, (i + 1) % 2));
        QElapsedTimer timer;
        timer.start();
        week.service.refreshGoogle();
        if (!pagePaint.waitForPaint())
            return 1;
        publishSamples.append(msSince(timer));
    }
    const Figures publish = summarise(publishSamples);
    std::printf("coming up, %d events: a publication that changes the list, to the repaint: median %5.1f ms  p95 "
                "%5.1f ms  (target < 50 ms)\n",
        eventCount, publish.median, publish.p95);

    if (!settingsPageFigures())
        return 1;
    return sidebarFigures(path, library);
}
