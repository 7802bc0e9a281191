#pragma once

#include "calendar/CalendarService.h"
#include "library/ComingUpAgenda.h"
#include "ui/design/AccessibleRows.h"

#include <QAbstractButton>
#include <QWidget>
#include <functional>

class EditorialLabel;
class PlainButton;
class PillButton;
class RecordingDot;
class ToneLabel;

// The pieces of the coming-up panel.
namespace ComingUp {

// The kind of an event in a small outlined capsule ("MEETING", "1:1").
class KindBadge final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KindBadge)

public:
    explicit KindBadge(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

// The event that runs now or starts soon, with "Record now" and "Join".
class HeroCard final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HeroCard)

public:
    HeroCard(std::function<void()> record, std::function<void()> join, QWidget* parent = nullptr);

    const CalendarService::EventInfo& shownEvent() const { return m_event; }
    void set(const CalendarService::EventInfo& event, bool running, const QString& status);

    bool isLive() const { return m_running; }
    QString status() const;
    QString range() const;
    QString call() const; // empty without a call name
    QString title() const;
    QString people() const; // empty for nobody
    QString badge() const; // empty for none
    QAbstractButton* recordButton() const;
    QAbstractButton* joinButton() const; // null without a call link

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CalendarService::EventInfo m_event;
    bool m_running = false;
    RecordingDot* m_dot;
    EditorialLabel* m_status;
    ToneLabel* m_range;
    ToneLabel* m_call;
    ToneLabel* m_title;
    QWidget* m_facts;
    ToneLabel* m_people;
    KindBadge* m_badge;
    PillButton* m_record;
    PlainButton* m_join;
};

// The week's other events as day groups of quiet rows: each day's title, then one row per
// event with its time, title and kind. Painted as one widget (the whole row is the button), so a
// week of hundreds of events is laid out and drawn in a few milliseconds. It is one stop of the
// Tab chain: the arrow keys (and Home, End) move a current row, ringed while it has the focus,
// and Enter or Space chooses it. A screen reader reads it as a list of the day titles, as
// headings, and the events; the current row is its focus.
class DayList final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DayList)

public:
    explicit DayList(QWidget* parent = nullptr);

    void setGroups(const QList<ComingUpAgenda::DayGroup>& groups);

    // The rows' events in the order shown, and where a row is (empty for an event not shown).
    QList<CalendarService::EventInfo> events() const;
    QRect rowRect(const QString& eventId) const;
    // A row's time as shown ("9:30 AM").
    QString timeOf(const QString& eventId) const;
    // The keyboard's row; empty when none is shown.
    QString currentEventId() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void chosen(const CalendarService::EventInfo& event);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    struct Row
    {
        QString groupTitle; // a group's title row, as written; empty for an event row
        CalendarService::EventInfo event;
        QString time;
        QString title;
        QString badge;
        int top = 0;
        int height = 0;
    };

    int rowAt(const QPoint& position) const;
    // The first event row at or after the row, going by step; -1 for none.
    int eventFrom(int row, int step) const;
    int currentRow() const;
    void setCurrentRow(int row);
    std::optional<AccessibleRows::Row> accessibleRow(int row) const;
    void accessibleAction(int row, const QString& action);

    QList<Row> m_rows;
    int m_height = 0;
    int m_pressed = -1;
    QString m_currentId; // the keyboard's row, by its event: the rows are made anew each minute
    AccessibleRows m_accessible;
};

} // namespace ComingUp
