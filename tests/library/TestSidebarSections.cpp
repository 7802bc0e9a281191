#include "library/MeetingSearchFilter.h"
#include "library/MeetingSearchIndex.h"
#include "library/SidebarSections.h"
#include "storage/Folder.h"
#include "storage/FolderListModel.h"
#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"
#include "support/DatedLibrary.h"
#include "support/FakeClock.h"
#include "support/TempStore.h"
#include "support/TestMain.h"

#include <QAbstractItemModelTester>
#include <QSemaphore>
#include <QSignalSpy>

using RowKind = SidebarSections::RowKind;

namespace {

// 10:10 on Wednesday 9 December 2026 (the tests run in UTC).
const QDateTime kNow(QDate(2026, 12, 9), QTime(10, 10), Qt::UTC);

// The row models over a real store, each watched by Qt's model checker, with no view at all.
struct Rows
{
    TempStore store;
    FakeClock clock { kNow };
    std::unique_ptr<MeetingSearchIndex> index;
    std::unique_ptr<MeetingListModel> meetings;
    std::unique_ptr<FolderListModel> folders;
    std::unique_ptr<MeetingSearchFilter> filter;
    std::unique_ptr<SidebarSections> sections;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers;

    void make(MeetingSearchIndex::Options options = {}, bool waitForCopy = true)
    {
        index = std::make_unique<MeetingSearchIndex>(store.context(), std::move(options));
        meetings = std::make_unique<MeetingListModel>(store.context());
        folders = std::make_unique<FolderListModel>(store.context());
        filter = std::make_unique<MeetingSearchFilter>(*meetings, *index);
        sections = std::make_unique<SidebarSections>(*filter, *folders, clock);
        for (QAbstractItemModel* model : std::initializer_list<QAbstractItemModel*> { filter.get(), sections.get() })
            testers.push_back(std::make_unique<QAbstractItemModelTester>(
                model, QAbstractItemModelTester::FailureReportingMode::QtTest));
        index->start();
        if (waitForCopy && !QTest::qWaitFor([&] { return index->isReady(); }, 20000))
            qWarning("the search copy was never ready");
    }

    Meeting* meeting(const QString& title, int daysAgo, Folder* folder = nullptr)
    {
        return DatedLibrary::meeting(store.context(), kNow, title, daysAgo, folder);
    }
    Folder* folder(const QString& name, int order) { return DatedLibrary::folder(store.context(), kNow, name, order); }

    // Every row as "kind:text", a folder with its count.
    QStringList shown() const
    {
        static const QHash<RowKind, QString> names { { RowKind::home, "home" }, { RowKind::spacesHeading, "heading" },
            { RowKind::folder, "folder" }, { RowKind::newFolder, "new" }, { RowKind::dateHeading, "section" },
            { RowKind::meeting, "meeting" }, { RowKind::noResults, "none" } };
        QStringList all;
        for (int row = 0; row < sections->rowCount(); ++row) {
            const QModelIndex index = sections->index(row, 0);
            const auto kind = index.data(SidebarSections::KindRole).value<RowKind>();
            QString text = names.value(kind) + QLatin1Char(':') + index.data().toString();
            if (const int count = index.data(SidebarSections::CountRole).toInt(); count > 0)
                text += QLatin1Char(' ') + QString::number(count);
            all.append(text);
        }
        return all;
    }

    // Each meeting row stands for the filter's row of the same meeting, and the other way round.
    bool mapsBothWays() const
    {
        for (int row = 0; row < sections->rowCount(); ++row) {
            const QModelIndex index = sections->index(row, 0);
            const QModelIndex source = sections->mapToSource(index);
            const bool isMeeting = index.data(SidebarSections::KindRole).value<RowKind>() == RowKind::meeting;
            if (source.isValid() != isMeeting)
                return false;
            if (isMeeting
                && (filter->meetingAt(source.row()) != index.data(SidebarSections::RecordRole).value<QObject*>()
                    || sections->mapFromSource(source) != index))
                return false;
        }
        return true;
    }
};

const QStringList kFolders { "home:Home", "heading:Spaces", "folder:Work 2", "new:New Folder" };

} // namespace

class TestSidebarSections final : public QObject
{
    Q_OBJECT

private slots:
    // What each search keeps, in its sections; the folders stay whole and keep their counts.
    void sections_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("no search") << QString()
                                   << kFolders
                + QStringList { "section:Today", "meeting:Standup", "section:Yesterday", "meeting:Untitled",
                      "section:This Week", "meeting:Planning", "section:Earlier", "meeting:Budget review",
                      "meeting:Retro" };
        QTest::newRow("title or notes, any case")
            << "PLAN"
            << kFolders + QStringList { "section:Today", "meeting:Standup", "section:This Week", "meeting:Planning" };
        QTest::newRow("notes") << "quarterly" << kFolders + QStringList { "section:Today", "meeting:Standup" };
        QTest::newRow("transcript") << "kangaroo" << kFolders + QStringList { "section:Earlier", "meeting:Retro" };
        QTest::newRow("in several sections") << "e"
                                             << kFolders
                + QStringList { "section:Today", "meeting:Standup", "section:Earlier", "meeting:Budget review",
                      "meeting:Retro" };
        QTest::newRow("spaces count") << " review"
                                      << kFolders + QStringList { "section:Earlier", "meeting:Budget review" };
        QTest::newRow("nothing") << " zebra " << kFolders + QStringList { "none:No meetings match “ zebra ”" };
    }
    void sections()
    {
        QFETCH(QString, search);
        QFETCH(QStringList, expected);
        Rows rows;
        Folder* work = rows.folder(QStringLiteral("Work"), 0);
        rows.meeting(QStringLiteral("Standup"), 0)->setUserNotes(QStringLiteral("The Quarterly plan"));
        rows.meeting(QString(), 1);
        rows.meeting(QStringLiteral("Planning"), 3, work);
        rows.meeting(QStringLiteral("Budget review"), 20, work);
        rows.meeting(QStringLiteral("Retro"), 40)
            ->appendSegment(new TranscriptSegment(QStringLiteral("A Kangaroo"), Speaker::me(), 1));
        QVERIFY(rows.store->save().ok());
        rows.store.reopen();
        rows.make();

        QSignalSpy resets(rows.sections.get(), &QAbstractItemModel::modelReset);
        rows.filter->setSearchText(search);
        QCOMPARE(rows.shown(), expected);
        QVERIFY(rows.mapsBothWays());
        // A new search text lays the rows out once, however many of them came and went.
        QCOMPARE(resets.count(), search.isEmpty() ? 0 : 1);
    }

    // The rows follow the store as it changes: inserts, renames, moves between sections,
    // filing, deletions, for meetings and folders alike.
    void followsTheStore()
    {
        Rows rows;
        Folder* work = rows.folder(QStringLiteral("Work"), 0);
        Meeting* standup = rows.meeting(QStringLiteral("Standup"), 0);
        rows.make();
        QCOMPARE(rows.shown(),
            (QStringList {
                "home:Home", "heading:Spaces", "folder:Work", "new:New Folder", "section:Today", "meeting:Standup" }));

        // A change that leaves the row in place is reported for that row alone.
        QSignalSpy resets(rows.sections.get(), &QAbstractItemModel::modelReset);
        QSignalSpy changed(rows.sections.get(), &QAbstractItemModel::dataChanged);
        standup->setTitle(QStringLiteral("Daily"));
        QCOMPARE(resets.count(), 0);
        QVERIFY(!changed.isEmpty());
        QCOMPARE(changed.last().first().toModelIndex().row(), 5);
        QCOMPARE(rows.shown().at(5), QStringLiteral("meeting:Daily"));
        changed.clear();
        standup->setFolder(work);
        work->setName(QStringLiteral("Clients"));
        QCOMPARE(rows.shown().at(2), QStringLiteral("folder:Clients 1"));
        QVERIFY(!changed.isEmpty());

        standup->setDate(kNow.addDays(-30));
        QCOMPARE(rows.shown().mid(4), (QStringList { "section:Earlier", "meeting:Daily" }));
        Meeting* fresh = rows.meeting(QStringLiteral("New one"), 0);
        QCOMPARE(rows.shown().mid(4),
            (QStringList { "section:Today", "meeting:New one", "section:Earlier", "meeting:Daily" }));
        rows.folder(QStringLiteral("Home office"), 1);
        QCOMPARE(rows.shown().mid(2, 2), (QStringList { "folder:Clients 1", "folder:Home office" }));
        rows.store->remove(work);
        QCOMPARE(rows.shown().mid(2, 2), (QStringList { "folder:Home office", "new:New Folder" }));
        rows.store->remove(fresh);
        QCOMPARE(rows.shown().mid(4), (QStringList { "section:Earlier", "meeting:Daily" }));
        QVERIFY(rows.mapsBothWays());
        QCOMPARE(rows.sections->rowOf(standup), 5);
        QCOMPARE(rows.sections->rowOf(fresh), -1);
    }

    // While searching, a meeting comes or goes as its title, notes or transcript start or stop
    // matching, and one that still matches is only reported as changed.
    void searchFollowsTheStore()
    {
        Rows rows;
        Meeting* standup = rows.meeting(QStringLiteral("Standup"), 0);
        Meeting* retro = rows.meeting(QStringLiteral("Retro"), 3);
        rows.make();
        rows.filter->setSearchText(QStringLiteral("walrus"));
        QCOMPARE(rows.shown().mid(3), QStringList { "none:No meetings match “walrus”" });

        standup->appendSegment(new TranscriptSegment(QStringLiteral("The Walrus said"), Speaker::me(), 1));
        QCOMPARE(rows.shown().mid(3), (QStringList { "section:Today", "meeting:Standup" }));
        retro->setUserNotes(QStringLiteral("walrus"));
        QCOMPARE(rows.shown().mid(3),
            (QStringList { "section:Today", "meeting:Standup", "section:This Week", "meeting:Retro" }));
        retro->setUserNotes(QString());
        QCOMPARE(rows.shown().mid(3), (QStringList { "section:Today", "meeting:Standup" }));
        rows.meeting(QStringLiteral("Walrus watch"), 1);
        QCOMPARE(rows.shown().mid(3),
            (QStringList { "section:Today", "meeting:Standup", "section:Yesterday", "meeting:Walrus watch" }));

        QSignalSpy resets(rows.sections.get(), &QAbstractItemModel::modelReset);
        QSignalSpy changed(rows.sections.get(), &QAbstractItemModel::dataChanged);
        standup->appendSegment(new TranscriptSegment(QStringLiteral("more"), Speaker::me(), 2));
        QCOMPARE(resets.count(), 0);
        QVERIFY(!changed.isEmpty());
        for (const QList<QVariant>& change : std::as_const(changed))
            QCOMPARE(change.first().toModelIndex().row(), rows.sections->rowOf(standup));

        rows.store->remove(standup);
        QCOMPARE(rows.shown().mid(3), (QStringList { "section:Yesterday", "meeting:Walrus watch" }));
        rows.filter->setSearchText(QString());
        QCOMPARE(rows.shown().mid(3),
            (QStringList { "section:Yesterday", "meeting:Walrus watch", "section:This Week", "meeting:Retro" }));
        QVERIFY(rows.mapsBothWays());
    }

    // Search texts that follow one another, and come back, each keep their own meetings, a
    // meeting changed in between among them.
    void searchChangedBackAndForth()
    {
        Rows rows;
        Meeting* standup = rows.meeting(QStringLiteral("Standup"), 0);
        rows.meeting(QStringLiteral("Planning"), 3);
        rows.meeting(QStringLiteral("Retro"), 40)
            ->appendSegment(new TranscriptSegment(QStringLiteral("A Kangaroo"), Speaker::me(), 1));
        rows.make();
        const QStringList all { "section:Today", "meeting:Standup", "section:This Week", "meeting:Planning",
            "section:Earlier", "meeting:Retro" };
        const QStringList withP { "section:Today", "meeting:Standup", "section:This Week", "meeting:Planning" };
        const QStringList planning { "section:This Week", "meeting:Planning" };
        const QStringList retro { "section:Earlier", "meeting:Retro" };
        const QList<std::pair<QString, QStringList>> steps { { "p", withP }, { "pl", planning }, { "p", withP },
            { "kangaroo", retro }, { "", all }, { "PL", planning }, { "kangaroo", retro }, { "pl", planning } };
        for (const auto& [text, expected] : steps) {
            rows.filter->setSearchText(text);
            QCOMPARE(rows.shown().mid(3), expected);
            QVERIFY(rows.mapsBothWays());
        }

        standup->appendSegment(new TranscriptSegment(QStringLiteral("the plan"), Speaker::me(), 1));
        QCOMPARE(rows.shown().mid(3), withP);
        rows.filter->setSearchText(QStringLiteral("kangaroo"));
        QCOMPARE(rows.shown().mid(3), retro);
        rows.filter->setSearchText(QStringLiteral("pl"));
        QCOMPARE(rows.shown().mid(3), withP);
        QVERIFY(rows.mapsBothWays());
    }

    // A search asked before the copy is ready keeps no meeting and says nothing of results,
    // then shows its answer once the copy is.
    void searchBeforeTheCopyIsReady()
    {
        Rows rows;
        rows.meeting(QStringLiteral("Standup"), 0);
        rows.meeting(QStringLiteral("Retro"), 0);
        QVERIFY(rows.store->save().ok());
        QSemaphore gate;
        rows.make({ [&] { gate.acquire(); } }, false);
        rows.filter->setSearchText(QStringLiteral("stand"));
        QVERIFY(rows.filter->isPending());
        QCOMPARE(rows.shown(), (QStringList { "home:Home", "heading:Spaces", "new:New Folder" }));
        gate.release();
        QTRY_COMPARE_WITH_TIMEOUT(rows.shown().mid(3), (QStringList { "section:Today", "meeting:Standup" }), 20000);
        QVERIFY(!rows.filter->isPending());
    }
};

QUILLET_TEST_MAIN(TestSidebarSections)
#include "TestSidebarSections.moc"
