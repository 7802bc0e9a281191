#pragma once

#include <QAccessible>
#include <QHash>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QKeyEvent;
class QObject;
class QWidget;

// What a screen reader reads of a list whose rows are no widgets of their own (a painted list,
// or rows a layout orders differently from their widgets): the list becomes an accessible list
// with one child per row, in the order shown.
//
// A row's interface is made when it is first asked for and holds only the list and the row's
// index; it turns invalid when the list is gone, its row is gone, or another row took that
// index. A screen reader asks a row for its name, role, state and place one by one, and asks
// them of every row on screen when it reviews a page: a row is read from its list once and
// kept until the list says its rows changed (reset()) or what they say did (changed()); only
// its place is asked each time, as it moves with every scroll. The list lets go of every row
// interface it handed out when its rows change (at the next turn of the event loop) and when
// it is destroyed.
//
// A row may instead be a widget of the list (rows that hold links or selectable text): its
// own interface is the child then, with the role AccessibleRole gives it.
class AccessibleRows final
{
    Q_DISABLE_COPY_MOVE(AccessibleRows)

public:
    struct Row
    {
        QAccessible::Role role = QAccessible::ListItem;
        QString name;
        QString description;
        QRect rect; // in the list's coordinates
        // Tells this row from the one that had its index before (a record's address, compared
        // only); null when the index alone tells it.
        const void* identity = nullptr;
        bool selected = false;
        QStringList actions; // QAccessibleActionInterface's names
        // A button painted on the row (a card's "⋯"), a child of the row: its name, where it
        // is (in the list's coordinates) and the row's action it presses.
        struct Button
        {
            QString name;
            QRect rect;
            QString action;
        };
        std::optional<Button> button;
        QWidget* widget = nullptr; // a row that is a widget: everything else is left unread
    };

    struct Source
    {
        std::function<int()> count;
        // None: the row's record went before the list was told.
        std::function<std::optional<Row>(int index)> row;
        // The keyboard's row; -1 for none.
        std::function<int()> current = [] { return -1; };
        // May replace the page that holds the list: nothing of it is touched afterwards.
        std::function<void(int index, const QString& action)> act = [](int, const QString&) {};
        // Where a row is now, in the list's coordinates; unset: the rect of a row read anew.
        std::function<QRect(int index)> rect = nullptr;
    };

    // The list's accessible name is its widget's; a list has no interface of its own before.
    AccessibleRows(QWidget& list, Source source);
    ~AccessibleRows();

    // The rows came, went or moved: what a screen reader holds of the old ones is let go.
    void reset();
    // What rows say (their texts, their selection) changed; they are still the same rows.
    void changed();
    // The keyboard moved to another row: it becomes the accessible focus while the list has
    // the keyboard's focus.
    void currentChanged();
    // The list took the keyboard's focus: its row is told after the list itself.
    void focusedLater();

    // Where a key moves the keyboard's row in a list read from top to bottom: Up and Down to the
    // row before or after, Home and End to the first and the last, Page Up and Page Down a page's
    // height (at least a row) from the top of the current row; topOf(row) is where a row starts.
    // At either end the current row itself: the key is still the list's. -1 for any other key
    // and in a list without rows.
    static int rowAfterKey(
        const QKeyEvent& key, int current, int count, int pageHeight, const std::function<int(int row)>& topOf);
    // A widget's part that the widgets holding it leave on screen, in its coordinates.
    static QRect shownPart(const QWidget& widget);
    // For a row that is a widget of its own: it is the keyboard's row of the list that holds it.
    static bool isCurrentRow(const QWidget& row);

    // For the interfaces: the rows of a list, none once they are gone.
    static AccessibleRows* of(const QObject* list);
    QWidget& list() const { return m_list; }
    int count() const;
    std::optional<Row> row(int index) const;
    QRect rect(int index) const;
    int current() const;
    void act(int index, const QString& action) const;
    QAccessibleInterface* child(int index) const;
    int indexOf(const QAccessibleInterface* child) const;

private:
    void dropChildren();

    QWidget& m_list;
    Source m_source;
    mutable QHash<int, std::optional<Row>> m_read;
    mutable int m_readCount = -1;
    mutable QHash<int, QAccessible::Id> m_children;
    mutable QList<QAccessible::Id> m_retired;
    bool m_dropping = false;
};
