#include "ui/design/AccessibleMenus.h"

#include <QAccessibleObject>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStyle>
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

// The menu an entry opens a submenu from. A menu bar's entries are left to Qt: the bar also
// keeps them in its overflow menu, hidden, once the window was too narrow for them.
QMenu* menuHolding(QAction* action)
{
    QMenu* holding = nullptr;
    for (QObject* holder : action->associatedObjects()) {
        if (qobject_cast<QMenuBar*>(holder))
            return nullptr;
        if (auto* menu = qobject_cast<QMenu*>(holder); menu && !holding && menu->actions().contains(action))
            holding = menu;
    }
    return holding;
}

// "&&" shows one "&"; a lone "&" marks the shortcut letter and is not read.
QString withoutMnemonic(const QString& text)
{
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && ++i == text.size())
            break;
        plain.append(text.at(i));
    }
    return plain;
}

// An entry that opens a submenu. Qt's own entry reads as a plain menu item, so a screen reader
// said "Add to Folder" with no word that Right opens more; this one is expandable, expanded
// while its submenu shows, and holds the submenu as its child as Qt's does.
class SubmenuEntry final : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    SubmenuEntry(QMenu* owner, QAction* action)
        : m_owner(owner)
        , m_action(action)
    { }

    bool isValid() const override { return m_owner && m_action && m_action->menu(); }
    QObject* object() const override { return m_action; }
    QWindow* window() const override { return m_owner ? m_owner->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_owner); }
    int childCount() const override { return isValid() ? 1 : 0; }

    QAccessibleInterface* child(int index) const override
    {
        return index == 0 && isValid() ? QAccessible::queryAccessibleInterface(m_action->menu()) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && isValid() && child->object() == m_action->menu() ? 0 : -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        QAccessibleInterface* submenu = child(0);
        return submenu && !submenu->state().invisible && submenu->rect().contains(x, y) ? submenu : nullptr;
    }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect place = m_owner->actionGeometry(m_action);
        return place.translated(m_owner->mapToGlobal(QPoint(0, 0)));
    }

    QAccessible::Role role() const override { return QAccessible::MenuItem; }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid())
            return state;
        state.invisible = !m_owner->isVisible() || !m_action->isVisible();
        state.focused = m_owner->activeAction() == m_action;
        state.hotTracked = m_owner->style()->styleHint(QStyle::SH_Menu_MouseTracking, nullptr, m_owner);
        state.disabled = !m_action->isEnabled();
        state.hasPopup = true;
        state.expandable = true;
        state.expanded = m_action->menu()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }

    QString text(QAccessible::Text kind) const override
    {
        if (!isValid())
            return {};
        if (kind == QAccessible::Name)
            return withoutMnemonic(m_action->text());
        if (kind == QAccessible::Accelerator) {
            const QKeySequence letter = QKeySequence::mnemonic(m_action->text());
            return letter.isEmpty() ? QString() : letter.toString(QKeySequence::NativeText);
        }
        return {};
    }
    void setText(QAccessible::Text, const QString&) override { }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        return isValid() && m_action->isEnabled() ? QStringList { showMenuAction() } : QStringList();
    }

    void doAction(const QString& name) override
    {
        if (name != showMenuAction() || !isValid() || !m_action->isEnabled())
            return;
        if (m_action->menu()->isVisible())
            m_action->menu()->hide();
        else
            m_owner->setActiveAction(m_action);
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QMenu> m_owner;
    QPointer<QAction> m_action;
};

QAccessibleInterface* submenuEntryFactory(const QString&, QObject* object)
{
    auto* action = qobject_cast<QAction*>(object);
    if (!action || !action->menu())
        return nullptr;
    QMenu* owner = menuHolding(action);
    return owner ? new SubmenuEntry(owner, action) : nullptr;
}

// When a submenu closes and its menu stays (Left, Escape), its entry is the focus again, which
// Qt does not tell: a screen reader stayed silent on the way back.
void submenuHidden(QMenu& submenu)
{
    QAction* entry = submenu.menuAction();
    QMenu* owner = entry ? menuHolding(entry) : nullptr;
    if (!owner || !QAccessible::isActive())
        return;
    // After the hiding has run its course: when an entry of the submenu was chosen, every menu
    // closes and nothing is left to tell.
    QTimer::singleShot(0, owner, [owner = QPointer<QMenu>(owner), entry = QPointer<QAction>(entry)] {
        if (!owner || !entry || !owner->isVisible() || owner->activeAction() != entry || !entry->menu()
            || entry->menu()->isVisible())
            return;
        QAccessibleEvent focus(owner, QAccessible::Focus);
        focus.setChild(int(owner->actions().indexOf(entry)));
        QAccessible::updateAccessibility(&focus);
    });
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
        case QEvent::Hide:
        case QEvent::Show: {
            auto* menu = qobject_cast<QMenu*>(watched);
            if (!menu)
                break;
            if (event->type() == QEvent::Hide)
                submenuHidden(*menu);
            else if (m_byKey && !menu->activeAction())
                // Once shown (an entry made active before is dropped by the showing), as the first
                // Down would: setActiveAction() would also open the entry's submenu.
                QTimer::singleShot(0, menu, [menu] {
                    if (!menu->isVisible() || menu->activeAction())
                        return;
                    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
                    QCoreApplication::sendEvent(menu, &down);
                });
            break;
        }
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
        QAccessible::installFactory(&submenuEntryFactory);
        // An interface of the application made before would go on without the menus.
        if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(qApp);
            made && !dynamic_cast<ApplicationInterface*>(made))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
        qApp->installEventFilter(new KeyboardMenus(qApp));
        return true;
    }();
    Q_UNUSED(installed);
}
