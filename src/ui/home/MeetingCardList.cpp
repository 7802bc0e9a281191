#include "ui/home/MeetingCardList.h"

#include "library/MeetingDateGroup.h"
#include "platform/Clock.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/MeetingListModel.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/ReadingColumn.h"
#include "ui/design/RecordingDot.h"
#include "ui/home/MeetingCard.h"

#include <QElapsedTimer>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kGroupSpacing = 22;
constexpr int kCardSpacing = 8; // between a group's title and its cards, and between cards
constexpr qreal kDotSize = 7;
// Idle measuring runs in steps this long, so input and painting go on meanwhile.
constexpr qint64 kMeasureStepNs = 4'000'000;

int groupTitleHeight()
{
    return int(std::ceil(QFontMetricsF(EditorialLabel::trackedFont()).height()));
}

} // namespace

MeetingCardList::MeetingCardList(
    MeetingListModel& meetings, const Clock& clock, std::optional<QUuid> folderId, bool showFolder, QWidget* parent)
    : QWidget(parent)
    , m_meetings(meetings)
    , m_clock(clock)
    , m_folderId(folderId)
    , m_showFolder(showFolder)
    , m_accessible(*this,
          { [this] { return isEmpty() ? 0 : int(m_rows.size()); }, [this](int row) { return accessibleRow(row); },
              [this] { return currentRow(); },
              [this](int row, const QString& action) { accessibleAction(row, action); },
              [this](int row) { return m_rows.at(row).isCard ? cardRectOfRow(row) : rowRect(row); } })
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // Reached by Tab only: a click opens a card at once and needs no focus.
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(tr("Meetings"));
    m_measureLater.setSingleShot(true);
    m_measureLater.setInterval(0);
    connect(&m_measureLater, &QTimer::timeout, this, &MeetingCardList::measureSome);
    connect(&m_meetings, &QAbstractItemModel::rowsInserted, this, &MeetingCardList::markStale);
    connect(&m_meetings, &QAbstractItemModel::rowsRemoved, this, &MeetingCardList::markStale);
    connect(&m_meetings, &QAbstractItemModel::rowsMoved, this, &MeetingCardList::markStale);
    connect(&m_meetings, &QAbstractItemModel::modelReset, this, &MeetingCardList::markStale);
    connect(&m_meetings, &QAbstractItemModel::layoutChanged, this, &MeetingCardList::markStale);
    connect(&m_meetings, &QAbstractItemModel::dataChanged, this, &MeetingCardList::meetingChanged);
    rebuild();
    m_wasEmpty = m_rows.isEmpty();
}

MeetingCardList::~MeetingCardList() = default;

void MeetingCardList::markStale()
{
    if (!m_stale) {
        m_stale = true;
        // A list that is not on screen is neither laid out nor painted: the groups are still
        // worked out at the next turn of the event loop, so that the page learns when it
        // becomes empty or stops being so.
        QMetaObject::invokeMethod(
            this, [this] { ensureRows(); }, Qt::QueuedConnection);
    }
    updateGeometry();
    update();
}

void MeetingCardList::meetingChanged(const QModelIndex& first, const QModelIndex& last)
{
    m_accessible.changed();
    // Most changes (a title typed, a recording started, a segment added) leave the meeting in
    // its group and place: only its card is measured and drawn again. Anything else regroups.
    if (m_stale || first.row() != last.row()) {
        markStale();
        return;
    }
    Meeting* meeting = m_meetings.meetingAt(first.row());
    const bool belongs = !m_folderId || (meeting->folder() && meeting->folder()->id() == *m_folderId);
    const int row = m_rowOfMeeting.value(meeting, -1);
    if (row < 0 && !belongs)
        return;
    if (row < 0 || !belongs) {
        markStale();
        return;
    }
    const QList<MeetingDateGroup> group = groupMeetingsByDate({ meeting }, m_clock.now());
    int heading = row;
    while (heading > 0 && m_rows.at(heading).isCard)
        --heading;
    if (group.isEmpty() || group.first().title != m_rows.at(heading).title) {
        markStale();
        return;
    }
    Row& card = m_rows[row];
    const QRect before = rowRect(row);
    if (card.titleLines > 0
        && (card.measuredTitle != meeting->fields().title || card.measuredRecording != meeting->isRecording())) {
        const int lines = card.titleLines;
        card.titleLines = 0;
        measure(card, m_measuredWidth);
        if (card.titleLines != lines) {
            relayoutFrom(row);
            heightChanged();
            update(QRect(0, before.top(), width(), height() - before.top()));
        }
    }
    syncDots();
    update(before);
}

void MeetingCardList::ensureRows() const
{
    if (m_stale)
        const_cast<MeetingCardList*>(this)->rebuild();
}

void MeetingCardList::rebuild()
{
    m_stale = false;
    QList<Meeting*> shown;
    shown.reserve(m_meetings.rowCount());
    for (int row = 0, rows = m_meetings.rowCount(); row < rows; ++row) {
        Meeting* meeting = m_meetings.meetingAt(row);
        if (!m_folderId || (meeting->folder() && meeting->folder()->id() == *m_folderId))
            shown.append(meeting);
    }
    const QList<MeetingDateGroup> groups = groupMeetingsByDate(shown, m_clock.now());

    // Measurements carry over while the meeting's title and recording state are those
    // measured. The old rows' meetings may be gone by now: they are compared, never read.
    const QList<Row> old = std::exchange(m_rows, {});
    const QHash<const Meeting*, int> oldRowOf = std::exchange(m_rowOfMeeting, {});
    m_rows.reserve(shown.size() + groups.size());
    m_rowOfMeeting.reserve(shown.size());
    m_measured = -1;
    for (const MeetingDateGroup& group : groups) {
        Row title;
        title.title = group.title;
        m_rows.append(std::move(title));
        for (Meeting* meeting : group.meetings) {
            Row row;
            row.isCard = true;
            row.meeting = meeting;
            if (const auto found = oldRowOf.constFind(meeting); found != oldRowOf.constEnd()) {
                const Row& before = old.at(*found);
                if (before.titleLines > 0 && before.measuredRecording == meeting->isRecording()
                    && before.measuredTitle == meeting->fields().title)
                    row = before;
            }
            if (row.titleLines == 0 && m_measured < 0)
                m_measured = int(m_rows.size());
            m_rowOfMeeting.insert(meeting, int(m_rows.size()));
            m_rows.append(std::move(row));
        }
    }
    if (m_measured < 0)
        m_measured = int(m_rows.size());
    m_tops.resize(m_rows.size() + 1);
    m_tops[0] = 0;
    relayoutFrom(0);
    m_accessible.reset();
    if (m_pressed && !m_rowOfMeeting.contains(m_pressed.data()))
        m_pressed = nullptr;
    syncDots();
    heightChanged();
    if (!isMeasured() && isVisible())
        m_measureLater.start();

    // The keyboard's card went away with its meeting: the focus stays visible on the first.
    if (hasFocus() && currentRow() < 0) {
        m_current = firstCard();
        m_accessible.currentChanged();
    }

    const bool empty = m_rows.isEmpty();
    if (empty != m_wasEmpty) {
        m_wasEmpty = empty;
        emit emptyChanged(empty);
    }
}

int MeetingCardList::rowHeight(int row) const
{
    const Row& r = m_rows.at(row);
    if (!r.isCard)
        return (row == 0 ? 0 : kGroupSpacing) + groupTitleHeight();
    return kCardSpacing + MeetingCard::height(std::max(r.titleLines, 1));
}

void MeetingCardList::relayoutFrom(int row)
{
    // Heights repeat (a group title, a card of one line, of two lines): ask for each once.
    const int titleHeight = groupTitleHeight();
    const int oneLine = kCardSpacing + MeetingCard::height(1);
    const int twoLines = kCardSpacing + MeetingCard::height(2);
    for (int i = row; i < m_rows.size(); ++i) {
        const Row& r = m_rows.at(i);
        const int height = !r.isCard ? (i == 0 ? 0 : kGroupSpacing) + titleHeight
            : r.titleLines == 2      ? twoLines
                                     : oneLine;
        m_tops[i + 1] = m_tops[i] + height;
    }
}

bool MeetingCardList::measure(Row& row, int cardWidth)
{
    if (!row.meeting || row.titleLines > 0)
        return false;
    row.measuredTitle = row.meeting->fields().title;
    row.measuredRecording = row.meeting->isRecording();
    row.titleLines = MeetingCard::titleLines(*row.meeting, cardWidth);
    return row.titleLines != 1; // unmeasured rows were laid out as one line
}

bool MeetingCardList::isMeasured() const
{
    ensureRows();
    return m_measured >= m_rows.size();
}

void MeetingCardList::measureThrough(int bottom)
{
    if (m_measuredWidth != width()) {
        m_measuredWidth = width();
        for (Row& row : m_rows)
            row.titleLines = 0;
        m_measured = 0;
        relayoutFrom(0);
    }
    bool changed = false;
    int row = m_measured;
    for (; row < m_rows.size() && m_tops[row] <= bottom; ++row)
        changed = measure(m_rows[row], m_measuredWidth) | changed;
    if (row == m_measured)
        return;
    const int from = m_measured;
    m_measured = row;
    if (changed) {
        relayoutFrom(from);
        syncDots();
        heightChanged();
    }
}

void MeetingCardList::measureSome()
{
    ensureRows();
    if (!isVisible() || isMeasured())
        return;
    if (m_measuredWidth != width()) {
        measureThrough(-1);
    }
    QElapsedTimer step;
    step.start();
    const int from = m_measured;
    bool changed = false;
    int row = m_measured;
    while (row < m_rows.size() && (row - from < 64 || step.nsecsElapsed() < kMeasureStepNs))
        changed = measure(m_rows[row++], m_measuredWidth) | changed;
    m_measured = row;
    if (changed) {
        relayoutFrom(from);
        syncDots();
        heightChanged();
    }
    if (!isMeasured())
        m_measureLater.start();
}

void MeetingCardList::heightChanged()
{
    if (m_tops.last() != height())
        updateGeometry();
}

QSize MeetingCardList::sizeHint() const
{
    ensureRows();
    return { 200, m_tops.last() };
}

QSize MeetingCardList::minimumSizeHint() const
{
    ensureRows();
    return { 0, m_tops.last() };
}

int MeetingCardList::rowAt(int y) const
{
    // The last row whose top is at or above y.
    const auto after = std::upper_bound(m_tops.cbegin(), m_tops.cend() - 1, y);
    return std::max(int(after - m_tops.cbegin()) - 1, 0);
}

int MeetingCardList::rowOf(const Meeting* meeting) const
{
    ensureRows();
    return m_rowOfMeeting.value(meeting, -1);
}

QRect MeetingCardList::rowRect(int row) const
{
    return { 0, m_tops.at(row), width(), m_tops.at(row + 1) - m_tops.at(row) };
}

QRect MeetingCardList::cardRectOfRow(int row) const
{
    return rowRect(row).adjusted(0, kCardSpacing, 0, 0);
}

bool MeetingCardList::isEmpty() const
{
    ensureRows();
    return m_rows.isEmpty();
}

QStringList MeetingCardList::groupTitles() const
{
    ensureRows();
    QStringList titles;
    for (const Row& row : m_rows) {
        if (!row.isCard)
            titles.append(row.title);
    }
    return titles;
}

QList<Meeting*> MeetingCardList::meetingsShown() const
{
    ensureRows();
    QList<Meeting*> meetings;
    for (const Row& row : m_rows) {
        if (row.meeting)
            meetings.append(row.meeting);
    }
    return meetings;
}

QRect MeetingCardList::cardRect(const Meeting* meeting) const
{
    const int row = rowOf(meeting);
    if (row < 0)
        return {};
    const_cast<MeetingCardList*>(this)->measureThrough(m_tops.at(row + 1));
    return cardRectOfRow(row);
}

QRect MeetingCardList::actionsRect(const Meeting* meeting) const
{
    const QRect card = cardRect(meeting);
    return card.isEmpty() ? QRect() : MeetingCard::actionsRect(card);
}

void MeetingCardList::syncDots()
{
    QHash<const Meeting*, RecordingDot*> dots;
    for (int row = 0; row < m_rows.size(); ++row) {
        Meeting* meeting = m_rows.at(row).meeting;
        if (!meeting || !meeting->isRecording())
            continue;
        RecordingDot* dot = m_dots.take(meeting);
        if (!dot) {
            dot = new RecordingDot(kDotSize, this);
            dot->show();
        }
        dot->setGeometry(MeetingCard::dotRect(cardRectOfRow(row)));
        dots.insert(meeting, dot);
    }
    qDeleteAll(m_dots);
    m_dots = std::move(dots);
}

void MeetingCardList::paintEvent(QPaintEvent* event)
{
    ensureRows();
    // Only what shows: the list is as tall as every card together.
    const QRect area = event->rect() & visibleRegion().boundingRect();
    measureThrough(area.bottom());
    if (m_rows.isEmpty())
        return;
    QPainter painter(this);
    const QFont titleFont = EditorialLabel::trackedFont();
    const QFontMetricsF titleMetrics(titleFont);
    for (int row = rowAt(area.top()); row < m_rows.size() && m_tops.at(row) <= area.bottom(); ++row) {
        const Row& r = m_rows.at(row);
        if (r.isCard) {
            if (r.meeting) {
                MeetingCard::paint(painter, cardRectOfRow(row), *r.meeting, m_showFolder, palette(),
                    r.meeting == m_pressed && !m_pressedActions);
                if (r.meeting == m_current && FocusRing::shows(*this))
                    FocusRing::paint(painter, QRectF(cardRectOfRow(row)), MeetingCard::kCornerRadius);
            }
            continue;
        }
        const QRect box = rowRect(row);
        painter.setFont(titleFont);
        painter.setPen(Quillet::secondary(palette()));
        painter.drawText(
            QPointF(0, box.bottom() + 1 - titleMetrics.height() + titleMetrics.ascent()), r.title.toUpper());
    }
}

void MeetingCardList::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_measuredWidth != width() && isVisible())
        m_measureLater.start();
}

void MeetingCardList::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_measureLater.start();
}

bool MeetingCardList::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        ensureRows();
        auto* help = static_cast<QHelpEvent*>(event);
        const int row = m_rows.isEmpty() ? -1 : rowAt(help->pos().y());
        const QRect actions
            = row >= 0 && m_rows.at(row).isCard ? MeetingCard::actionsRect(cardRectOfRow(row)) : QRect();
        if (actions.contains(help->pos()))
            QToolTip::showText(help->globalPos(), tr("Actions"), this, actions);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void MeetingCardList::mousePressEvent(QMouseEvent* event)
{
    ensureRows();
    if (event->button() != Qt::LeftButton || m_rows.isEmpty())
        return QWidget::mousePressEvent(event);
    const QPoint position = event->position().toPoint();
    const int row = rowAt(position.y());
    const QRect card = cardRectOfRow(row);
    if (!m_rows.at(row).meeting || !card.contains(position))
        return;
    m_pressed = m_rows.at(row).meeting;
    m_pressedActions = MeetingCard::actionsRect(card).contains(position);
    update(card);
}

void MeetingCardList::mouseReleaseEvent(QMouseEvent* event)
{
    ensureRows();
    if (event->button() != Qt::LeftButton || !m_pressed)
        return QWidget::mouseReleaseEvent(event);
    Meeting* pressed = std::exchange(m_pressed, nullptr);
    const bool onActions = m_pressedActions;
    const int row = rowOf(pressed);
    if (row < 0)
        return;
    const QRect card = cardRectOfRow(row);
    update(card);
    const QPoint position = event->position().toPoint();
    if (!card.contains(position) || MeetingCard::actionsRect(card).contains(position) != onActions)
        return;
    // Either may replace the page that holds this list: nothing of it is touched afterwards.
    if (onActions)
        emit menuRequested(pressed, mapToGlobal(MeetingCard::actionsRect(card).bottomLeft()));
    else
        emit openRequested(pressed);
}

void MeetingCardList::contextMenuEvent(QContextMenuEvent* event)
{
    ensureRows();
    if (m_rows.isEmpty())
        return;
    if (event->reason() == QContextMenuEvent::Keyboard) {
        requestMenu(currentRow());
        return;
    }
    const int row = rowAt(event->pos().y());
    if (m_rows.at(row).meeting && cardRectOfRow(row).contains(event->pos()))
        emit menuRequested(m_rows.at(row).meeting, event->globalPos());
}

// --- The keyboard ------------------------------------------------------------------------

Meeting* MeetingCardList::currentMeeting() const
{
    return currentRow() >= 0 ? m_current.data() : nullptr;
}

int MeetingCardList::cardFrom(int row, int step) const
{
    for (; row >= 0 && row < m_rows.size(); row += step) {
        if (m_rows.at(row).meeting)
            return row;
    }
    return -1;
}

// Rows may be only headings and cards whose meeting has gone: then there is no first card.
Meeting* MeetingCardList::firstCard() const
{
    const int row = cardFrom(0, 1);
    return row >= 0 ? m_rows.at(row).meeting.data() : nullptr;
}

int MeetingCardList::currentRow() const
{
    return m_current ? rowOf(m_current) : -1;
}

void MeetingCardList::setCurrentRow(int row)
{
    if (const int before = currentRow(); before >= 0)
        update(cardRectOfRow(before));
    const bool moved = m_current != m_rows.at(row).meeting;
    m_current = m_rows.at(row).meeting;
    if (moved)
        m_accessible.currentChanged();
    // Measured down to the card, so that its place is exact before it is scrolled to.
    measureThrough(m_tops.at(row + 1));
    update(cardRectOfRow(row));
    ReadingColumn::reveal(*this);
}

void MeetingCardList::requestMenu(int row)
{
    if (row < 0)
        return;
    measureThrough(m_tops.at(row + 1));
    emit menuRequested(m_rows.at(row).meeting, mapToGlobal(MeetingCard::actionsRect(cardRectOfRow(row)).bottomLeft()));
}

void MeetingCardList::keyPressEvent(QKeyEvent* event)
{
    ensureRows();
    const int current = currentRow();
    int target = -1;
    switch (event->key()) {
    case Qt::Key_Down:
        target = cardFrom(current + 1, 1);
        break;
    case Qt::Key_Up:
        target = current < 0 ? cardFrom(0, 1) : cardFrom(current - 1, -1);
        break;
    case Qt::Key_Home:
        target = cardFrom(0, 1);
        break;
    case Qt::Key_End:
        target = cardFrom(int(m_rows.size()) - 1, -1);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        // Opening may replace the page that holds this list: nothing of it is touched afterwards.
        if (current >= 0 && !event->isAutoRepeat())
            emit openRequested(m_rows.at(current).meeting);
        return;
    case Qt::Key_Menu:
        requestMenu(current);
        return;
    case Qt::Key_F10:
        if (event->modifiers() & Qt::ShiftModifier) {
            requestMenu(current);
            return;
        }
        return QWidget::keyPressEvent(event);
    default:
        return QWidget::keyPressEvent(event);
    }
    // At either end the key is still the list's: the page does not scroll away from the card.
    if (target >= 0)
        setCurrentRow(target);
}

void MeetingCardList::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    ensureRows();
    if (currentRow() < 0)
        m_current = firstCard();
    if (const int row = currentRow(); row >= 0)
        setCurrentRow(row);
    m_accessible.focusedLater();
}

void MeetingCardList::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    if (const int row = currentRow(); row >= 0)
        update(cardRectOfRow(row));
}

// --- A screen reader ---------------------------------------------------------------------

std::optional<AccessibleRows::Row> MeetingCardList::accessibleRow(int row) const
{
    const Row& shown = m_rows.at(row);
    AccessibleRows::Row read;
    if (!shown.isCard) {
        read.role = QAccessible::Heading;
        read.name = shown.title;
        read.rect = rowRect(row);
        return read;
    }
    if (!shown.meeting)
        return std::nullopt;
    const Meeting& meeting = *shown.meeting;
    read.identity = &meeting;
    read.name = MeetingCard::title(meeting);
    // The fact line in its order, its symbols in words.
    QStringList facts;
    if (meeting.isRecording())
        facts.append(tr("Recording"));
    for (const MeetingCard::Fact& fact : MeetingCard::facts(meeting, m_showFolder)) {
        if (!fact.text.isEmpty())
            facts.append(fact.text);
        else if (fact.symbol == MeetingCard::kSummarySymbol)
            facts.append(tr("Summary"));
    }
    read.description = facts.join(QStringLiteral(", "));
    read.rect = cardRectOfRow(row);
    read.actions = { QAccessibleActionInterface::pressAction(), QAccessibleActionInterface::showMenuAction() };
    read.button = AccessibleRows::Row::Button { tr("Actions"), MeetingCard::actionsRect(read.rect),
        QAccessibleActionInterface::showMenuAction() };
    return read;
}

void MeetingCardList::accessibleAction(int row, const QString& action)
{
    ensureRows();
    if (row < 0 || row >= m_rows.size() || !m_rows.at(row).meeting)
        return;
    if (action == QAccessibleActionInterface::showMenuAction())
        requestMenu(row);
    else if (action == QAccessibleActionInterface::pressAction())
        emit openRequested(m_rows.at(row).meeting);
}

QVariant MeetingCardList::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // What a scroll area keeps in view of the list: the current card.
    if (query == Qt::ImCursorRectangle) {
        if (const int row = currentRow(); row >= 0)
            return cardRectOfRow(row);
    }
    return QWidget::inputMethodQuery(query);
}
