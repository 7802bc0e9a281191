#pragma once

#include "library/SidebarSections.h"
#include "ui/design/AccessibleRows.h"
#include "ui/window/SidebarItem.h"

#include <QDialog>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>
#include <functional>
#include <optional>

class AccountService;
class Clock;
class FolderListModel;
class MeetingListModel;
class MeetingSearchFilter;
class MeetingSearchIndex;
class ModelContext;
class Scheduler;
class QLineEdit;
class QListView;
class QMenu;
class SidebarAccountFooter;
class UpdateBanner;
class UpdateChecker;

// The sidebar column: a search field, then one list of "Home", the folders under "Spaces"
// with their meeting counts and "New Folder", and every meeting (or those the search finds)
// in date sections; at its foot, pinned, the update banner and the account chip.
//
// The list shows the application's rows (the store's meetings, then the search filter, then
// the date sections: SidebarSections), painted by one delegate. Laying the rows out anew never
// writes the main window's selection: only a row the user chooses does, and the highlight
// follows whatever the main window selects. A selected meeting hidden by the search stays
// selected. The search runs on the application's lower-cased copy of every transcript
// (MeetingSearchIndex), started when the column is made if it was not yet; a search typed
// before it is ready is answered when it is.
//
// The arrow keys pass over the headings and stop on every other row; the page follows them as
// it follows a click, as in any list whose selection shows the page. "New Folder" is a button,
// not a page: the keyboard stops on it and Enter starts a folder (Enter on any other row opens
// it). While an arrow key is down only the highlight moves (a screen reader hears the row at
// once); the page follows when it is let go. A right click only opens a row's menu. Escape clears the search.
//
// A screen reader reads the rows as a list: the headings as headings, "New Folder" as a button,
// the other rows as its items, the keyboard's row as its focus.
class MeetingListView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingListView)

public:
    using MeetingAction = std::function<void(Meeting*)>;

    using RowKind = SidebarSections::RowKind;
    enum Role {
        KindRole = SidebarSections::KindRole, // RowKind
        CountRole = SidebarSections::CountRole, // a folder's number of meetings
        ItemRole = SidebarSections::LastRole + 1, // SidebarItem, for the rows that can be chosen
    };

    struct Services
    {
        ModelContext& store;
        const Clock& clock;
        UpdateChecker& updater;
        AccountService& account;
        MeetingSearchIndex& search;
        Scheduler& scheduler; // when the page follows the arrow keys
    };

    // onNewFolder: the new-folder sheet, filing the meeting given (none from "New Folder").
    // onDelete: the main window's deletion of a meeting; nothing here asks first.
    MeetingListView(
        const Services& services, MeetingAction onNewFolder, MeetingAction onDelete, QWidget* parent = nullptr);
    ~MeetingListView() override;

    SidebarItem selection() const { return m_selection; }
    // Shows the item as chosen; emits nothing.
    void setSelection(const SidebarItem& item);

    QLineEdit* searchField() const { return m_search; }
    QListView* list() const { return m_list; }
    UpdateBanner* updateBanner() const { return m_updateBanner; }
    SidebarAccountFooter* accountFooter() const { return m_footer; }
    MeetingSearchIndex& searchIndex() { return m_index; }
    // The folder rename dialog while it is open.
    QDialog* renameDialog() const { return m_renameDialog; }

    // The context menu of a row (none for headings); the caller owns it.
    QMenu* contextMenuFor(int row, QWidget* parent);
    void renameFolder(Folder* folder);
    void deleteFolder(Folder* folder);

signals:
    // The user chose a row, or the settings page from the account chip.
    void selectionChanged(const SidebarItem& item);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class Rows;
    class Delegate;

    void measureRows();
    // Says "No meetings match …" once for each search that finds nothing, once its typing ends.
    void tellSearchVerdict();
    // Highlights the selection's row; keepCurrent leaves the keyboard's place where it is.
    void applyHighlight(bool keepCurrent = false);
    void userSelected();
    void choose(const SidebarItem& item);
    void rowClicked(const QModelIndex& index);
    // Enter on the keyboard's row: opens its page, or starts a new folder.
    void activateCurrentRow();
    // Enter on a row, or a screen reader's press: opens it, or starts the new folder.
    void activateRow(const QModelIndex& index);
    void chooseHeldRow();
    void showContextMenu(const QPoint& position);
    void saveRename(const QPointer<Folder>& folder, const QString& text);
    void updatePulse();
    std::optional<AccessibleRows::Row> accessibleRow(int row) const;
    void accessibleAction(int row, const QString& action);

    ModelContext& m_store;
    const Clock& m_clock;
    Scheduler& m_scheduler;
    UpdateChecker& m_updater;
    MeetingAction m_onNewFolder;
    MeetingAction m_onDelete;
    MeetingSearchIndex& m_index;
    MeetingListModel* m_meetings;
    FolderListModel* m_folders;
    MeetingSearchFilter* m_filter;
    SidebarSections* m_sections;
    QString m_toldVerdict;
    Rows* m_rows;
    QLineEdit* m_search;
    QListView* m_list;
    UpdateBanner* m_updateBanner;
    SidebarAccountFooter* m_footer;
    QPointer<QDialog> m_renameDialog;

    SidebarItem m_selection;
    bool m_applying = false;
    bool m_arrowHeld = false;
    std::optional<SidebarItem> m_heldChoice;
    quint64 m_keyPresses = 0;
    int m_meetingRowHeight = 0;
    QVariantAnimation m_pulse;
    qreal m_dotOpacity = 1;
    QList<int> m_recordingRows;
    AccessibleRows m_accessible;
};
