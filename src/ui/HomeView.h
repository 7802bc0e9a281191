#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

class AppServices;
class Folder;
class Meeting;
class QListView;

// The home page, or one folder's page: the meetings, newest first. A double click opens one;
// the context menu opens, records into or deletes it. The main window handles each request.
class HomeView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HomeView)

public:
    using MeetingAction = std::function<void(Meeting*)>;

    // folder: null for all meetings. onRecord and onNewFolder may be given no meeting (a new
    // recording, a folder to file nothing in).
    HomeView(AppServices& services, Folder* folder, MeetingAction onOpen, MeetingAction onRecord,
        MeetingAction onNewFolder, MeetingAction onDelete, QWidget* parent = nullptr);

    Folder* folder() const { return m_folder; }

private:
    Meeting* meetingAt(const QPoint& position) const;
    void showContextMenu(const QPoint& position);

    QPointer<Folder> m_folder;
    MeetingAction m_onOpen;
    MeetingAction m_onRecord;
    MeetingAction m_onNewFolder;
    MeetingAction m_onDelete;
    QListView* m_list;
};
