#include "ui/home/MeetingMenu.h"

#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "ui/design/AccessibleMenus.h"
#include "ui/design/Quillet.h"
#include "ui/design/Symbols.h"

#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

namespace {

const char* const kDestructive = "quilletDestructive";

QString translate(const char* text)
{
    return QCoreApplication::translate("MeetingMenu", text);
}

// Menus draw every entry in one text colour; this style gives destructive entries the accent.
class DestructiveMenuStyle final : public QProxyStyle
{
public:
    DestructiveMenuStyle()
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
    { }

    void drawControl(
        ControlElement element, const QStyleOption* option, QPainter* painter, const QWidget* widget) const override
    {
        const auto* menu = qobject_cast<const QMenu*>(widget);
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element == CE_MenuItem && menu && item) {
            const QAction* action = menu->actionAt(item->rect.center());
            if (action && isDestructive(*action) && !(item->state & State_Selected)) {
                QStyleOptionMenuItem accented(*item);
                for (const auto role : { QPalette::Text, QPalette::WindowText, QPalette::ButtonText })
                    accented.palette.setColor(QPalette::Active, role, Quillet::accent());
                for (const auto role : { QPalette::Text, QPalette::WindowText, QPalette::ButtonText })
                    accented.palette.setColor(QPalette::Inactive, role, Quillet::accent());
                QProxyStyle::drawControl(element, &accented, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

QStyle* destructiveMenuStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = new DestructiveMenuStyle;
        style->setParent(qApp);
    }
    return style;
}

} // namespace

bool isInStore(const Meeting* meeting, ModelContext& context)
{
    return meeting && context.meetingById(meeting->id()) == meeting;
}

bool isInStore(const Folder* folder, ModelContext& context)
{
    return folder && context.fetchFolders().contains(folder);
}

void markDestructive(QMenu& menu, QAction& action)
{
    action.setProperty(kDestructive, true);
    menu.setStyle(destructiveMenuStyle());
}

bool isDestructive(const QAction& action)
{
    return action.property(kDestructive).toBool();
}

QMenu* meetingContextMenu(Meeting* meeting, const QList<Folder*>& folders, ModelContext& context,
    const MeetingAction& onNewFolder, const MeetingAction& onDelete, QWidget* parent)
{
    AccessibleMenus::install();
    auto* menu = new QMenu(parent);
    const QPointer<Meeting> target = meeting;
    ModelContext* store = &context;

    QMenu* addTo = menu->addMenu(Symbols::icon(QStringLiteral("folder")), translate("Add to Folder"));
    const QUuid currentFolder = meeting && meeting->folder() ? meeting->folder()->id() : QUuid();
    for (Folder* folder : folders) {
        // A menu reads "&" as the mark of a shortcut letter; a name shows it as typed.
        QString name = folder->name().isEmpty() ? translate("Untitled") : folder->name();
        QAction* entry = addTo->addAction(name.replace(QLatin1Char('&'), QStringLiteral("&&")));
        if (!currentFolder.isNull() && folder->id() == currentFolder)
            entry->setIcon(Symbols::icon(QStringLiteral("checkmark")));
        QObject::connect(entry, &QAction::triggered, menu, [target, folder = QPointer<Folder>(folder), store] {
            if (!isInStore(target, *store) || !isInStore(folder, *store))
                return;
            target->setFolder(folder);
        });
    }
    if (!folders.isEmpty())
        addTo->addSeparator();
    QAction* newFolder = addTo->addAction(translate("New Folder\u2026"));
    QObject::connect(newFolder, &QAction::triggered, menu, [target, store, onNewFolder] {
        if (isInStore(target, *store) && onNewFolder)
            onNewFolder(target);
    });

    if (meeting && meeting->folder()) {
        QAction* remove = menu->addAction(translate("Remove from Folder"));
        QObject::connect(remove, &QAction::triggered, menu, [target, store] {
            if (!isInStore(target, *store))
                return;
            target->setFolder(nullptr);
        });
    }
    menu->addSeparator();
    QAction* remove = menu->addAction(translate("Delete"));
    markDestructive(*menu, *remove);
    QObject::connect(remove, &QAction::triggered, menu, [target, store, onDelete] {
        if (isInStore(target, *store) && onDelete)
            onDelete(target);
    });
    return menu;
}
