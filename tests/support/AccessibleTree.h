#pragma once

// What a screen reader finds of a view: its accessible tree, walked in-process, and the events
// it is told.
//
//   QAccessibleInterface* list = AccessibleTree::of(view.cards());
//   QCOMPARE(AccessibleTree::names(AccessibleTree::items(list)), QStringList({ "Today", "Standup" }));
//   QVERIFY(AccessibleTree::find(AccessibleTree::of(&window), QAccessible::Heading, "Spaces"));
//   AccessibleTree::EventSpy events; // ... events.focusedChildren(list)

#include <QAccessible>
#include <QCoreApplication>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QtGui/private/qguiapplication_p.h>
#include <functional>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

namespace AccessibleTree {

inline QAccessibleInterface* of(QObject* object)
{
    return object ? QAccessible::queryAccessibleInterface(object) : nullptr;
}

// The children, in their order.
inline QList<QAccessibleInterface*> items(QAccessibleInterface* parent)
{
    QList<QAccessibleInterface*> children;
    if (!parent)
        return children;
    for (int i = 0, count = parent->childCount(); i < count; ++i) {
        if (QAccessibleInterface* child = parent->child(i))
            children.append(child);
    }
    return children;
}

// Only the children of the role.
inline QList<QAccessibleInterface*> items(QAccessibleInterface* parent, QAccessible::Role role)
{
    QList<QAccessibleInterface*> children;
    for (QAccessibleInterface* child : items(parent)) {
        if (child->role() == role)
            children.append(child);
    }
    return children;
}

inline QString name(const QAccessibleInterface* item)
{
    return item ? item->text(QAccessible::Name) : QString();
}

inline QStringList names(const QList<QAccessibleInterface*>& list)
{
    QStringList texts;
    for (const QAccessibleInterface* item : list)
        texts.append(name(item));
    return texts;
}

inline QString description(const QAccessibleInterface* item)
{
    return item ? item->text(QAccessible::Description) : QString();
}

// Depth first from root, root included; the first that matches, or null.
inline QAccessibleInterface* find(QAccessibleInterface* root, const std::function<bool(QAccessibleInterface*)>& matches)
{
    if (!root)
        return nullptr;
    if (matches(root))
        return root;
    for (QAccessibleInterface* child : items(root)) {
        if (QAccessibleInterface* found = find(child, matches))
            return found;
    }
    return nullptr;
}

inline QAccessibleInterface* find(QAccessibleInterface* root, QAccessible::Role role, const QString& name)
{
    return find(
        root, [&](QAccessibleInterface* item) { return item->role() == role && AccessibleTree::name(item) == name; });
}

// Every one under root (root included) that matches, depth first.
inline QList<QAccessibleInterface*> findAll(
    QAccessibleInterface* root, const std::function<bool(QAccessibleInterface*)>& matches)
{
    QList<QAccessibleInterface*> found;
    if (!root)
        return found;
    if (matches(root))
        found.append(root);
    for (QAccessibleInterface* child : items(root))
        found.append(findAll(child, matches));
    return found;
}

// The events a screen reader is told while the spy lives. Accessibility is active meanwhile, as
// it is while a screen reader runs: the offscreen platform has no bridge to turn it on, and
// QAccessible::setActive() only tells observers, so the platform's own switch is used
// (quillet_test_support brings Qt6::GuiPrivate).
class EventSpy final
{
public:
    struct Event
    {
        QAccessible::Event type;
        QPointer<QObject> object;
        int child = -1;
        QString name; // of what the event is about, read when it was told
        QAccessible::Role role = QAccessible::NoRole;
    };

    EventSpy()
    {
        events().clear();
        m_before = QAccessible::installUpdateHandler(&record);
        if (QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility()) {
            m_wasActive = platform->isActive();
            platform->setActive(true);
        }
    }
    ~EventSpy()
    {
        if (QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility())
            platform->setActive(m_wasActive);
        QAccessible::installUpdateHandler(m_before);
        events().clear();
    }
    EventSpy(const EventSpy&) = delete;
    EventSpy& operator=(const EventSpy&) = delete;

    static QList<Event>& events()
    {
        static QList<Event> told;
        return told;
    }
    void clear() { events().clear(); }

    // The names of the rows of the list told as the focus, in order.
    QStringList focusedRows(const QObject* list) const
    {
        QStringList rows;
        for (const Event& event : events()) {
            if (event.type == QAccessible::Focus && event.object == list && event.child >= 0)
                rows.append(event.name);
        }
        return rows;
    }
    // What was said of its own accord (Announcement::say), in order: the notifications shown.
    // A screen reader hears each once.
    QStringList announcements() const
    {
        QStringList said;
        for (const Event& event : events()) {
            if (event.type == QAccessible::ObjectShow && event.role == QAccessible::Notification)
                said.append(event.name);
        }
        return said;
    }
    // The last focus told: the object's interface, or its child's.
    QString lastFocus() const
    {
        for (auto it = events().crbegin(); it != events().crend(); ++it) {
            if (it->type == QAccessible::Focus)
                return it->name;
        }
        return {};
    }

private:
    static void record(QAccessibleEvent* event)
    {
        QAccessibleInterface* about = event->accessibleInterface();
        events().append({ event->type(), event->object(), event->child(), about ? name(about) : QString(),
            about ? about->role() : QAccessible::NoRole });
    }

    QAccessible::UpdateHandler m_before = nullptr;
    bool m_wasActive = false;
};

} // namespace AccessibleTree
