#include "ui/design/AccessibleMenus.h"

#include <QAccessibleObject>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

namespace {

bool isSubmenu(const QMenu& menu)
{
    const QAction* action = menu.menuAction();
    if (!action)
        return false;
    for (const QObject* holder : action->associatedObjects())
        if (qobject_cast<const QMenu*>(holder) || qobject_cast<const QMenuBar*>(holder))
            return true;
    return false;
}

QList<QMenu*> openMenus()
{
    QList<QMenu*> menus;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* menu = qobject_cast<QMenu*>(window); menu && menu->isVisible() && !isSubmenu(*menu))
            menus.append(menu);
    return menus;
}

// The application, with its open menus after its windows.
class ApplicationInterface final : public QAccessibleApplication
{
public:
    int childCount() const override { return QAccessibleApplication::childCount() + int(openMenus().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const int windows = QAccessibleApplication::childCount();
        if (index < windows)
            return QAccessibleApplication::child(index);
        const QList<QMenu*> menus = openMenus();
        index -= windows;
        return index < menus.size() ? QAccessible::queryAccessibleInterface(menus.at(index)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (auto* menu = child ? qobject_cast<QMenu*>(child->object()) : nullptr) {
            const qsizetype index = openMenus().indexOf(menu);
            return index < 0 ? -1 : QAccessibleApplication::childCount() + int(index);
        }
        return QAccessibleApplication::indexOfChild(child);
    }
};

QAccessibleInterface* applicationFactory(const QString&, QObject* object)
{
    return object && object == qApp ? new ApplicationInterface : nullptr;
}

// Follows whether the last thing the person did was a key or the mouse, and starts a menu that
// a key opened on its first entry.
class KeyboardMenus final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
            m_byKey = true;
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::TouchBegin:
            m_byKey = false;
            break;
        case QEvent::Show:
            if (auto* menu = qobject_cast<QMenu*>(watched); menu && m_byKey && !menu->activeAction())
                // Once shown (an entry made active before is dropped by the showing), as the first
                // Down would: setActiveAction() would also open the entry's submenu.
                QTimer::singleShot(0, menu, [menu] {
                    if (!menu->isVisible() || menu->activeAction())
                        return;
                    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
                    QCoreApplication::sendEvent(menu, &down);
                });
            break;
        default:
            break;
        }
        return false;
    }

private:
    bool m_byKey = false;
};

} // namespace

void AccessibleMenus::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(&applicationFactory);
        // An interface of the application made before would go on without the menus.
        if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(qApp);
            made && !dynamic_cast<ApplicationInterface*>(made))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
        qApp->installEventFilter(new KeyboardMenus(qApp));
        return true;
    }();
    Q_UNUSED(installed);
}
