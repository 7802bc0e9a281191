#include "library/MeetingSearchIndex.h"
#include "storage/Meeting.h"
#include "archive/MeetingImporter.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"
#include "support/FakeClock.h"
#include "support/TempStore.h"
#include "support/TestMain.h"

#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThreadPool>

namespace {

// Pieces that lower-casing and byte matching get wrong in different ways.
const QStringList kPieces = {
    QStringLiteral("Họp nhóm"), // precomposed
    QStringLiteral("Ho\u0323p nho\u0301m"), // decomposed
    QStringLiteral("İstanbul"),
    QStringLiteral("STRASSE"),
    QStringLiteral("straße"),
    QStringLiteral("ẞ"),
    QStringLiteral("ΣΑΣ"),
    QStringLiteral("ǅemal"),
    QStringLiteral("🎉 party"),
    QStringLiteral("𝔘𝔫𝔦"),
    QStringLiteral("tab\there"),
    QStringLiteral("two  spaces"),
    QStringLiteral("café"),
    QStringLiteral("cafe"),
    QStringLiteral("Budget"),
    QStringLiteral("okay"),
    QStringLiteral("a\"*?[b"),
};

QString phrase(QRandomGenerator& random, int words)
{
    QStringList parts;
    for (int i = 0; i < words; ++i)
        parts.append(kPieces.at(random.bounded(int(kPieces.size()))));
    return parts.join(random.bounded(3) == 0 ? QStringLiteral("   ") : QStringLiteral(" "));
}

// A few hundred meetings, saved, so that a reopened context has them only in the file.
void fill(ModelContext& context, int meetings)
{
    QRandomGenerator random(19);
    const QDateTime start(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);
    for (int m = 0; m < meetings; ++m) {
        auto* meeting = new Meeting(m % 7 == 0 ? QString() : phrase(random, 2), start.addSecs(m * 3600));
        if (m % 3 == 0)
            meeting->setUserNotes(phrase(random, 4));
        context.insert(meeting);
        const int segments = random.bounded(4);
        for (int s = 0; s < segments; ++s)
            meeting->appendSegment(new TranscriptSegment(phrase(random, 3), Speaker::me(), s));
    }
    QVERIFY(context.save().ok());
}

// The rule, written out plainly over the live records.
QList<Meeting*> plainFilter(const QList<Meeting*>& meetings, const QString& searchText)
{
    if (searchText.isEmpty())
        return meetings;
    const QString query = searchText.toLower();
    QList<Meeting*> kept;
    for (Meeting* meeting : meetings) {
        bool found = meeting->title().toLower().contains(query) || meeting->userNotes().toLower().contains(query);
        for (const TranscriptSegment* segment : meeting->segments())
            found = found || segment->text().toLower().contains(query);
        if (found)
            kept.append(meeting);
    }
    return kept;
}

// Every substring of one to four code units at sampled places of the pieces, their capitals,
// what the changes below write, runs of spaces, the characters other search syntaxes treat
// specially, and nothing.
QStringList queries()
{
    QStringList all;
    for (const QString& piece : kPieces) {
        for (int at = 0; at < piece.size(); at += 2) {
            for (int length = 1; length <= 4 && at + length <= piece.size(); ++length) {
                all.append(piece.mid(at, length));
                all.append(piece.mid(at, length).toUpper());
            }
        }
    }
    // What the changes write: a transcript's copy must learn its new pairs of bytes.
    all << QStringLiteral("a🎉c") << QStringLiteral("🎉") << QStringLiteral("ǆ e") << QStringLiteral("ẞ a");
    all << QStringLiteral(" ") << QStringLiteral("  ") << QStringLiteral("   ") << QStringLiteral("\"*?[")
        << QStringLiteral("*") << QStringLiteral("[") << QString() << QStringLiteral("no such words");
    all.removeDuplicates();
    return all;
}

QString differences(MeetingSearchIndex& index, ModelContext& context)
{
    const QList<Meeting*> meetings = context.fetchMeetings();
    QStringList wrong;
    for (const QString& text : queries()) {
        if (index.filter(meetings, MeetingSearchIndex::Query(text)) != plainFilter(meetings, text))
            wrong.append(QLatin1Char('"') + text + QLatin1Char('"'));
    }
    return wrong.join(QStringLiteral(", "));
}

std::unique_ptr<MeetingSearchIndex> readyIndex(ModelContext& context, MeetingSearchIndex::Options options = {})
{
    auto index = std::make_unique<MeetingSearchIndex>(context, std::move(options));
    QSignalSpy ready(index.get(), &MeetingSearchIndex::ready);
    index->start();
    if (!ready.wait(20000))
        qWarning("the search copy was never ready");
    return index;
}

Meeting* withTranscript(ModelContext& context)
{
    for (Meeting* meeting : context.fetchMeetings())
        if (!meeting->segments().isEmpty())
            return meeting;
    return nullptr;
}

} // namespace

class TestMeetingSearch final : public QObject
{
    Q_OBJECT

private slots:
    // The copy answers every query as the rule does, at first and after each kind of change,
    // whether the change is saved or not.
    void followsChanges_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* change : { "none", "rename", "notes", "append unsaved", "append saved", "edit segment",
                 "remove segment", "remove meeting", "rollback" })
            QTest::newRow(change) << QString::fromLatin1(change);
    }
    void followsChanges()
    {
        QFETCH(QString, change);
        TempStore store;
        fill(store.context(), 300);
        ModelContext& context = store.reopen();
        auto index = readyIndex(context);
        QVERIFY(index->isReady());
        QCOMPARE(differences(*index, context), QString());

        Meeting* meeting = context.fetchMeetings().at(5);
        QSignalSpy changed(index.get(), &MeetingSearchIndex::meetingChanged);
        if (change == "rename") {
            meeting->setTitle(QStringLiteral("İSTANBUL   Quarterly"));
        } else if (change == "notes") {
            meeting->setUserNotes(QStringLiteral("ẞ and ΣΑΣ"));
            QVERIFY(context.save().ok());
        } else if (change.startsWith("append")) {
            meeting->appendSegment(new TranscriptSegment(QStringLiteral("Zebra🎉crossing"), Speaker::me(), 99));
            if (change.endsWith("saved"))
                QVERIFY(context.save().ok());
        } else if (change == "edit segment") {
            withTranscript(context)->segments().first()->setText(QStringLiteral("Ǆ edited"));
        } else if (change == "remove segment") {
            context.remove(withTranscript(context)->segments().first());
        } else if (change == "remove meeting") {
            context.remove(withTranscript(context));
            QVERIFY(context.save().ok());
        } else if (change == "rollback") {
            meeting->setTitle(QStringLiteral("zebra"));
            withTranscript(context)->segments().first()->setText(QStringLiteral("Zebra"));
            context.rollback();
        }
        if (change != "none" && change != "remove meeting")
            QVERIFY(changed.count() > 0);
        QCOMPARE(differences(*index, context), QString());
    }

    // A segment added while the worker reads the file, before or after it was saved, is found.
    void changesDuringTheBuild_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("unsaved") << false;
        QTest::newRow("saved") << true;
    }
    void changesDuringTheBuild()
    {
        QFETCH(bool, save);
        TempStore store;
        fill(store.context(), 200);
        ModelContext& context = store.reopen();
        QSemaphore entered;
        QSemaphore gate;
        MeetingSearchIndex index(context, { [&] {
            entered.release();
            gate.acquire();
        } });
        QSignalSpy ready(&index, &MeetingSearchIndex::ready);
        index.start();
        QVERIFY(QTest::qWaitFor([&] { return entered.tryAcquire(); }, 10000));

        Meeting* meeting = context.fetchMeetings().at(40);
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("Walrus"), Speaker::me(), 5));
        meeting->setTitle(QStringLiteral("Held"));
        if (save)
            QVERIFY(context.save().ok());
        QVERIFY(!index.isReady());
        gate.release();
        QVERIFY(ready.wait(20000));

        QCOMPARE(index.filter(context.fetchMeetings(), MeetingSearchIndex::Query(QStringLiteral("WALRUS"))),
            QList<Meeting*> { meeting });
        QCOMPARE(differences(index, context), QString());
    }

    // The sidebar may go while the worker reads: the result is dropped, and nothing stops.
    void destroyedWhileReading()
    {
        TempStore store;
        fill(store.context(), 50);
        ModelContext& context = store.reopen();
        QSemaphore entered;
        QSemaphore gate;
        auto index = std::make_unique<MeetingSearchIndex>(context, MeetingSearchIndex::Options { [&] {
            entered.release();
            gate.acquire();
        } });
        index->start();
        QVERIFY(QTest::qWaitFor([&] { return entered.tryAcquire(); }, 10000));
        index.reset();
        gate.release();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));
        QCoreApplication::processEvents();
        QCOMPARE(context.fetchMeetings().size(), 50);
    }

    // Meetings that the import rebuilds into an empty store are searched as they arrive.
    void importedMeetings()
    {
        TempStore store;
        auto index = readyIndex(store.context());
        FakeClock clock;
        MeetingImporter::runIfNeeded(store.context(), clock, QStringLiteral(QUILLET_TEST_DATA_DIR "/archive/golden"));
        QVERIFY(store->meetingCount() > 0);
        QCOMPARE(differences(*index, store.context()), QString());
        QVERIFY(!index->filter(store->fetchMeetings(), MeetingSearchIndex::Query(QStringLiteral("e"))).isEmpty());
    }

    // A needle is found wherever it sits in a long transcript: at its start, astride every
    // place where a reader of many bytes at a time splits the text, and in its last bytes;
    // a text that agrees with the needle only at its ends is no match.
    void needleAnywhere_data()
    {
        QTest::addColumn<QString>("needle");
        QTest::addColumn<QString>("nearMiss");
        QTest::newRow("two bytes") << "qz"
                                   << "q.z";
        QTest::newRow("three bytes") << "qxz"
                                     << "qyz";
        QTest::newRow("one letter of three bytes") << QStringLiteral("ộ") << QStringLiteral("ồ");
        QTest::newRow("longer than sixteen bytes") << "quizzical zebra crossing"
                                                   << "quizzical zebra-crossing";
    }
    void needleAnywhere()
    {
        QFETCH(QString, needle);
        QFETCH(QString, nearMiss);
        TempStore store;
        const QDateTime date(QDate(2026, 2, 1), QTime(9, 0), Qt::UTC);
        const int places = 40;
        for (int at = 0; at < places; ++at) {
            for (const QString& word : { needle, nearMiss }) {
                auto* meeting = new Meeting(QString(), date.addSecs(at));
                store->insert(meeting);
                const QString text = QString(at, QLatin1Char('.')) + word + QString(at % 5, QLatin1Char('.'));
                meeting->appendSegment(new TranscriptSegment(text, Speaker::me(), 1));
            }
        }
        auto index = readyIndex(store.context());
        const QList<Meeting*> meetings = store->fetchMeetings();
        const QList<Meeting*> found = index->filter(meetings, MeetingSearchIndex::Query(needle));
        QCOMPARE(found.size(), places);
        QCOMPARE(found, plainFilter(meetings, needle));
    }

    // The rule's own cases, on one small store.
    void rule_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("capitals find small") << "BUDGET" << QStringList { "budget review" };
        QTest::newRow("small find capitals") << "roadmap" << QStringList { "ROADMAP" };
        QTest::newRow("no accent folding") << "cafe" << QStringList {};
        QTest::newRow("accent found") << "é" << QStringList { "Café" };
        QTest::newRow("spaces count") << "two  spaces" << QStringList { "Café" };
        QTest::newRow("one space not trimmed") << " review" << QStringList { "budget review" };
        QTest::newRow("transcript only") << "kangaroo" << QStringList { "ROADMAP" };
        QTest::newRow("not across segments") << "kangaroozebra" << QStringList {};
        QTest::newRow("dotted capital I") << QStringLiteral("i\u0307stanbul") << QStringList { "Café" };
        QTest::newRow("dotless query misses it") << "istanbul" << QStringList {};
    }
    void rule()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, expected);
        TempStore store;
        const QDateTime date(QDate(2026, 2, 1), QTime(9, 0), Qt::UTC);
        auto* budget = new Meeting(QStringLiteral("budget review"), date);
        auto* roadmap = new Meeting(QStringLiteral("ROADMAP"), date.addDays(-1));
        auto* cafe = new Meeting(QStringLiteral("Café"), date.addDays(-2));
        cafe->setUserNotes(QStringLiteral("two  spaces in İstanbul"));
        for (Meeting* meeting : { budget, roadmap, cafe })
            store->insert(meeting);
        roadmap->appendSegment(new TranscriptSegment(QStringLiteral("a kangaroo"), Speaker::me(), 1));
        roadmap->appendSegment(new TranscriptSegment(QStringLiteral("zebra"), Speaker::me(), 2));
        QVERIFY(store->save().ok());
        ModelContext& context = store.reopen();
        auto index = readyIndex(context);

        QStringList titles;
        for (const Meeting* meeting : index->filter(context.fetchMeetings(), MeetingSearchIndex::Query(query)))
            titles.append(meeting->title());
        QCOMPARE(titles, expected);
    }
};

QUILLET_TEST_MAIN(TestMeetingSearch)
#include "TestMeetingSearch.moc"
