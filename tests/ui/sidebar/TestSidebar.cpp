#include "format/TimeText.h"
#include "library/MeetingSearchIndex.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"
#include "support/AccessibleNames.h"
#include "support/AccessibleTree.h"
#include "support/AccountRig.h"
#include "support/AppRig.h"
#include "support/DatedLibrary.h"
#include "support/FakeClock.h"
#include "support/TempStore.h"
#include "support/TestMain.h"
#include "system/UpdateChecker.h"
#include "ui/design/Quillet.h"
#include "ui/home/MeetingMenu.h"
#include "ui/home/NewFolderSheet.h"
#include "ui/sidebar/MeetingListView.h"
#include "ui/sidebar/MeetingRow.h"
#include "ui/window/FixItBanner.h"
#include "ui/window/MainWindow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QFutureWatcher>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <cmath>
#include <limits>

using RowKind = MeetingListView::RowKind;

namespace {

// 10:10 on Wednesday 9 December 2026 (the tests run in UTC).
const QDateTime kNow(QDate(2026, 12, 9), QTime(10, 10), Qt::UTC);

QAction* entry(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

// A sidebar over a real store, a real account service against local servers, and an update
// checker that asks a local server and notes what it opens.
struct Sidebar
{
    // The store commits on its own, as in the application, at the next turn of the loop.
    TempStore store;
    FakeClock clock { kNow };
    FakeScheduler scheduler;
    AccountRig account;
    QNetworkAccessManager network;
    FakeHttpServer site;
    UpdateChecker updater { network, site.url(), QStringLiteral("1.9.3"), [](const QUrl&) { return true; } };
    QList<Meeting*> newFolderCalls;
    QList<Meeting*> deleted;
    std::unique_ptr<MeetingSearchIndex> index;
    std::unique_ptr<MeetingListView> view;

    Sidebar() { store->commitChangesEachTurn(); }

    // What the file holds once the store has committed.
    ModelContext& reopen()
    {
        letTheLoopTurn(store.context());
        return store.reopen();
    }

    MeetingListView& make(MeetingSearchIndex::Options search = {}, bool waitForCopy = true)
    {
        view.reset();
        index = std::make_unique<MeetingSearchIndex>(store.context(), std::move(search));
        view = std::make_unique<MeetingListView>(
            MeetingListView::Services { store.context(), clock, updater, account.start(), *index, scheduler },
            [this](Meeting* meeting) { newFolderCalls.append(meeting); },
            [this](Meeting* meeting) { deleted.append(meeting); });
        view->resize(280, 740);
        view->show();
        if (waitForCopy && !QTest::qWaitFor([&] { return view->searchIndex().isReady(); }, 20000))
            qWarning("the search copy was never ready");
        return *view;
    }

    Meeting* meeting(const QString& title, int daysAgo, Folder* folder = nullptr)
    {
        return DatedLibrary::meeting(store.context(), kNow, title, daysAgo, folder);
    }
    Folder* folder(const QString& name, int order) { return DatedLibrary::folder(store.context(), kNow, name, order); }

    QAbstractItemModel& rows() const { return *view->list()->model(); }

    int rowOf(const QString& text) const
    {
        for (int row = 0; row < rows().rowCount(); ++row)
            if (rows().index(row, 0).data().toString() == text)
                return row;
        return -1;
    }

    // Every row as "kind:text", a folder with its count.
    QStringList shown() const
    {
        static const QHash<RowKind, QString> names { { RowKind::home, "home" }, { RowKind::spacesHeading, "heading" },
            { RowKind::folder, "folder" }, { RowKind::newFolder, "new" }, { RowKind::dateHeading, "section" },
            { RowKind::meeting, "meeting" }, { RowKind::noResults, "none" } };
        QStringList all;
        for (int row = 0; row < rows().rowCount(); ++row) {
            const QModelIndex index = rows().index(row, 0);
            const auto kind = index.data(MeetingListView::KindRole).value<RowKind>();
            QString text = names.value(kind) + QLatin1Char(':') + index.data().toString();
            if (kind == RowKind::folder && index.data(MeetingListView::CountRole).toInt() > 0)
                text += QLatin1Char(' ') + QString::number(index.data(MeetingListView::CountRole).toInt());
            all.append(text);
        }
        return all;
    }

    int highlightedRow() const
    {
        const QModelIndexList selected = view->list()->selectionModel()->selectedIndexes();
        return selected.isEmpty() ? -1 : selected.first().row();
    }

    void click(int row) const
    {
        const QRect rect = view->list()->visualRect(rows().index(row, 0));
        QTest::mouseClick(view->list()->viewport(), Qt::LeftButton, {}, rect.center());
    }

    void search(const QString& text) const { view->searchField()->setText(text); }
};

} // namespace

class TestSidebar final : public QObject
{
    Q_OBJECT

private slots:
    // The rows in order, what the search keeps, and the folder section that stays whole.
    void rows_data()
    {
        QTest::addColumn<bool>("empty");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");

        const QStringList folders { "home:Home", "heading:Spaces", "folder:Work 12", "folder:Untitled",
            "new:New Folder" };
        QTest::newRow("empty store") << true << QString()
                                     << QStringList { "home:Home", "heading:Spaces", "new:New Folder" };
        QTest::newRow("everything") << false << QString()
                                    << folders
                + QStringList { "section:Today", "meeting:Standup", "section:Yesterday", "meeting:Untitled",
                      "section:This Week", "meeting:Planning 0", "meeting:Planning 1", "meeting:Planning 2",
                      "meeting:Planning 3", "meeting:Planning 4", "section:Earlier", "meeting:Planning 5",
                      "meeting:Planning 6", "meeting:Planning 7", "meeting:Planning 8", "meeting:Planning 9",
                      "meeting:Planning 10", "meeting:Planning 11", "meeting:Retro" };
        QTest::newRow("counts ignore the search") << false << "PLANNING 1"
                                                  << folders
                + QStringList { "section:This Week", "meeting:Planning 1", "section:Earlier", "meeting:Planning 10",
                      "meeting:Planning 11" };
        QTest::newRow("transcript only") << false << "kangaroo"
                                         << folders + QStringList { "section:Earlier", "meeting:Retro" };
        QTest::newRow("no hits") << false << " zebra " << folders + QStringList { "none:No meetings match “ zebra ”" };
        QTest::newRow("no hits, empty store")
            << true << "x"
            << QStringList { "home:Home", "heading:Spaces", "new:New Folder", "none:No meetings match “x”" };
    }
    void rows()
    {
        QFETCH(bool, empty);
        QFETCH(QString, search);
        QFETCH(QStringList, expected);
        Sidebar sidebar;
        if (!empty) {
            Folder* work = sidebar.folder(QStringLiteral("Work"), 0);
            sidebar.folder(QString(), 1);
            for (int i = 0; i < 12; ++i)
                sidebar.meeting(QStringLiteral("Planning %1").arg(i), 2 + i, work);
            sidebar.meeting(QStringLiteral("Standup"), 0);
            sidebar.meeting(QString(), 1);
            Meeting* retro = sidebar.meeting(QStringLiteral("Retro"), 40);
            retro->appendSegment(new TranscriptSegment(QStringLiteral("A Kangaroo"), Speaker::me(), 1));
            QVERIFY(sidebar.store->save().ok());
            sidebar.store.reopen();
        }
        sidebar.make();
        sidebar.search(search);
        QCOMPARE(sidebar.shown(), expected);

        // Each row chooses what it names.
        if (!empty && search.isEmpty()) {
            const QModelIndex standup = sidebar.rows().index(sidebar.rowOf(QStringLiteral("Standup")), 0);
            QCOMPARE(standup.data(MeetingListView::ItemRole).value<SidebarItem>().meeting()->title(),
                QStringLiteral("Standup"));
            QCOMPARE(
                sidebar.rows().index(0, 0).data(MeetingListView::ItemRole).value<SidebarItem>(), SidebarItem::home());
            const QModelIndex work = sidebar.rows().index(sidebar.rowOf(QStringLiteral("Work")), 0);
            QCOMPARE(
                work.data(MeetingListView::ItemRole).value<SidebarItem>().folder()->name(), QStringLiteral("Work"));
        }
    }

    // The list follows the store as it changes, whoever changes it.
    void followsTheStore()
    {
        Sidebar sidebar;
        Folder* work = sidebar.folder(QStringLiteral("Work"), 0);
        Meeting* standup = sidebar.meeting(QStringLiteral("Standup"), 0);
        sidebar.make();
        QCOMPARE(sidebar.shown().mid(2, 1), QStringList { "folder:Work" });

        standup->setFolder(work);
        work->setName(QStringLiteral("Clients"));
        QCOMPARE(sidebar.shown().mid(2, 1), QStringList { "folder:Clients 1" });
        standup->setTitle(QStringLiteral("Daily"));
        QVERIFY(sidebar.shown().contains(QStringLiteral("meeting:Daily")));
        standup->setDate(kNow.addDays(-30));
        QCOMPARE(sidebar.shown().mid(4), (QStringList { "section:Earlier", "meeting:Daily" }));
        sidebar.meeting(QStringLiteral("New one"), 0);
        QCOMPARE(sidebar.shown().mid(4, 2), (QStringList { "section:Today", "meeting:New one" }));

        // While searching, a meeting that starts or stops matching comes or goes; a search that
        // finds nothing is said once each time it comes to that.
        AccessibleTree::EventSpy events;
        const QString none = QStringLiteral("No meetings match “walrus”");
        sidebar.search(QStringLiteral("walrus"));
        QCOMPARE(sidebar.shown().last(), QStringLiteral("none:") + none);
        QTRY_COMPARE(events.announcements(), QStringList { none });
        standup->appendSegment(new TranscriptSegment(QStringLiteral("the walrus"), Speaker::me(), 1));
        QCOMPARE(sidebar.shown().mid(4), (QStringList { "section:Earlier", "meeting:Daily" }));
        sidebar.store->remove(standup);
        QCOMPARE(sidebar.shown().last(), QStringLiteral("none:") + none);
        QTRY_COMPARE(events.announcements(), (QStringList { none, none }));
        work->setName(QStringLiteral("Walrus-free"));
        QTest::qWait(0);
        QCOMPARE(events.announcements().size(), 2);
        // Typed letter by letter, only the search the typing rests on is said; one that finds
        // something again before then takes its verdict back.
        events.clear();
        for (const QString& typed : { QStringLiteral("zz"), QStringLiteral("yak") }) {
            sidebar.view->searchField()->clear(); // finds every meeting
            QTest::keyClicks(sidebar.view->searchField(), typed);
        }
        QTRY_COMPARE(events.announcements(), QStringList { "No meetings match “yak”" });
    }

    // A search typed before the copy is ready shows nothing until it is, then its answer.
    void searchBeforeTheCopyIsReady()
    {
        Sidebar sidebar;
        sidebar.meeting(QStringLiteral("Standup"), 0);
        QVERIFY(sidebar.store->save().ok());
        QSemaphore gate;
        sidebar.make({ [&] { gate.acquire(); } }, false);
        sidebar.search(QStringLiteral("stand"));
        QCOMPARE(sidebar.shown().size(), 3);
        gate.release();
        QTRY_COMPARE(sidebar.shown().mid(3), (QStringList { "section:Today", "meeting:Standup" }));
    }

    // Choosing a row writes the selection; rebuilding the list never does, and the highlight
    // comes back to the selected meeting when the search that hid it is cleared.
    void selection()
    {
        Sidebar sidebar;
        Meeting* standup = sidebar.meeting(QStringLiteral("Standup"), 0);
        sidebar.meeting(QStringLiteral("Retro"), 3);
        MeetingListView& view = sidebar.make();
        QSignalSpy chosen(&view, &MeetingListView::selectionChanged);

        sidebar.click(sidebar.rowOf(QStringLiteral("Spaces")));
        sidebar.click(sidebar.rowOf(QStringLiteral("Today")));
        QCOMPARE(chosen.count(), 0);
        QCOMPARE(sidebar.highlightedRow(), 0);

        sidebar.click(sidebar.rowOf(QStringLiteral("Standup")));
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.first().first().value<SidebarItem>(), SidebarItem::meeting(standup));

        sidebar.search(QStringLiteral("retro"));
        sidebar.meeting(QStringLiteral("Retro two"), 1);
        QCOMPARE(sidebar.rowOf(QStringLiteral("Standup")), -1);
        QCOMPARE(view.selection(), SidebarItem::meeting(standup));
        sidebar.search(QString());
        QCOMPARE(sidebar.highlightedRow(), sidebar.rowOf(QStringLiteral("Standup")));
        QCOMPARE(chosen.count(), 1);

        // The main window's choice is shown, and not reported back.
        view.setSelection(SidebarItem::settings());
        QCOMPARE(sidebar.highlightedRow(), -1);
        view.setSelection(SidebarItem::home());
        QCOMPARE(sidebar.highlightedRow(), 0);
        QCOMPARE(chosen.count(), 1);

        // "New Folder" asks for the sheet with no meeting, and selects nothing.
        sidebar.click(sidebar.rowOf(QStringLiteral("New Folder")));
        QCOMPARE(sidebar.newFolderCalls, QList<Meeting*> { nullptr });
        QCOMPARE(chosen.count(), 1);
    }

    // The Delete key hands the selected meeting to the main window and asks nothing; a
    // meeting row's menu is the shared meeting menu.
    void deleteKeyAndMeetingMenu()
    {
        Sidebar sidebar;
        Meeting* standup = sidebar.meeting(QStringLiteral("Standup"), 0);
        sidebar.folder(QStringLiteral("Work"), 0);
        MeetingListView& view = sidebar.make();
        sidebar.click(sidebar.rowOf(QStringLiteral("Standup")));
        QTest::keyClick(view.list(), Qt::Key_Delete);
        QCOMPARE(sidebar.deleted, QList<Meeting*> { standup });

        std::unique_ptr<QMenu> menu(view.contextMenuFor(sidebar.rowOf(QStringLiteral("Standup")), nullptr));
        QVERIFY(menu);
        QVERIFY(entry(*menu, QStringLiteral("Delete")));
        entry(*menu, QStringLiteral("Delete"))->trigger();
        QCOMPARE(sidebar.deleted.size(), 2);
        QVERIFY(!view.contextMenuFor(sidebar.rowOf(QStringLiteral("Today")), nullptr));
    }

    void rename_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("deleteFirst");
        QTest::addColumn<QString>("expected"); // the stored name after reopening; null: no folder

        QTest::newRow("trimmed") << " \n Clients\t\n" << true << false << "Clients";
        QTest::newRow("only spaces") << "   " << true << false << " Work ";
        QTest::newRow("cancel") << "Clients" << false << false << " Work ";
        QTest::newRow("deleted meanwhile") << "Clients" << true << true << QString();
    }
    void rename()
    {
        QFETCH(QString, typed);
        QFETCH(bool, save);
        QFETCH(bool, deleteFirst);
        QFETCH(QString, expected);
        Sidebar sidebar;
        Folder* work = sidebar.folder(QStringLiteral(" Work "), 0);
        QVERIFY(sidebar.store->save().ok());
        MeetingListView& view = sidebar.make();

        std::unique_ptr<QMenu> menu(view.contextMenuFor(sidebar.rowOf(QStringLiteral(" Work ")), nullptr));
        entry(*menu, QStringLiteral("Rename…"))->trigger();
        QPointer<QDialog> dialog = view.renameDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Rename Folder"));
        QLineEdit* field = dialog->findChild<QLineEdit*>();
        QCOMPARE(field->placeholderText(), QStringLiteral("Name"));
        QCOMPARE(field->text(), QStringLiteral(" Work "));
        // The buttons keep their margin from the bottom edge.
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            QVERIFY(dialog->height() - button->geometry().bottom() > 14);
        QVERIFY(dialog->height() >= dialog->layout()->sizeHint().height());
        field->setText(typed);
        if (deleteFirst)
            view.deleteFolder(work);
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text() == (save ? QStringLiteral("Save") : QStringLiteral("Cancel")))
                button->click();
        QTRY_VERIFY(!dialog);

        ModelContext& reopened = sidebar.reopen();
        const QList<Folder*> folders = reopened.fetchFolders();
        QCOMPARE(folders.isEmpty() ? QString() : folders.first()->name(), expected);
    }

    // Deleting a folder keeps its meetings, unfiled; Home is selected only when the folder was.
    void deleteFolder_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::newRow("the selected folder") << true;
        QTest::newRow("another folder") << false;
    }
    void deleteFolder()
    {
        QFETCH(bool, selected);
        Sidebar sidebar;
        Folder* work = sidebar.folder(QStringLiteral("Work"), 0);
        Folder* other = sidebar.folder(QStringLiteral("Other"), 1);
        sidebar.meeting(QStringLiteral("Standup"), 0, work);
        QVERIFY(sidebar.store->save().ok());
        MeetingListView& view = sidebar.make();
        sidebar.click(sidebar.rowOf(QString::fromLatin1(selected ? "Work" : "Other")));
        QSignalSpy chosen(&view, &MeetingListView::selectionChanged);

        std::unique_ptr<QMenu> menu(view.contextMenuFor(sidebar.rowOf(QStringLiteral("Work")), nullptr));
        QAction* remove = entry(*menu, QStringLiteral("Delete Folder"));
        QVERIFY(isDestructive(*remove));
        remove->trigger();

        QCOMPARE(chosen.count(), selected ? 1 : 0);
        QCOMPARE(view.selection(), selected ? SidebarItem::home() : SidebarItem::folder(other));
        QCOMPARE(sidebar.highlightedRow(), selected ? 0 : sidebar.rowOf(QStringLiteral("Other")));
        QVERIFY(sidebar.shown().contains(QStringLiteral("meeting:Standup")));
        ModelContext& reopened = sidebar.reopen();
        QCOMPARE(reopened.fetchFolders().size(), 1);
        QCOMPARE(reopened.fetchMeetings().first()->folder(), nullptr);
    }

    // What a meeting row shows: the time, the length in minutes and the summary mark.
    void rowContent_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<double>("duration");
        QTest::addColumn<bool>("summary");
        QTest::addColumn<QString>("expectedTitle");
        QTest::addColumn<QStringList>("expectedMeta"); // after the time
        const double huge = double(std::numeric_limits<qint64>::max()) * 2;
        QTest::newRow("nothing yet") << "a" << 0.0 << false << "a" << QStringList {};
        QTest::newRow("under a minute") << "a" << 45.0 << true << "a" << QStringList { "·", "<1m" };
        QTest::newRow("59.9 s") << "a" << 59.9 << false << "a" << QStringList { "·", "<1m" };
        QTest::newRow("2 h 5 min") << "a" << 7500.0 << false << "a" << QStringList { "·", "125m" };
        QTest::newRow("an hour") << "a" << 3600.0 << false << "a" << QStringList { "·", "60m" };
        QTest::newRow("not a number") << "a" << std::nan("") << false << "a" << QStringList {};
        QTest::newRow("too large") << "a" << huge << false << "a" << QStringList {};
        QTest::newRow("empty title") << "" << 0.0 << false << "Untitled" << QStringList {};
        QTest::newRow("spaces kept") << "  " << 0.0 << false << "  " << QStringList {};
        QTest::newRow("markup as typed") << "<b>x</b>" << 0.0 << false << "<b>x</b>" << QStringList {};
    }
    void rowContent()
    {
        QFETCH(QString, title);
        QFETCH(double, duration);
        QFETCH(bool, summary);
        QFETCH(QString, expectedTitle);
        QFETCH(QStringList, expectedMeta);
        Meeting meeting(title, kNow);
        meeting.setDuration(duration);
        if (summary)
            meeting.setSummary(QString());
        const MeetingRow::Content content = MeetingRow::content(meeting);
        QCOMPARE(content.title, expectedTitle);
        QCOMPARE(content.meta.mid(1), expectedMeta);
        // The locale's short time, never with seconds (the C locale's own carries them).
        QCOMPARE(content.meta.first(), formatShortTime(QTime(10, 10)));
        QVERIFY(!content.meta.first().contains(QLatin1String(":00:")));
        QCOMPARE(content.summaryMark, summary);
    }

    // In the application's window: a selected meeting the search hides stays in the detail
    // column; the Delete key deletes a meeting with its archive file and asks nothing; the
    // fix-it banner is not on the settings page, and its "Sign in" leads there.
    void inTheMainWindow()
    {
        AppRig rig;
        rig.clock.set(kNow);
        auto* standup = new Meeting(QStringLiteral("Standup"), kNow.addSecs(-600));
        auto* retro = new Meeting(QStringLiteral("Retro"), kNow.addSecs(-1200));
        for (Meeting* meeting : { standup, retro })
            rig->store().insert(meeting);
        QVERIFY(rig->store().save().ok());
        for (Meeting* meeting : { standup, retro })
            rig->archiver().archive(MeetingArchiver::Snapshot(*meeting));
        QFutureWatcher<void> idle;
        idle.setFuture(rig->archiver().idle());
        QTRY_VERIFY(idle.isFinished());
        const auto files = [&] {
            return QDir(rig.archiveRoot()).entryList({ QStringLiteral("*.md") }, QDir::Files).size()
                + QDir(rig.archiveRoot() + QStringLiteral("/2026")).entryList({ QStringLiteral("*.md") }).size();
        };
        QCOMPARE(files(), 2);

        MainWindow window(rig->windowServices());
        window.show();
        MainContentView& content = window.content();
        MeetingListView& sidebar = *content.sidebar();
        QTRY_VERIFY(sidebar.searchIndex().isReady());
        const auto rowOf = [&](const QString& text) {
            for (int row = 0; row < sidebar.list()->model()->rowCount(); ++row)
                if (sidebar.list()->model()->index(row, 0).data().toString() == text)
                    return row;
            return -1;
        };
        const auto click = [&](int row) {
            QTest::mouseClick(sidebar.list()->viewport(), Qt::LeftButton, {},
                sidebar.list()->visualRect(sidebar.list()->model()->index(row, 0)).center());
        };

        click(rowOf(QStringLiteral("Standup")));
        QCOMPARE(content.selection(), SidebarItem::meeting(standup));
        QWidget* page = content.page();
        sidebar.searchField()->setText(QStringLiteral("retro"));
        QCOMPARE(rowOf(QStringLiteral("Standup")), -1);
        QCOMPARE(content.selection(), SidebarItem::meeting(standup));
        QCOMPARE(content.page(), page);
        sidebar.searchField()->clear();

        // Signed out with the microphone on: the sign-in strip, gone on the settings page.
        FixItBanner& banner = *content.banner();
        QCOMPARE(banner.strip(), FixItBanner::Strip::signIn);
        banner.button()->click();
        QCOMPARE(content.selection(), SidebarItem::settings());
        QVERIFY(!banner.isVisibleTo(&window));
        content.setSelection(SidebarItem::home());
        QVERIFY(banner.isVisibleTo(&window));

        // A folder's deletion leaves its meetings' archive files alone.
        auto* work = new Folder(QStringLiteral("Work"), QStringLiteral("folder"), {});
        rig->store().insert(work);
        standup->setFolder(work);
        QVERIFY(rig->store().save().ok());
        click(rowOf(QStringLiteral("Work")));
        sidebar.deleteFolder(work);
        QCOMPARE(content.selection(), SidebarItem::home());
        QTRY_VERIFY(!rig->store().hasChanges());
        idle.setFuture(rig->archiver().idle());
        QTRY_VERIFY(idle.isFinished());
        QCOMPARE(files(), 2);

        click(rowOf(QStringLiteral("Retro")));
        QTest::keyClick(sidebar.list(), Qt::Key_Delete);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(rig->store().meetingCount(), 1);
        QCOMPARE(content.selection(), SidebarItem::home());
        QTRY_VERIFY(!rig->store().hasChanges());
        idle.setFuture(rig->archiver().idle());
        QTRY_VERIFY(idle.isFinished());
        QCOMPARE(files(), 1);
    }

    // The keyboard in the real window: the arrows stop on every row but the headings and the
    // page follows them, "New Folder" waits for Enter, Enter opens the row, a right click only
    // opens the menu, and Escape clears the search.
    void keyboard()
    {
        AppRig rig({ .steppedDelays = true });
        rig.clock.set(kNow);
        auto* work = new Folder(QStringLiteral("Work"), QStringLiteral("folder"), {});
        auto* standup = new Meeting(QStringLiteral("Standup"), kNow.addSecs(-600));
        auto* retro = new Meeting(QStringLiteral("Retro"), kNow.addDays(-3));
        rig->store().insert(work);
        rig->store().insert(standup);
        rig->store().insert(retro);
        QVERIFY(rig->store().save().ok());
        MainWindow window(rig->windowServices());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        MainContentView& content = window.content();
        MeetingListView& sidebar = *content.sidebar();
        QTRY_VERIFY(sidebar.searchIndex().isReady());
        QListView& list = *sidebar.list();
        list.setFocus(Qt::TabFocusReason);
        const auto press = [&](Qt::Key key) {
            QTest::keyClick(&list, key);
            rig.scheduler.advance(std::chrono::seconds(1));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        };
        const auto current = [&] { return list.currentIndex().data().toString(); };
        const auto sheets = [&] { return content.findChildren<NewFolderSheet*>().size(); };

        press(Qt::Key_Down);
        QCOMPARE(content.selection(), SidebarItem::folder(work));
        press(Qt::Key_Down);
        QCOMPARE(current(), QStringLiteral("New Folder"));
        QCOMPARE(content.selection(), SidebarItem::folder(work));
        QCOMPARE(sheets(), 0);
        press(Qt::Key_Return);
        QCOMPARE(sheets(), 1);
        content.findChild<NewFolderSheet*>()->reject();
        QTRY_COMPARE(sheets(), 0);
        press(Qt::Key_Down);
        QCOMPARE(content.selection(), SidebarItem::meeting(standup));
        press(Qt::Key_Down);
        QCOMPARE(content.selection(), SidebarItem::meeting(retro));
        press(Qt::Key_Up);
        press(Qt::Key_Up);
        QCOMPARE(current(), QStringLiteral("New Folder"));
        QCOMPARE(content.selection(), SidebarItem::meeting(standup));
        press(Qt::Key_Up);
        press(Qt::Key_Up);
        QCOMPARE(content.selection(), SidebarItem::home());

        // Enter opens the keyboard's row when another page shows.
        content.setSelection(SidebarItem::settings());
        press(Qt::Key_Enter);
        QCOMPARE(content.selection(), SidebarItem::home());

        // A held key moves the highlight alone; the page follows when it is let go.
        for (int repeat = 0; repeat < 4; ++repeat) {
            QKeyEvent held(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), /*autorep*/ true);
            QCoreApplication::sendEvent(&list, &held);
        }
        QCOMPARE(current(), QStringLiteral("Retro"));
        QCOMPARE(content.selection(), SidebarItem::home());
        QTest::keyRelease(&list, Qt::Key_Down);
        rig.scheduler.advance(std::chrono::seconds(1));
        QCOMPARE(content.selection(), SidebarItem::meeting(retro));
        press(Qt::Key_Home);
        QCOMPARE(content.selection(), SidebarItem::home());
        // So do single presses, once the keys rest: a screen reader is told each row while the
        // page waits, and a press before the rest keeps it waiting.
        AccessibleTree::EventSpy told;
        QTest::keyClick(&list, Qt::Key_Down);
        QCOMPARE(told.lastFocus(), QStringLiteral("Work"));
        rig.scheduler.advance(std::chrono::milliseconds(200));
        QCOMPARE(content.selection(), SidebarItem::home());
        QTest::keyClick(&list, Qt::Key_Down);
        QTest::keyClick(&list, Qt::Key_Down);
        QCOMPARE(told.lastFocus(), QStringLiteral("Standup"));
        rig.scheduler.advance(std::chrono::milliseconds(200));
        QCOMPARE(content.selection(), SidebarItem::home());
        rig.scheduler.advance(std::chrono::seconds(1));
        QCOMPARE(content.selection(), SidebarItem::meeting(standup));
        // Leaving the list takes its row at once.
        QTest::keyClick(&list, Qt::Key_Up);
        QTest::keyClick(&list, Qt::Key_Up);
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        sidebar.searchField()->setFocus();
        QCOMPARE(content.selection(), SidebarItem::folder(work));
        list.setFocus(Qt::TabFocusReason);
        press(Qt::Key_Up);

        // A right click leaves the page alone and opens the row's menu.
        const QPoint retroRow = list.visualRect(list.model()->index(list.model()->rowCount() - 1, 0)).center();
        QTest::mouseClick(list.viewport(), Qt::RightButton, {}, retroRow);
        QContextMenuEvent menuClick(QContextMenuEvent::Mouse, retroRow, list.viewport()->mapToGlobal(retroRow));
        QCoreApplication::sendEvent(list.viewport(), &menuClick);
        QCOMPARE(content.selection(), SidebarItem::home());
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QVERIFY(entry(*menu, QStringLiteral("Delete")));
        menu->close();
        // So does Shift+F10, the desktop's other menu key, for the keyboard's row.
        list.setCurrentIndex(list.model()->index(list.model()->rowCount() - 1, 0));
        QTest::keyClick(&list, Qt::Key_F10, Qt::ShiftModifier);
        menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QVERIFY(entry(*menu, QStringLiteral("Delete")));
        menu->close();

        sidebar.searchField()->setFocus();
        QTest::keyClicks(sidebar.searchField(), QStringLiteral("retro"));
        QCOMPARE(sidebar.searchField()->text(), QStringLiteral("retro"));
        // Down goes into the results: their first row takes the focus and is chosen.
        QTRY_COMPARE(list.model()->index(list.model()->rowCount() - 1, 0).data().toString(), QStringLiteral("Retro"));
        QTest::keyClick(sidebar.searchField(), Qt::Key_Down);
        QCOMPARE(window.focusWidget(), &list);
        QCOMPARE(current(), QStringLiteral("Retro"));
        QCOMPARE(content.selection(), SidebarItem::meeting(retro));
        sidebar.searchField()->setFocus();
        QTest::keyClick(sidebar.searchField(), Qt::Key_Escape);
        QCOMPARE(sidebar.searchField()->text(), QString());
        QCOMPARE(list.model()->index(list.model()->rowCount() - 1, 0).data().toString(), QStringLiteral("Retro"));

        // The banner's button over the page answers Enter too, as every button does.
        QAbstractButton* signIn = content.banner()->button();
        signIn->setFocus(Qt::TabFocusReason);
        QTest::keyClick(signIn, Qt::Key_Return);
        QCOMPARE(content.selection(), SidebarItem::settings());
    }

    // A screen reader reads the rows as a list: headings as headings, "New Folder" as a button,
    // one item per other row with its text; the keyboard's row is the accessible focus, and an
    // item's action chooses it. A row whose meeting goes is invalid at once.
    void screenReader()
    {
        AccessibleTree::EventSpy told;
        Sidebar bar;
        Folder* work = bar.folder(QStringLiteral("Work"), 1);
        Meeting* standup = bar.meeting(QStringLiteral("Standup"), 0, work);
        standup->setDuration(1800);
        standup->setSummary(QStringLiteral("Done."));
        Meeting* retro = bar.meeting(QStringLiteral("Retro"), 30);
        bar.store->save();
        MeetingListView& view = bar.make();
        QAccessibleInterface* list = AccessibleTree::of(view.list());
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(list->childCount(), bar.rows().rowCount());
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(list, QAccessible::Heading)),
            (QStringList { "Spaces", "Today", "Earlier" }));
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(list, QAccessible::ListItem)),
            (QStringList { "Home", "Work", "Standup", "Retro" }));
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(list, QAccessible::Button)), QStringList { "New Folder" });
        QAccessibleInterface* folder = AccessibleTree::find(list, QAccessible::ListItem, QStringLiteral("Work"));
        QCOMPARE(AccessibleTree::description(folder), QStringLiteral("1"));
        QAccessibleInterface* meeting = AccessibleTree::find(list, QAccessible::ListItem, QStringLiteral("Standup"));
        QCOMPARE(AccessibleTree::description(meeting),
            formatShortTime(standup->date().toLocalTime().time()) + QStringLiteral(", 30m, Summary"));
        const QRect row = view.list()->visualRect(bar.rows().index(bar.rowOf(QStringLiteral("Standup")), 0));
        QCOMPARE(meeting->rect(), QRect(view.list()->viewport()->mapToGlobal(row.topLeft()), row.size()));
        QVERIFY(AccessibleTree::items(list).at(0)->state().selected);

        view.list()->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QCOMPARE(told.lastFocus(), QStringLiteral("Home"));
        QTest::keyClick(view.list(), Qt::Key_Down);
        QCOMPARE(told.lastFocus(), QStringLiteral("Work"));
        QVERIFY(folder->state().focused);
        QTest::keyClick(view.list(), Qt::Key_Down);
        QCOMPARE(told.lastFocus(), QStringLiteral("New Folder"));

        QSignalSpy chosen(&view, &MeetingListView::selectionChanged);
        meeting->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(view.selection(), SidebarItem::meeting(standup));
        QCOMPARE(chosen.size(), 1);
        AccessibleTree::find(list, QAccessible::Button, QStringLiteral("New Folder"))
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(bar.newFolderCalls, QList<Meeting*> { nullptr });

        QAccessibleInterface* gone = AccessibleTree::find(list, QAccessible::ListItem, QStringLiteral("Retro"));
        bar.store->remove(retro);
        QVERIFY(!gone->isValid());
        QCOMPARE(AccessibleTree::name(gone), QString());
        QVERIFY(!AccessibleTree::find(list, QAccessible::ListItem, QStringLiteral("Retro")));
        QCoreApplication::processEvents();
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(list, QAccessible::ListItem)),
            (QStringList { "Home", "Work", "Standup" }));
    }

    // What a screen reader finds in the sidebar: the search field by its prompt, its symbol,
    // the list and the account chip by what it shows.
    void controlsAreNamed()
    {
        Sidebar sidebar;
        sidebar.meeting(QStringLiteral("Standup"), 0);
        MeetingListView& view = sidebar.make();
        QUILLET_VERIFY_ALL_NAMED(view);
        QCOMPARE(QAccessible::queryAccessibleInterface(view.searchField())->text(QAccessible::Name),
            QStringLiteral("Search meetings"));
        QVERIFY(AccessibleNames::find(view, QStringLiteral("Sign in")));
        view.searchField()->setText(QStringLiteral("stand"));
        QUILLET_VERIFY_ALL_NAMED(view);
    }

    // The recording dot is painted while the meeting records, and only then.
    void recordingDot()
    {
        Sidebar sidebar;
        Meeting* standup = sidebar.meeting(QStringLiteral("Standup"), 0);
        MeetingListView& view = sidebar.make();
        const auto dotPixel = [&] {
            const QRect row
                = view.list()->visualRect(sidebar.rows().index(sidebar.rowOf(QStringLiteral("Standup")), 0));
            const QImage image = view.list()->viewport()->grab().toImage();
            const QColor pixel
                = image.pixelColor(MeetingRow::dotRect(row.adjusted(16, 0, 0, 0)).center() * image.devicePixelRatio());
            return pixel;
        };
        const auto isAccent = [](const QColor& pixel) { return pixel.red() - pixel.blue() > 60; };
        QVERIFY(!isAccent(dotPixel()));
        standup->setIsRecording(true);
        QVERIFY(isAccent(dotPixel()));
        standup->setIsRecording(false);
        QVERIFY(!isAccent(dotPixel()));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestSidebar)
#include "TestSidebar.moc"
