#pragma once

#include "app/HomeServices.h"
#include "storage/Folder.h"
#include "ui/home/MeetingMenu.h"

#include <QMenu>
#include <QPointer>
#include <QUuid>
#include <QWidget>

class ComingUpPanel;
class FolderHeader;
class FolderListModel;
class MeetingCardList;
class MeetingListModel;
class ReadingColumn;
class ToneLabel;

// The main window's page for the home selection and for a folder. Without a folder it is the
// dashboard: the coming week's calendar meetings above every stored meeting as cards grouped
// by date. With a folder it is that folder's page: its header, then its meetings grouped the
// same way. One scroll view holds it all; the page follows the store live.
class HomeView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HomeView)

public:
    using MeetingAction = ::MeetingAction;

    // folder: null for the dashboard. The actions are the main window's: open a meeting,
    // record into one (its start-recording operation), show the new-folder sheet for one (or
    // for none), delete one (asking nothing).
    HomeView(Folder* folder, const HomeServices& services, MeetingAction onOpen, MeetingAction onRecord,
        MeetingAction onNewFolder, MeetingAction onDelete, QWidget* parent = nullptr);
    ~HomeView() override;

    Folder* folder() const { return m_folder; }

    // The parts of the page (null where the page has none).
    ComingUpPanel* comingUp() const { return m_comingUp; }
    FolderHeader* folderHeader() const { return m_header; }
    MeetingCardList* meetingList() const { return m_list; }
    ReadingColumn* scrollArea() const { return m_scroll; }
    bool showsHeading() const;
    bool showsEmptyState() const;
    QString emptyText() const;
    // The meeting menu while one is open.
    QMenu* openMenu() const { return m_menu; }

    // Opens the meeting menu of a meeting at a global position, as "⋯" and a right-click do.
    void showMenu(Meeting* meeting, const QPoint& globalPosition);

private:
    void openFromPanel(Meeting* meeting, bool record);
    void emptyChanged(bool empty);

    QPointer<Folder> m_folder;
    HomeServices m_services;
    MeetingAction m_onOpen;
    MeetingAction m_onRecord;
    MeetingAction m_onNewFolder;
    MeetingAction m_onDelete;

    MeetingListModel* m_meetings;
    FolderListModel* m_folders;
    ReadingColumn* m_scroll;
    ComingUpPanel* m_comingUp = nullptr;
    FolderHeader* m_header = nullptr;
    ToneLabel* m_heading = nullptr;
    MeetingCardList* m_list;
    QWidget* m_empty;
    ToneLabel* m_emptyText;
    QPointer<QMenu> m_menu;
};
