#pragma once

#include "ui/SidebarItem.h"

#include <QWidget>
#include <functional>

class AppServices;
class QListView;
class QConcatenateTablesProxyModel;

// The sidebar: "Home", then every meeting, newest first ("Untitled" when it has no title). It
// shows the main window's selection and reports the user's choice; its context menu deletes a
// meeting through onDelete, which the main window handles.
class MeetingListView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingListView)

public:
    using MeetingAction = std::function<void(Meeting*)>;

    // onNewFolder: a new folder, to file the meeting in when one is given. onDelete: delete it.
    MeetingListView(
        AppServices& services, MeetingAction onNewFolder, MeetingAction onDelete, QWidget* parent = nullptr);

    SidebarItem selection() const { return m_selection; }
    // Shows the item as chosen; emits nothing.
    void setSelection(const SidebarItem& item);

signals:
    // The user chose a row.
    void selectionChanged(const SidebarItem& item);

private:
    SidebarItem itemAt(int row) const;
    void showContextMenu(const QPoint& position);

    MeetingAction m_onNewFolder;
    MeetingAction m_onDelete;
    SidebarItem m_selection;
    QConcatenateTablesProxyModel* m_rows;
    QListView* m_list;
};
