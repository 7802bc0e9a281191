#pragma once

#include <QList>
#include <functional>

class Folder;
class Meeting;
class ModelContext;
class QAction;
class QMenu;
class QWidget;

// Asks the main window to do something with a meeting (open, record, delete, or show the
// new-folder sheet for it); the meeting may be null where the action allows none.
using MeetingAction = std::function<void(Meeting*)>;

// The one menu of a meeting, the same on the home page's cards ("⋯" and right-click) and the
// sidebar's rows: "Add to Folder" (the folders in the order given, the meeting's own checked,
// then "New Folder…"), "Remove from Folder" for a filed meeting, and "Delete", which only
// calls onDelete. Filing changes the meeting at once; the store commits it.
//
// The menu holds the meeting and the folders weakly: when one is gone, or taken out of the
// store, by the time an entry is chosen, the entry does nothing. The caller owns the menu
// (parent), typically shown with popup() and deleted on close.
QMenu* meetingContextMenu(Meeting* meeting, const QList<Folder*>& folders, ModelContext& context,
    const MeetingAction& onNewFolder, const MeetingAction& onDelete, QWidget* parent = nullptr);

// Whether a record is still in the store: not destroyed, and not taken out by a removal that
// is not saved yet. What a menu or a sheet holds across event-loop turns is checked with it.
bool isInStore(const Meeting* meeting, ModelContext& context);
bool isInStore(const Folder* folder, ModelContext& context);

// Draws an entry of a menu as a destructive action: its text in the accent colour.
void markDestructive(QMenu& menu, QAction& action);
bool isDestructive(const QAction& action);
