#pragma once

#include "ui/design/AccessibleRows.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QWidget>
#include <optional>

class Clock;
class Meeting;
class MeetingListModel;
class RecordingDot;

// The meetings of the home page as date groups of cards: each group's title, then one card per
// meeting. A view over the live meeting list that paints only the cards on screen, so that a
// library of thousands of meetings opens and follows edits without a widget per card. It sits
// in the page's scroll area as one tall widget and scrolls with the rest of the page.
//
// It follows the list at once but lazily: a change marks the groups stale, and they are worked
// out again (one grouping of every meeting) before the next layout, paint or question.
// Titles are measured from the top down, those on screen first and the rest in short idle
// steps, so that the first paint never waits for every card.
//
// The keyboard reaches the cards as one stop of the Tab chain: the arrow keys (and Home, End)
// move a current card, ringed while the list has the keyboard's focus and scrolled into view;
// Enter or Space opens it, the menu key or Shift+F10 opens its menu. A screen reader reads it
// as a list of the group titles, as headings, and the cards; the current card is its focus.
class MeetingCardList final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingCardList)

public:
    // folderId: only the meetings of the folder with that id; none: every meeting.
    MeetingCardList(MeetingListModel& meetings, const Clock& clock, std::optional<QUuid> folderId, bool showFolder,
        QWidget* parent = nullptr);
    ~MeetingCardList() override;

    bool isEmpty() const;
    // The group titles, and the meetings shown, in the order they are shown.
    QStringList groupTitles() const;
    QList<Meeting*> meetingsShown() const;
    // Where a meeting's card and its "⋯" are, in this widget; empty when it is not shown.
    QRect cardRect(const Meeting* meeting) const;
    QRect actionsRect(const Meeting* meeting) const;
    // True once every title has been measured: the height is then exact.
    bool isMeasured() const;
    // The keyboard's card; null when none is shown.
    Meeting* currentMeeting() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void openRequested(Meeting* meeting);
    // The menu of a meeting, asked for by its "⋯" or a right-click, at a global position.
    void menuRequested(Meeting* meeting, const QPoint& globalPosition);
    void emptyChanged(bool empty);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    struct Row
    {
        bool isCard = false; // else a group title
        // Follows the list's removals; guarded all the same, so that a card whose meeting is
        // destroyed before the next rebuild is left blank rather than read.
        QPointer<Meeting> meeting;
        QString title; // of a group
        int titleLines = 0; // of a card: 0 until measured
        QString measuredTitle; // what was measured, to know when to measure again
        bool measuredRecording = false;
    };

    void markStale();
    void meetingChanged(const QModelIndex& first, const QModelIndex& last);
    void ensureRows() const;
    void rebuild();
    int rowHeight(int row) const;
    void relayoutFrom(int row);
    void measureThrough(int bottom);
    void measureSome();
    bool measure(Row& row, int cardWidth);
    int rowAt(int y) const;
    int rowOf(const Meeting* meeting) const;
    QRect rowRect(int row) const;
    QRect cardRectOfRow(int row) const;
    void syncDots();
    void heightChanged();
    int currentRow() const;
    Meeting* firstCard() const;
    // The first card at or after the row, going by step (a group title is passed over); -1.
    int cardFrom(int row, int step) const;
    void setCurrentRow(int row);
    void requestMenu(int row);
    std::optional<AccessibleRows::Row> accessibleRow(int row) const;
    void accessibleAction(int row, const QString& action);

    MeetingListModel& m_meetings;
    const Clock& m_clock;
    const std::optional<QUuid> m_folderId;
    const bool m_showFolder;

    QList<Row> m_rows;
    QList<int> m_tops; // m_rows.size() + 1 entries; the last is the total height
    QHash<const Meeting*, int> m_rowOfMeeting;
    int m_measured = 0; // rows [0, m_measured) have their real height
    int m_measuredWidth = -1;
    bool m_stale = true;
    bool m_wasEmpty = true;
    QTimer m_measureLater;

    QPointer<Meeting> m_pressed;
    bool m_pressedActions = false;
    QPointer<Meeting> m_current;
    QHash<const Meeting*, RecordingDot*> m_dots;
    AccessibleRows m_accessible;
};
