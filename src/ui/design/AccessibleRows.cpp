#include "ui/design/AccessibleRows.h"

#include "ui/design/AccessibleRole.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>
#include <algorithm>

namespace {

QHash<const QObject*, AccessibleRows*>& registry()
{
    static QHash<const QObject*, AccessibleRows*> lists;
    return lists;
}

class RowInterface;

// The button painted on a row: everything it answers is asked of its row.
class RowButtonInterface final : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    explicit RowButtonInterface(RowInterface& row)
        : m_row(&row)
    { }

    void rowGone() { m_row = nullptr; }

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text, const QString&) override { }
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ButtonMenu; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }
    QStringList actionNames() const override { return isValid() ? QStringList { pressAction() } : QStringList(); }
    void doAction(const QString& action) override;
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    RowInterface* m_row;
};

// One row of a list. It holds no record: each answer is asked of the list by index.
class RowInterface final : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    RowInterface(QWidget& list, int index, const void* identity)
        : m_list(&list)
        , m_index(index)
        , m_identity(identity)
    { }
    ~RowInterface() override
    {
        if (auto* button = static_cast<RowButtonInterface*>(QAccessible::accessibleInterface(m_button))) {
            button->rowGone();
            QAccessible::deleteAccessibleInterface(m_button);
        }
    }

    QWidget* list() const { return m_list; }

    bool isValid() const override { return bool(shown()); }
    int index() const { return m_index; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_list ? m_list->window()->windowHandle() : nullptr; }

    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override
    {
        return m_list ? QAccessible::queryAccessibleInterface(m_list.data()) : nullptr;
    }
    QAccessibleInterface* child(int index) const override
    {
        if (index != 0 || childCount() == 0)
            return nullptr;
        if (m_button == 0)
            m_button
                = QAccessible::registerAccessibleInterface(new RowButtonInterface(const_cast<RowInterface&>(*this)));
        return QAccessible::accessibleInterface(m_button);
    }
    int childCount() const override
    {
        const std::optional<AccessibleRows::Row> row = shown();
        return row && row->button ? 1 : 0;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return m_button != 0 && child == QAccessible::accessibleInterface(m_button) && childCount() ? 0 : -1;
    }

    QString text(QAccessible::Text kind) const override
    {
        const std::optional<AccessibleRows::Row> row = shown();
        if (!row)
            return {};
        if (kind == QAccessible::Name)
            return row->name;
        if (kind == QAccessible::Description)
            return row->description;
        return {};
    }
    void setText(QAccessible::Text, const QString&) override { }

    QRect rect() const override
    {
        if (!shown())
            return {};
        const QRect place = AccessibleRows::of(m_list)->rect(m_index);
        return { m_list->mapToGlobal(place.topLeft()), place.size() };
    }

    QAccessible::Role role() const override
    {
        const std::optional<AccessibleRows::Row> row = shown();
        return row ? row->role : QAccessible::NoRole;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        const std::optional<AccessibleRows::Row> row = shown();
        if (!row) {
            state.invalid = true;
            return state;
        }
        const bool readable = AccessibleRows::shownPart(*m_list).intersects(AccessibleRows::of(m_list)->rect(m_index));
        state.invisible = !m_list->isVisible();
        state.offscreen = !readable;
        if (row->role != QAccessible::Heading && row->role != QAccessible::StaticText) {
            state.focusable = true;
            state.focused = m_list->hasFocus() && AccessibleRows::of(m_list)->current() == m_index;
        }
        if (row->selected) {
            state.selectable = true;
            state.selected = true;
        }
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    QStringList actionNames() const override
    {
        const std::optional<AccessibleRows::Row> row = shown();
        return row ? row->actions : QStringList();
    }
    void doAction(const QString& action) override
    {
        if (actionNames().contains(action))
            AccessibleRows::of(m_list)->act(m_index, action);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    std::optional<AccessibleRows::Row> shown() const
    {
        const AccessibleRows* rows = AccessibleRows::of(m_list);
        if (!rows || m_index >= rows->count())
            return std::nullopt;
        std::optional<AccessibleRows::Row> row = rows->row(m_index);
        if (!row || row->identity != m_identity || row->widget)
            return std::nullopt;
        return row;
    }

private:
    QPointer<QWidget> m_list;
    const int m_index;
    const void* const m_identity;
    mutable QAccessible::Id m_button = 0;
};

bool RowButtonInterface::isValid() const
{
    if (!m_row)
        return false;
    const std::optional<AccessibleRows::Row> row = m_row->shown();
    return row && row->button;
}

QWindow* RowButtonInterface::window() const
{
    return m_row ? m_row->window() : nullptr;
}

QAccessibleInterface* RowButtonInterface::parent() const
{
    return m_row;
}

QString RowButtonInterface::text(QAccessible::Text kind) const
{
    const std::optional<AccessibleRows::Row> row = m_row ? m_row->shown() : std::nullopt;
    return row && row->button && kind == QAccessible::Name ? row->button->name : QString();
}

QRect RowButtonInterface::rect() const
{
    const std::optional<AccessibleRows::Row> row = m_row ? m_row->shown() : std::nullopt;
    if (!row || !row->button)
        return {};
    return { m_row->list()->mapToGlobal(row->button->rect.topLeft()), row->button->rect.size() };
}

QAccessible::State RowButtonInterface::state() const
{
    QAccessible::State state;
    const std::optional<AccessibleRows::Row> row = m_row ? m_row->shown() : std::nullopt;
    if (!row || !row->button) {
        state.invalid = true;
        return state;
    }
    state.hasPopup = true;
    state.invisible = !m_row->list()->isVisible();
    state.offscreen = !m_row->list()->visibleRegion().intersects(row->button->rect);
    return state;
}

void RowButtonInterface::doAction(const QString& action)
{
    const std::optional<AccessibleRows::Row> row = m_row ? m_row->shown() : std::nullopt;
    if (action == pressAction() && row && row->button)
        m_row->doAction(row->button->action);
}

// The list itself: its children are its rows, not its widgets.
class ListInterface final : public QAccessibleWidget
{
public:
    explicit ListInterface(QWidget* list)
        : QAccessibleWidget(list, QAccessible::List)
    { }

    int childCount() const override
    {
        const AccessibleRows* rows = AccessibleRows::of(object());
        return rows ? rows->count() : 0;
    }
    QAccessibleInterface* child(int index) const override
    {
        const AccessibleRows* rows = AccessibleRows::of(object());
        return rows && index >= 0 && index < rows->count() ? rows->child(index) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const AccessibleRows* rows = AccessibleRows::of(object());
        return rows ? rows->indexOf(child) : -1;
    }
    QAccessibleInterface* focusChild() const override
    {
        const AccessibleRows* rows = AccessibleRows::of(object());
        if (!rows || !widget()->hasFocus())
            return nullptr;
        const int current = rows->current();
        return current >= 0 && current < rows->count() ? rows->child(current) : nullptr;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const AccessibleRows* rows = AccessibleRows::of(object());
        if (!rows)
            return nullptr;
        const QPoint at = widget()->mapFromGlobal(QPoint(x, y));
        for (int i = 0, count = rows->count(); i < count; ++i) {
            const std::optional<AccessibleRows::Row> row = rows->row(i);
            const QRect rect = row && row->widget ? row->widget->geometry() : row ? rows->rect(i) : QRect();
            if (rect.contains(at))
                return rows->child(i);
        }
        return nullptr;
    }
};

QAccessibleInterface* makeInterface(const QString&, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (registry().contains(object))
        return new ListInterface(widget);
    return nullptr;
}

void installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(&makeInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

AccessibleRows::AccessibleRows(QWidget& list, Source source)
    : m_list(list)
    , m_source(std::move(source))
{
    installFactory();
    registry().insert(&list, this);
}

AccessibleRows::~AccessibleRows()
{
    registry().remove(&m_list);
    dropChildren();
}

void AccessibleRows::dropChildren()
{
    for (const QAccessible::Id id : std::as_const(m_children))
        QAccessible::deleteAccessibleInterface(id);
    for (const QAccessible::Id id : std::as_const(m_retired))
        QAccessible::deleteAccessibleInterface(id);
    m_children.clear();
    m_retired.clear();
}

AccessibleRows* AccessibleRows::of(const QObject* list)
{
    return list ? registry().value(list) : nullptr;
}

void AccessibleRows::changed()
{
    m_read.clear();
}

void AccessibleRows::reset()
{
    m_read.clear();
    // A list may find its rows changed while a row's interface asks it something: the old
    // interfaces stay until the event loop turns, invalid where their row went.
    m_retired.append(m_children.values());
    m_children.clear();
    if (!m_retired.isEmpty() && !m_dropping) {
        m_dropping = true;
        QMetaObject::invokeMethod(
            &m_list,
            [list = QPointer<QWidget>(&m_list)] {
                if (AccessibleRows* rows = of(list)) {
                    rows->m_dropping = false;
                    for (const QAccessible::Id id : std::exchange(rows->m_retired, {}))
                        QAccessible::deleteAccessibleInterface(id);
                }
            },
            Qt::QueuedConnection);
    }
    if (QAccessible::isActive()) {
        QAccessibleEvent event(&m_list, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&event);
    }
}

void AccessibleRows::currentChanged()
{
    const int row = current();
    if (!QAccessible::isActive() || !m_list.hasFocus() || row < 0 || row >= count())
        return;
    QAccessibleEvent event(&m_list, QAccessible::Focus);
    event.setChild(row);
    QAccessible::updateAccessibility(&event);
}

void AccessibleRows::focusedLater()
{
    // The list's own focus is told once the focus has moved, after this: the row follows it.
    QMetaObject::invokeMethod(
        &m_list,
        [list = QPointer<QWidget>(&m_list)] {
            AccessibleRows* rows = of(list);
            if (!rows)
                return;
            rows->currentChanged();
            // Handing the focus to the row tells a screen reader that the list lost it, and the
            // reader keeps that: on every later step it looks through the rows from the first for
            // the focused one, half a second deep into a long transcript. A selection change of
            // the list makes Orca read the list's state anew, which says it has the focus.
            if (QAccessible::isActive() && list->hasFocus()) {
                QAccessibleEvent event(list.data(), QAccessible::Selection);
                QAccessible::updateAccessibility(&event);
            }
        },
        Qt::QueuedConnection);
}

int AccessibleRows::count() const
{
    return m_source.count();
}

std::optional<AccessibleRows::Row> AccessibleRows::row(int index) const
{
    const int rows = count();
    if (index < 0 || index >= rows)
        return std::nullopt;
    // A list that forgot to say its rows changed is never read from stale rows of another count.
    if (rows != m_readCount) {
        m_read.clear();
        m_readCount = rows;
    }
    if (const auto known = m_read.constFind(index); known != m_read.constEnd())
        return *known;
    return *m_read.insert(index, m_source.row(index));
}

QRect AccessibleRows::rect(int index) const
{
    if (index < 0 || index >= count())
        return {};
    if (m_source.rect)
        return m_source.rect(index);
    const std::optional<Row> shown = m_source.row(index);
    return shown ? shown->rect : QRect();
}

int AccessibleRows::current() const
{
    return m_source.current();
}

void AccessibleRows::act(int index, const QString& action) const
{
    m_source.act(index, action);
}

QAccessibleInterface* AccessibleRows::child(int index) const
{
    const std::optional<Row> shown = row(index);
    if (shown && shown->widget)
        return QAccessible::queryAccessibleInterface(shown->widget);
    if (const QAccessible::Id id = m_children.value(index); id != 0) {
        if (QAccessibleInterface* known = QAccessible::accessibleInterface(id); known && known->isValid())
            return known;
        // Another row took the index: whoever holds the old one finds it invalid until the
        // rows are let go.
        m_retired.append(m_children.take(index));
    }
    if (!shown)
        return nullptr;
    auto* made = new RowInterface(m_list, index, shown->identity);
    m_children.insert(index, QAccessible::registerAccessibleInterface(made));
    return made;
}

int AccessibleRows::indexOf(const QAccessibleInterface* child) const
{
    if (!child || count() == 0)
        return -1;
    // A screen reader asks every row of a page for its index: a row of this list knows it.
    if (const auto* own = dynamic_cast<const RowInterface*>(child); own && own->list() == &m_list)
        return own->isValid() ? own->index() : -1;
    const QHash<int, QAccessible::Id> children = m_children;
    for (auto it = children.cbegin(); it != children.cend(); ++it) {
        if (QAccessible::accessibleInterface(it.value()) == child)
            return child->isValid() ? it.key() : -1;
    }
    if (const QObject* object = child->object()) {
        for (int i = 0, rows = count(); i < rows; ++i) {
            const std::optional<Row> shown = row(i);
            if (shown && shown->widget == object)
                return i;
        }
    }
    return -1;
}

int AccessibleRows::rowAfterKey(
    const QKeyEvent& key, int current, int count, int pageHeight, const std::function<int(int row)>& topOf)
{
    if (count <= 0 || (key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return -1;
    const int last = count - 1;
    const int from = std::clamp(current, 0, last);
    switch (key.key()) {
    case Qt::Key_Up:
        return current < 0 ? 0 : std::max(from - 1, 0);
    case Qt::Key_Down:
        return current < 0 ? 0 : std::min(from + 1, last);
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return last;
    case Qt::Key_PageDown: {
        if (from == last)
            return last;
        // The last row that starts within a page below the current row's top.
        const int limit = topOf(from) + std::max(1, pageHeight);
        int row = from + 1;
        while (row < last && topOf(row + 1) <= limit)
            ++row;
        return row;
    }
    case Qt::Key_PageUp: {
        if (from == 0)
            return 0;
        const int limit = topOf(from) - std::max(1, pageHeight);
        int row = from - 1;
        while (row > 0 && topOf(row - 1) >= limit)
            --row;
        return row;
    }
    default:
        return -1;
    }
}

QRect AccessibleRows::shownPart(const QWidget& widget)
{
    if (!widget.isVisible())
        return {};
    // Clipped by every widget that holds it, up to its window: a scroll area shows a part of
    // its content. What paints over it inside (a scroll area's own viewport) does not count.
    QRect part = widget.rect();
    QPoint offset;
    for (const QWidget* up = &widget; !up->isWindow() && up->parentWidget(); up = up->parentWidget()) {
        offset += up->pos();
        part &= up->parentWidget()->rect().translated(-offset);
    }
    return part;
}

bool AccessibleRows::isCurrentRow(const QWidget& row)
{
    const AccessibleRows* rows = of(row.parentWidget());
    if (!rows)
        return false;
    const int current = rows->current();
    const std::optional<Row> shown = rows->row(current);
    return shown && shown->widget == &row;
}
