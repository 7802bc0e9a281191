#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "support/AccessibleNames.h"
#include "support/AccessibleTree.h"
#include "support/CalendarRig.h"
#include "support/RecordingUrlOpener.h"
#include "support/TempStore.h"
#include "support/TestMain.h"
#include "support/ZoneAndLocale.h"
#include "ui/design/AccessibleMenus.h"
#include "ui/design/QuilletStyle.h"
#include "ui/home/HomeView.h"
#include "ui/home/MeetingCardList.h"
#include "ui/home/MeetingMenu.h"
#include "ui/home/NewFolderSheet.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QToolButton>
#include <memory>

namespace {

const QString kNewFolder = QStringLiteral("New Folder\u2026");

QDateTime someDate()
{
    return QDateTime(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC);
}

QAction* find(const QMenu& menu, const QString& text)
{
    const QList<QAction*> actions = menu.actions();
    const auto found = std::find_if(actions.begin(), actions.end(), [&](QAction* a) { return a->text() == text; });
    return found == actions.end() ? nullptr : *found;
}

QStringList texts(const QMenu& menu)
{
    QStringList result;
    for (const QAction* action : menu.actions())
        result.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    return result;
}

// Every entry, submenus included, as "text" or "submenu/text".
QStringList allTexts(const QMenu& menu, const QString& prefix = {})
{
    QStringList result;
    for (const QAction* action : menu.actions()) {
        result.append(prefix + (action->isSeparator() ? QStringLiteral("---") : action->text()));
        if (action->menu())
            result += allTexts(*action->menu(), action->text() + QLatin1Char('/'));
    }
    return result;
}

QMenu& addToFolder(const QMenu& menu)
{
    QAction* action = find(menu, QStringLiteral("Add to Folder"));
    if (!action || !action->menu())
        qFatal("no Add to Folder submenu");
    return *action->menu();
}

// The entries of the folder submenu that carry the check mark.
QStringList checked(const QMenu& menu)
{
    QStringList result;
    for (const QAction* action : addToFolder(menu).actions()) {
        if (!action->icon().isNull())
            result.append(action->text());
    }
    return result;
}

} // namespace

// Counts the paint events a widget gets.
struct PaintCounter final : QObject
{
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
    int count = 0;
};

class TestMeetingMenu final : public QObject
{
    Q_OBJECT

    struct Fixture
    {
        // The store commits on its own, as in the application, at the next turn of the loop.
        TempStore store;
        Meeting* meeting = nullptr;
        QList<Meeting*> newFolderAsked;
        QList<Meeting*> deleteAsked;

        Fixture()
        {
            store->commitChangesEachTurn();
            meeting = new Meeting(QStringLiteral("Design review"), someDate());
            store->insert(meeting);
            store->save();
        }

        Folder* addFolder(const QString& name)
        {
            auto* folder = new Folder(name, QStringLiteral("folder"), {});
            store->insert(folder);
            store->save();
            return folder;
        }

        void commit() { letTheLoopTurn(store.context()); }

        // What the file holds once the store has committed.
        ModelContext& reopen()
        {
            commit();
            ModelContext& reopened = store.reopen();
            reopened.commitChangesEachTurn();
            return reopened;
        }

        std::unique_ptr<QMenu> menu()
        {
            return std::unique_ptr<QMenu>(meetingContextMenu(
                meeting, store->fetchFolders(), store.context(), [this](Meeting* m) { newFolderAsked.append(m); },
                [this](Meeting* m) { deleteAsked.append(m); }));
        }
    };

private slots:
    void initTestCase()
    {
        QLocale::setDefault(ZoneAndLocale::english());
        // As the window does when it is made: the menus then know a key opened them.
        AccessibleMenus::install();
    }

    void actionsButtonAndRightClickGiveTheSameMenu()
    {
        Fixture f;
        f.addFolder(QStringLiteral("Clients"));
        f.meeting->setFolder(f.store->fetchFolders().first());
        f.store->save();
        CalendarRig calendar;
        RecordingUrlOpener browser;
        HomeServices services { f.store.context(), calendar.clock, calendar.service, browser, {}, {}, {} };
        const auto ignore = [](Meeting*) {};
        HomeView home(nullptr, services, ignore, ignore, ignore, ignore);
        home.resize(1120, 740);
        home.show();
        QVERIFY(QTest::qWaitForWindowExposed(&home));
        MeetingCardList* list = home.meetingList();

        QTest::mouseClick(list, Qt::LeftButton, {}, list->actionsRect(f.meeting).center());
        QVERIFY(home.openMenu());
        const QStringList fromButton = allTexts(*home.openMenu());
        home.openMenu()->close();

        const QPoint inside = list->cardRect(f.meeting).center();
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, inside, list->mapToGlobal(inside));
        QApplication::sendEvent(list, &rightClick);
        QVERIFY(home.openMenu());
        QCOMPARE(allTexts(*home.openMenu()), fromButton);
        QCOMPARE(fromButton,
            (QStringList { "Add to Folder", "Add to Folder/Clients", "Add to Folder/---", "Add to Folder/" + kNewFolder,
                "Remove from Folder", "---", "Delete" }));
    }

    // A screen reader finds the card's "Actions" button, which opens the menu, and the open
    // menu among the application's children, its entries as menu items and "Add to Folder"
    // holding its submenu; opened by a key, the menu starts on its first entry, which is then
    // the one in focus.
    void openMenuIsReadable()
    {
        Fixture f;
        f.addFolder(QStringLiteral("Clients"));
        CalendarRig calendar;
        RecordingUrlOpener browser;
        HomeServices services { f.store.context(), calendar.clock, calendar.service, browser, {}, {}, {} };
        const auto ignore = [](Meeting*) {};
        HomeView home(nullptr, services, ignore, ignore, ignore, ignore);
        home.resize(1120, 740);
        home.show();
        home.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&home));
        MeetingCardList* list = home.meetingList();
        list->setFocus(Qt::TabFocusReason);
        QTest::keyClick(list, Qt::Key_Menu);
        QVERIFY(home.openMenu());
        QTRY_VERIFY(home.openMenu()->activeAction());

        QAccessibleInterface* application = AccessibleTree::of(qApp);
        QAccessibleInterface* menu = AccessibleTree::find(
            application, [&](QAccessibleInterface* face) { return face->object() == home.openMenu(); });
        QVERIFY(menu);
        QCOMPARE(menu->role(), QAccessible::PopupMenu);
        QCOMPARE(menu->parent()->role(), QAccessible::Application);
        QVERIFY(application->indexOfChild(menu) >= 0);
        const QList<QAccessibleInterface*> entries = AccessibleTree::items(menu, QAccessible::MenuItem);
        QCOMPARE(AccessibleTree::names(entries), (QStringList { "Add to Folder", "Delete" }));
        QAccessibleInterface* addTo = entries.first();
        QVERIFY(addTo->state().focused);
        QVERIFY(addTo->state().expandable && addTo->state().collapsed && !addTo->state().expanded);
        QAccessibleInterface* submenu = addTo->child(0);
        QVERIFY(submenu);
        QCOMPARE(submenu->role(), QAccessible::PopupMenu);
        QCOMPARE(submenu->parent(), addTo);
        QCOMPARE(addTo->indexOfChild(submenu), 0);
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(submenu, QAccessible::MenuItem)),
            (QStringList { "Clients", kNewFolder }));
        // Into the submenu and back: the entry that holds it is the focus again.
        AccessibleTree::EventSpy told;
        QTest::keyClick(home.openMenu(), Qt::Key_Right);
        QTRY_VERIFY(addTo->state().expanded);
        QCOMPARE(told.lastFocus(), QStringLiteral("Clients"));
        QTest::keyClick(qobject_cast<QMenu*>(submenu->object()), Qt::Key_Left);
        QTRY_COMPARE(told.lastFocus(), QStringLiteral("Add to Folder"));
        QVERIFY(addTo->state().collapsed && home.openMenu()->isVisible());
        home.openMenu()->close();

        QAccessibleInterface* card = AccessibleTree::find(
            AccessibleTree::of(list), [](QAccessibleInterface* face) { return face->role() == QAccessible::ListItem; });
        QVERIFY(card);
        QCOMPARE(card->childCount(), 1);
        QAccessibleInterface* actions = card->child(0);
        QCOMPARE(actions->role(), QAccessible::ButtonMenu);
        QCOMPARE(AccessibleTree::name(actions), QStringLiteral("Actions"));
        QCOMPARE(actions->parent(), card);
        QCOMPARE(card->indexOfChild(actions), 0);
        QVERIFY(card->rect().contains(actions->rect()));
        actions->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(home.openMenu() && home.openMenu()->isVisible());
    }

    void withoutFoldersOnlyNewFolderIsOffered()
    {
        Fixture f;
        const auto menu = f.menu();
        QCOMPARE(texts(*menu),
            (QStringList { QStringLiteral("Add to Folder"), QStringLiteral("---"), QStringLiteral("Delete") }));
        QCOMPARE(texts(addToFolder(*menu)), QStringList { kNewFolder });
        QVERIFY(isDestructive(*find(*menu, QStringLiteral("Delete"))));

        find(addToFolder(*menu), kNewFolder)->trigger();
        QCOMPARE(f.newFolderAsked, QList<Meeting*> { f.meeting });
    }

    void checkMarkAndRemoveFollowFiling()
    {
        Fixture f;
        Folder* first = f.addFolder(QStringLiteral("Clients"));
        f.addFolder(QString());
        {
            const auto menu = f.menu();
            QCOMPARE(texts(addToFolder(*menu)),
                (QStringList {
                    QStringLiteral("Clients"), QStringLiteral("Untitled"), QStringLiteral("---"), kNewFolder }));
            QCOMPARE(checked(*menu), QStringList());
            QVERIFY(!find(*menu, QStringLiteral("Remove from Folder")));
            find(addToFolder(*menu), QStringLiteral("Clients"))->trigger();
        }
        QCOMPARE(f.meeting->folder(), first);
        f.commit();
        QVERIFY(!f.store->hasChanges());
        {
            const auto menu = f.menu();
            QCOMPARE(checked(*menu), QStringList { QStringLiteral("Clients") });
            QCOMPARE(texts(*menu),
                (QStringList { QStringLiteral("Add to Folder"), QStringLiteral("Remove from Folder"),
                    QStringLiteral("---"), QStringLiteral("Delete") }));
            // The folder it is in again: it stays there.
            find(addToFolder(*menu), QStringLiteral("Clients"))->trigger();
        }
        QCOMPARE(f.meeting->folder(), first);
        {
            const auto menu = f.menu();
            find(addToFolder(*menu), QStringLiteral("Untitled"))->trigger();
        }
        ModelContext& reopened = f.reopen();
        Meeting* meeting = reopened.fetchMeetings().first();
        QVERIFY(meeting->folder());
        QCOMPARE(meeting->folder()->name(), QString());

        f.meeting = meeting;
        {
            const auto menu = f.menu();
            QCOMPARE(checked(*menu), QStringList { QStringLiteral("Untitled") });
            find(*menu, QStringLiteral("Remove from Folder"))->trigger();
        }
        QVERIFY(!f.reopen().fetchMeetings().first()->folder());
    }

    void deleteOnlyAsks()
    {
        Fixture f;
        f.addFolder(QStringLiteral("Clients"));
        const auto menu = f.menu();
        find(*menu, QStringLiteral("Delete"))->trigger();
        QCOMPARE(f.deleteAsked, QList<Meeting*> { f.meeting });
        QCOMPARE(f.store->meetingCount(), 1);
        QVERIFY(!f.store->hasChanges());
        QVERIFY(f.newFolderAsked.isEmpty());
    }

    void entriesOfAMeetingGoneDoNothing_data()
    {
        QTest::addColumn<bool>("saved");
        QTest::newRow("removal saved") << true;
        QTest::newRow("removal not saved yet") << false;
    }

    void entriesOfAMeetingGoneDoNothing()
    {
        QFETCH(bool, saved);
        Fixture f;
        Folder* folder = f.addFolder(QStringLiteral("Clients"));
        const auto menu = f.menu();
        f.store->remove(f.meeting);
        if (saved) {
            f.store->save();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        find(addToFolder(*menu), QStringLiteral("Clients"))->trigger();
        find(addToFolder(*menu), kNewFolder)->trigger();
        find(*menu, QStringLiteral("Delete"))->trigger();
        QVERIFY(folder->meetings().isEmpty());
        QVERIFY(f.newFolderAsked.isEmpty());
        QVERIFY(f.deleteAsked.isEmpty());
    }

    void createNeedsMoreThanSpacesAndTabs_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("created");
        QTest::newRow("empty") << QString() << false << QString();
        QTest::newRow("spaces") << QStringLiteral("   ") << false << QString();
        QTest::newRow("tabs") << QStringLiteral("\t \t") << false << QString();
        QTest::newRow("wide spaces") << QStringLiteral("\u00A0\u2003\u3000") << false << QString();
        QTest::newRow("line breaks") << QStringLiteral("\n \n") << true << QString();
        QTest::newRow("paragraph separator") << QStringLiteral("\u2029") << true << QString();
        QTest::newRow("a word") << QStringLiteral("\u3000a\t") << true << QStringLiteral("a");
    }

    void createNeedsMoreThanSpacesAndTabs()
    {
        QFETCH(QString, name);
        QFETCH(bool, enabled);
        QFETCH(QString, created);
        Fixture f;
        QWidget window;
        window.show();
        NewFolderSheet sheet(f.store.context(), f.meeting, &window);
        sheet.open();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        sheet.nameField()->setText(name);
        QCOMPARE(sheet.createButton()->isEnabled(), enabled);

        // Line breaks only: Create (and Return) do nothing and the sheet stays open.
        QTest::keyClick(sheet.nameField(), Qt::Key_Return);
        if (enabled && created.isEmpty())
            sheet.createButton()->click();
        QCOMPARE(sheet.isVisible(), created.isEmpty());
        const QList<Folder*> folders = f.store->fetchFolders();
        QCOMPARE(folders.size(), created.isEmpty() ? 0 : 1);
        if (!created.isEmpty())
            QCOMPARE(folders.first()->name(), created);
    }

    // The sheet to a screen reader and the keyboard: every control named; the description
    // grows from two lines to four, then scrolls; with Cancel focused, Create no longer looks
    // focused (the base style outlines the default button as it does the focused one).
    void sheetByKeyboardAndScreenReader()
    {
        Fixture f;
        QApplication::setStyle(new QuilletStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
        QWidget window;
        window.show();
        NewFolderSheet sheet(f.store.context(), f.meeting, &window);
        sheet.open();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        sheet.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&sheet));
        QUILLET_VERIFY_ALL_NAMED(sheet);
        const auto name
            = [](QWidget* widget) { return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name); };
        QCOMPARE(name(sheet.nameField()), QStringLiteral("Folder name"));
        QCOMPARE(name(sheet.descriptionField()), QStringLiteral("Description"));
        QCOMPARE(name(sheet.iconPicker()), QStringLiteral("Icon"));

        QPlainTextEdit* description = sheet.descriptionField();
        description->setFocus(Qt::TabFocusReason);
        const int twoLines = description->height();
        QTest::keyClicks(description, QStringLiteral("one"));
        QCOMPARE(description->height(), twoLines);
        QTest::keyClick(description, Qt::Key_Return);
        QTest::keyClicks(description, QStringLiteral("two"));
        QTest::keyClick(description, Qt::Key_Return);
        QTest::keyClicks(description, QStringLiteral("three"));
        QTRY_VERIFY(description->height() > twoLines);
        const int threeLines = description->height();
        QTest::keyClick(description, Qt::Key_Return);
        QTest::keyClicks(description, QStringLiteral("four"));
        QTRY_VERIFY(description->height() > threeLines);
        const int fourLines = description->height();
        QCOMPARE(description->verticalScrollBar()->maximum(), 0);
        QTest::keyClick(description, Qt::Key_Return);
        QTest::keyClicks(description, QStringLiteral("five"));
        QCoreApplication::processEvents();
        QCOMPARE(description->height(), fourLines);
        QVERIFY(description->verticalScrollBar()->maximum() > 0);

        sheet.nameField()->setText(QStringLiteral("Work"));
        QPushButton* create = sheet.createButton();
        const auto looks = [&] { return create->grab().toImage(); };
        PaintCounter paints(*create);
        sheet.cancelButton()->setFocus(Qt::TabFocusReason);
        QVERIFY(sheet.cancelButton()->hasFocus());
        // Drawn again as the focus moves, not only when something else asks.
        QTRY_VERIFY(paints.count > 0);
        const QImage withCancelFocused = looks();
        create->setDefault(false);
        const QImage plain = looks();
        create->setDefault(true);
        QCOMPARE(withCancelFocused, plain);
        // Away from the buttons, Create shows again that Enter presses it.
        sheet.nameField()->setFocus(Qt::TabFocusReason);
        QVERIFY(looks() != plain);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }

    void createTrimsAndFilesTheMeeting()
    {
        Fixture f;
        QWidget window;
        window.show();
        NewFolderSheet sheet(f.store.context(), f.meeting, &window);
        sheet.open();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QCOMPARE(sheet.windowModality(), Qt::WindowModal);
        QCOMPARE(sheet.icon(), QStringLiteral("folder"));

        QMenu* symbols = sheet.iconPicker()->menu();
        QStringList offered;
        QStringList names;
        for (const QAction* action : symbols->actions()) {
            offered.append(action->data().toString());
            names.append(action->text());
            QVERIFY(!action->isCheckable());
        }
        QCOMPARE(offered, NewFolderSheet::iconChoices());
        // Each symbol is offered by a name a reader knows, never by its identifier.
        QCOMPARE(names.mid(0, 5),
            QStringList({ QStringLiteral("Folder"), QStringLiteral("Tray"), QStringLiteral("Briefcase"),
                QStringLiteral("Graduation cap"), QStringLiteral("People") }));
        for (const QString& name : names)
            QVERIFY2(!name.contains(QLatin1Char('.')) && name.at(0).isUpper(), qPrintable(name));
        find(*symbols, QStringLiteral("Briefcase"))->trigger();

        sheet.nameField()->setText(QStringLiteral("  Team  "));
        sheet.descriptionField()->setPlainText(QStringLiteral("  Hiring and onboarding\n"));
        QTest::keyClick(sheet.nameField(), Qt::Key_Return);
        QVERIFY(!sheet.isVisible());
        QCOMPARE(sheet.result(), int(QDialog::Accepted));

        ModelContext& reopened = f.reopen();
        QCOMPARE(reopened.fetchFolders().size(), 1);
        const Folder* folder = reopened.fetchFolders().first();
        QCOMPARE(folder->name(), QStringLiteral("Team"));
        QCOMPARE(folder->icon(), QStringLiteral("briefcase"));
        QCOMPARE(folder->detail(), QStringLiteral("Hiring and onboarding"));
        QCOMPARE(folder->meetings().size(), 1);

        // Each opening starts afresh.
        sheet.open();
        QCOMPARE(sheet.nameField()->text(), QString());
        QCOMPARE(sheet.descriptionField()->toPlainText(), QString());
        QCOMPARE(sheet.icon(), QStringLiteral("folder"));
    }

    void withoutAMeetingOnlyCreates()
    {
        Fixture f;
        NewFolderSheet sheet(f.store.context(), nullptr);
        sheet.open();
        sheet.nameField()->setText(QStringLiteral("Ideas"));
        sheet.createButton()->click();
        QCOMPARE(f.store->fetchFolders().size(), 1);
        QVERIFY(!f.meeting->folder());
        f.commit();
        QVERIFY(!f.store->hasChanges());
    }

    void cancelAndEscapeChangeNothing_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Cancel") << false;
        QTest::newRow("Escape") << true;
    }

    void cancelAndEscapeChangeNothing()
    {
        QFETCH(bool, escape);
        Fixture f;
        QWidget window;
        window.show();
        NewFolderSheet sheet(f.store.context(), f.meeting, &window);
        sheet.open();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        sheet.nameField()->setText(QStringLiteral("Team"));
        if (escape)
            QTest::keyClick(sheet.nameField(), Qt::Key_Escape);
        else
            sheet.cancelButton()->click();
        QVERIFY(!sheet.isVisible());
        QVERIFY(f.store->fetchFolders().isEmpty());
        QVERIFY(!f.store->hasChanges());
    }

    void meetingDeletedWhileTheSheetIsOpen()
    {
        Fixture f;
        NewFolderSheet sheet(f.store.context(), f.meeting);
        sheet.open();
        f.store->remove(f.meeting);
        f.store->save();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        sheet.nameField()->setText(QStringLiteral("Team"));
        sheet.createButton()->click();
        QCOMPARE(f.reopen().fetchFolders().size(), 1);
        QVERIFY(f.store->fetchFolders().first()->meetings().isEmpty());
    }
};

QUILLET_WIDGET_TEST_MAIN(TestMeetingMenu)
#include "TestMeetingMenu.moc"
