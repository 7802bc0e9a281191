// The exerciser's library steps (the home page's cards, the sidebar's rows, their menus, the
// search and the dialogs they open) and its check of the window against the store.

#include "WindowExerciser.h"
#include "library/MeetingSearchIndex.h"
#include "library/SidebarSections.h"
#include "recording/TranscriptionSession.h"
#include "shell/AppDelegate.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"
#include "support/AccessibleNames.h"
#include "support/AppRig.h"
#include "ui/design/ReadingColumn.h"
#include "ui/home/HomeView.h"
#include "ui/home/MeetingCardList.h"
#include "ui/home/NewFolderSheet.h"
#include "ui/settings/SettingsView.h"
#include "ui/sidebar/MeetingListView.h"
#include "ui/window/MainWindow.h"
#include "ui/workspace/MeetingPage.h"

#include <QApplication>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <algorithm>

namespace {

using RowKind = SidebarSections::RowKind;

RowKind kindOf(const QModelIndex& index)
{
    return index.data(SidebarSections::KindRole).value<RowKind>();
}

QObject* recordOf(const QModelIndex& index)
{
    return index.data(SidebarSections::RecordRole).value<QObject*>();
}

// The search as the sidebar promises it: a meeting whose title, notes or transcript holds the
// text, in any case.
bool matchesSearch(const Meeting& meeting, const QString& text)
{
    const QString query = text.toLower();
    if (meeting.title().toLower().contains(query) || meeting.userNotes().toLower().contains(query))
        return true;
    for (const TranscriptSegment* segment : meeting.segments()) {
        if (segment->text().toLower().contains(query))
            return true;
    }
    return false;
}

QString described(const QObject* record)
{
    if (const auto* meeting = qobject_cast<const Meeting*>(record))
        return QStringLiteral("the meeting \u201C%1\u201D").arg(meeting->title());
    if (const auto* folder = qobject_cast<const Folder*>(record))
        return QStringLiteral("the folder \u201C%1\u201D").arg(folder->name());
    return QStringLiteral("a date heading");
}

} // namespace

// --- Dialogs -----------------------------------------------------------------------------------

bool WindowExerciser::answerDialog(StepRandom& random)
{
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog)
        return false;
    if (random.chance(8)) {
        say(QStringLiteral("presses Escape in the dialog \u201C%1\u201D").arg(dialog->windowTitle()));
        QTest::keyClick(dialog, Qt::Key_Escape);
        return true;
    }
    if (auto* sheet = qobject_cast<NewFolderSheet*>(dialog)) {
        if (random.chance(20)) {
            say(QStringLiteral("cancels the new folder"));
            click(sheet->cancelButton());
            return true;
        }
        const QString name = words(random, 1 + random.below(2));
        say(QStringLiteral("names the new folder \u201C%1\u201D and creates it").arg(name));
        const QPointer<NewFolderSheet> guard(sheet);
        typeInto(sheet->nameField(), name);
        if (guard)
            click(sheet->createButton()->isEnabled() ? sheet->createButton() : sheet->cancelButton());
        return true;
    }
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
        const QList<QAbstractButton*> buttons = box->buttons();
        if (buttons.isEmpty())
            return false;
        QAbstractButton* button = random.pick(buttons);
        say(QStringLiteral("answers \u201C%1\u201D with \u201C%2\u201D")
                .arg(box->text().section(QLatin1Char('\n'), 0, 0), button->text()));
        click(button);
        return true;
    }
    // The folder's rename dialog.
    QLineEdit* field = dialog->findChild<QLineEdit*>();
    QList<QPushButton*> buttons;
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (reachable(button))
            buttons << button;
    }
    if (field && reachable(field) && random.chance(70)) {
        const QString name = random.chance(10) ? QString() : words(random, 1 + random.below(2));
        say(QStringLiteral("types \u201C%1\u201D into \u201C%2\u201D").arg(name, dialog->windowTitle()));
        click(field);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        typeText(field, name);
        if (name.isEmpty())
            QTest::keyClick(field, Qt::Key_Backspace);
    }
    if (buttons.isEmpty())
        return true;
    QPushButton* button = random.pick(buttons);
    say(QStringLiteral("presses \u201C%1\u201D in \u201C%2\u201D").arg(button->text(), dialog->windowTitle()));
    click(button);
    return true;
}

// --- The home page ---------------------------------------------------------------------------

bool WindowExerciser::openCard(StepRandom& random)
{
    auto* home = qobject_cast<HomeView*>(page());
    if (!home || !reachable(home) || !home->meetingList()->isVisible())
        return false;
    MeetingCardList* cards = home->meetingList();
    const QList<Meeting*> shown = cards->meetingsShown();
    if (shown.isEmpty())
        return false;
    Meeting* meeting = random.pick(shown);
    if (!store().contains(meeting))
        return false; // the check after the last step says so
    const QRect card = cards->cardRect(meeting);
    home->scrollArea()->ensureVisible(cards->mapTo(home->scrollArea()->widget(), card.center()).x(),
        cards->mapTo(home->scrollArea()->widget(), card.center()).y());
    const int kind = random.below(10);
    if (kind < 5) {
        say(QStringLiteral("opens the card of %1").arg(described(meeting)));
        click(cards, QPoint(card.left() + 24, card.center().y()));
        return true;
    }
    say(QStringLiteral("%1 the card of %2")
            .arg(kind < 8 ? QStringLiteral("presses \u201C\u22EF\u201D on") : QStringLiteral("right-clicks"),
                described(meeting)));
    if (kind < 8)
        click(cards, cards->actionsRect(meeting).center());
    else
        contextClick(cards, QPoint(card.left() + 24, card.center().y()));
    return chooseFromMenu(
        qobject_cast<QMenu*>(QApplication::activePopupWidget()), random, QStringLiteral("the card's menu"));
}

// --- The sidebar -------------------------------------------------------------------------------

namespace {

// The rows of those kinds, as indexes of the list's model.
QList<QModelIndex> rowsOf(QListView* list, std::initializer_list<RowKind> kinds)
{
    QList<QModelIndex> rows;
    QAbstractItemModel* model = list->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        if (std::find(kinds.begin(), kinds.end(), kindOf(index)) != kinds.end())
            rows << index;
    }
    return rows;
}

} // namespace

bool WindowExerciser::clickSidebarRow(StepRandom& random)
{
    QListView* list = content().sidebar()->list();
    if (!reachable(list))
        return false;
    const QList<QModelIndex> rows
        = rowsOf(list, { RowKind::home, RowKind::folder, RowKind::meeting, RowKind::meeting, RowKind::dateHeading });
    if (rows.isEmpty())
        return false;
    if (random.chance(20)) {
        // The keyboard's way through the list.
        const QList<std::pair<Qt::Key, const char*>> keys { { Qt::Key_Up, "Up" }, { Qt::Key_Down, "Down" },
            { Qt::Key_Home, "Home" }, { Qt::Key_End, "End" }, { Qt::Key_PageDown, "Page Down" } };
        const auto& [key, name] = random.pick(keys);
        say(QStringLiteral("presses %1 in the sidebar's list").arg(QLatin1String(name)));
        list->setFocus(Qt::TabFocusReason);
        QTest::keyClick(list, key);
        return true;
    }
    const QModelIndex row = random.pick(rows);
    list->scrollTo(row);
    say(QStringLiteral("clicks %1 in the sidebar")
            .arg(kindOf(row) == RowKind::home ? QStringLiteral("\u201CHome\u201D") : described(recordOf(row))));
    click(list->viewport(), list->visualRect(row).center());
    return true;
}

bool WindowExerciser::sidebarMenu(StepRandom& random)
{
    QListView* list = content().sidebar()->list();
    if (!reachable(list))
        return false;
    const QList<QModelIndex> rows = rowsOf(list, { RowKind::folder, RowKind::meeting });
    if (rows.isEmpty())
        return false;
    const QModelIndex row = random.pick(rows);
    list->scrollTo(row);
    say(QStringLiteral("right-clicks %1 in the sidebar").arg(described(recordOf(row))));
    contextClick(list->viewport(), list->visualRect(row).center());
    return chooseFromMenu(
        qobject_cast<QMenu*>(QApplication::activePopupWidget()), random, QStringLiteral("the row's menu"));
}

bool WindowExerciser::deleteWithKey(StepRandom& random)
{
    QListView* list = content().sidebar()->list();
    if (!reachable(list))
        return false;
    const QList<QModelIndex> rows = rowsOf(list, { RowKind::meeting });
    if (rows.isEmpty())
        return false;
    const QModelIndex row = random.pick(rows);
    list->scrollTo(row);
    say(QStringLiteral("selects %1 in the sidebar and presses Delete").arg(described(recordOf(row))));
    click(list->viewport(), list->visualRect(row).center());
    QTest::keyClick(list, Qt::Key_Delete);
    return true;
}

bool WindowExerciser::newFolderRow(StepRandom&)
{
    QListView* list = content().sidebar()->list();
    if (!reachable(list))
        return false;
    const QList<QModelIndex> rows = rowsOf(list, { RowKind::newFolder });
    if (rows.isEmpty())
        return false;
    list->scrollTo(rows.first());
    say(QStringLiteral("clicks \u201CNew Folder\u201D"));
    click(list->viewport(), list->visualRect(rows.first()).center());
    return true;
}

bool WindowExerciser::search(StepRandom& random)
{
    QLineEdit* field = content().sidebar()->searchField();
    if (!reachable(field))
        return false;
    const int kind = random.below(10);
    if (kind < 2 || (!field->text().isEmpty() && kind < 5)) {
        say(QStringLiteral("clears the search"));
        click(field);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Backspace);
        return true;
    }
    // Part of a word, as a person types it before the results are in.
    QString text = words(random, 1);
    if (random.chance(40))
        text = text.left(1 + random.below(text.size()));
    say(QStringLiteral("searches for \u201C%1\u201D").arg(text));
    click(field);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    typeText(field, text);
    return true;
}

// --- The check ---------------------------------------------------------------------------------

QStringList WindowExerciser::inconsistencies()
{
    QStringList wrong;
    ModelContext& store = this->store();
    const QList<Meeting*> meetings = store.fetchMeetings();
    const QList<Folder*> folders = store.fetchFolders();
    const SidebarItem selection = content().selection();
    QWidget* shown = page();
    auto* home = qobject_cast<HomeView*>(shown);

    // The page is the selection's, and its record is in the store.
    switch (selection.kind()) {
    case SidebarItem::Kind::home:
        if (!home || home->folder())
            wrong << QStringLiteral("home is selected, and the page is not the dashboard");
        break;
    case SidebarItem::Kind::folder:
        if (!selection.folder() || !folders.contains(selection.folder()))
            wrong << QStringLiteral("the selected folder is not in the store");
        else if (!home || home->folder() != selection.folder())
            wrong << QStringLiteral("a folder is selected, and the page is not its page");
        break;
    case SidebarItem::Kind::meeting: {
        auto* detail = qobject_cast<MeetingPage*>(shown);
        if (!selection.meeting() || !store.contains(selection.meeting())) {
            wrong << QStringLiteral("the selected meeting is not in the store");
        } else if (!detail || detail->meeting() != selection.meeting()) {
            wrong << QStringLiteral("a meeting is selected, and the page is not its page");
        } else {
            // What the page shows of the notes and the title is what the meeting holds.
            const Meeting& meeting = *selection.meeting();
            for (auto* notes : detail->findChildren<QTextEdit*>(QStringLiteral("notesEditor"))) {
                if (!notes->isHidden() && notes->toPlainText() != meeting.userNotes())
                    wrong << QStringLiteral("the notes show \u201C%1\u201D where the meeting holds \u201C%2\u201D")
                                 .arg(notes->toPlainText(), meeting.userNotes());
            }
            for (auto* title : detail->findChildren<QTextEdit*>(QStringLiteral("titleField"))) {
                if (!title->isHidden() && title->toPlainText() != meeting.title())
                    wrong << QStringLiteral("the title shows \u201C%1\u201D where the meeting holds \u201C%2\u201D")
                                 .arg(title->toPlainText(), meeting.title());
            }
        }
        break;
    }
    case SidebarItem::Kind::settings:
        if (!qobject_cast<SettingsView*>(shown))
            wrong << QStringLiteral("settings are selected, and the page is not the settings page");
        break;
    }

    // The cards are the store's meetings (of the folder), none more, none less.
    if (home) {
        const QList<Meeting*> cards = home->meetingList()->meetingsShown();
        QSet<Meeting*> expected;
        for (Meeting* meeting : meetings) {
            if (!home->folder() || meeting->folder() == home->folder())
                expected.insert(meeting);
        }
        for (Meeting* card : cards) {
            if (!store.contains(card))
                wrong << QStringLiteral("the home page shows a card of a meeting that is not in the store");
        }
        if (QSet<Meeting*>(cards.begin(), cards.end()) != expected || cards.size() != expected.size())
            wrong << QStringLiteral("the home page shows %1 cards for %2 meetings")
                         .arg(cards.size())
                         .arg(expected.size());
    }

    // The sidebar lists exactly the store's folders, and its meetings under the search.
    MeetingListView* sidebar = content().sidebar();
    QAbstractItemModel* rows = sidebar->list()->model();
    QSet<QObject*> listedMeetings;
    QSet<QObject*> listedFolders;
    for (int row = 0; row < rows->rowCount(); ++row) {
        const QModelIndex index = rows->index(row, 0);
        QObject* record = recordOf(index);
        if (kindOf(index) == RowKind::meeting) {
            if (!store.contains(static_cast<Meeting*>(record)))
                wrong << QStringLiteral("the sidebar lists a meeting that is not in the store");
            listedMeetings.insert(record);
        } else if (kindOf(index) == RowKind::folder) {
            if (!folders.contains(static_cast<Folder*>(record)))
                wrong << QStringLiteral("the sidebar lists a folder that is not in the store");
            listedFolders.insert(record);
        }
    }
    if (listedFolders != QSet<QObject*>(folders.begin(), folders.end()))
        wrong << QStringLiteral("the sidebar lists %1 folders for the store's %2")
                     .arg(listedFolders.size())
                     .arg(folders.size());
    const QString query = sidebar->searchField()->text();
    // Until the search copy is ready a search keeps nothing.
    if (query.isEmpty() || sidebar->searchIndex().isReady()) {
        QSet<QObject*> expected;
        for (Meeting* meeting : meetings) {
            if (query.isEmpty() || matchesSearch(*meeting, query))
                expected.insert(meeting);
        }
        if (listedMeetings != expected)
            wrong << QStringLiteral(
                "the sidebar lists %1 meetings where the store has %2 under the search \u201C%3\u201D")
                         .arg(listedMeetings.size())
                         .arg(expected.size())
                         .arg(query);
    }

    // A recording runs into a meeting of the store.
    TranscriptionSession& session = this->session();
    if (session.isRecording() && (!session.meeting() || !store.contains(session.meeting())))
        wrong << QStringLiteral("a recording runs into a meeting that is not in the store");

    // Whatever the keyboard can reach, a screen reader can name.
    for (const QString& control : AccessibleNames::unnamedFocusableInShownWindows())
        wrong << QStringLiteral("a focusable control has no name: ") + control;
    return wrong;
}
