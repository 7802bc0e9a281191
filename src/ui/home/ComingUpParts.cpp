#include "ui/home/ComingUpParts.h"

#include "calendar/EventKind.h"
#include "library/ComingUpText.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/FocusRing.h"
#include "ui/design/PillButton.h"
#include "ui/design/PlainButton.h"
#include "ui/design/Quillet.h"
#include "ui/design/ReadingColumn.h"
#include "ui/design/RecordingDot.h"
#include "ui/design/ToneLabel.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <cmath>

using EventInfo = CalendarService::EventInfo;

namespace ComingUp {

namespace {

constexpr qreal kPressedOpacity = 0.7;
constexpr qreal kTimeColumn = 66;

QFont badgeFont()
{
    QFont font = Quillet::font(9.5, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.4);
    return font;
}

QSizeF badgeSize(const QString& text)
{
    const QFontMetricsF metrics(badgeFont());
    return { std::ceil(metrics.horizontalAdvance(text)) + 12, std::ceil(metrics.height()) + 4 };
}

void paintBadge(QPainter& painter, const QRectF& box, const QString& text, const QPalette& palette)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = box.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(box, radius, radius);
    painter.fillPath(capsule, Quillet::cardFill(palette));
    painter.setPen(QPen(Quillet::cardStroke(palette), 1));
    painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
    painter.setFont(badgeFont());
    painter.setPen(Quillet::secondary(palette));
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, text);
    painter.restore();
}

std::optional<QString> badgeText(const EventInfo& event)
{
    return ComingUpText::kindBadge(rawValue(event.kind));
}

} // namespace

// --- KindBadge ---------------------------------------------------------------------------

KindBadge::KindBadge(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KindBadge::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

QSize KindBadge::sizeHint() const
{
    return badgeSize(m_text).toSize();
}

void KindBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBadge(painter, QRectF(rect()), m_text, palette());
}

// --- HeroCard ----------------------------------------------------------------------------

HeroCard::HeroCard(std::function<void()> record, std::function<void()> join, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(9);

    auto* status = new QHBoxLayout;
    status->setSpacing(8);
    m_dot = new RecordingDot(8, this);
    status->addWidget(m_dot);
    m_status = new EditorialLabel({}, Quillet::Tone::accent, this);
    status->addWidget(m_status);
    m_range = new ToneLabel({}, Quillet::caption(), Quillet::Tone::secondary, this);
    status->addWidget(m_range);
    status->addStretch(1);
    m_call = new ToneLabel({}, Quillet::caption(), Quillet::Tone::secondary, this);
    status->addWidget(m_call);
    layout->addLayout(status);

    m_title = new ToneLabel({}, Quillet::font(18, QFont::Medium, Quillet::Design::serif), Quillet::Tone::primary, this);
    m_title->setMaximumLines(2);
    layout->addWidget(m_title);

    m_facts = new QWidget(this);
    auto* facts = new QHBoxLayout(m_facts);
    facts->setContentsMargins(0, 0, 0, 0);
    facts->setSpacing(8);
    m_people = new ToneLabel({}, Quillet::caption(), Quillet::Tone::secondary, m_facts);
    facts->addWidget(m_people);
    m_badge = new KindBadge(m_facts);
    facts->addWidget(m_badge);
    facts->addStretch(1);
    layout->addWidget(m_facts);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(10);
    m_record = new PillButton(QCoreApplication::translate("ComingUpPanel", "Record now"), true, this);
    PillButton::Mark square;
    square.shape = PillButton::Mark::Shape::roundedSquare;
    square.size = 8;
    square.color = QColor(Qt::white);
    m_record->setMark(square);
    actions->addWidget(m_record);
    m_join = new PlainButton(
        QCoreApplication::translate("ComingUpPanel", "Join"), Quillet::font(12.5), Quillet::Tone::secondary, this);
    actions->addWidget(m_join);
    actions->addStretch(1);
    layout->addLayout(actions);

    connect(m_record, &QAbstractButton::clicked, this, std::move(record));
    connect(m_join, &QAbstractButton::clicked, this, std::move(join));
}

void HeroCard::set(const EventInfo& event, bool running, const QString& status)
{
    m_event = event;
    m_dot->setVisible(running);
    m_status->setText(status);
    m_range->setText(QStringLiteral("\u00B7 ") + ComingUpText::timeRange(event.startDate, event.endDate));
    const std::optional<QString> call = ComingUpText::callName(event.conferenceURL);
    m_call->setText(call.value_or(QString()));
    m_call->setVisible(call.has_value());
    m_title->setText(ComingUpText::title(event.title));
    const std::optional<QString> people = ComingUpText::participants(event.participantCount);
    m_people->setText(people.value_or(QString()));
    m_people->setVisible(people.has_value());
    const std::optional<QString> badge = badgeText(event);
    m_badge->setText(badge.value_or(QString()));
    m_badge->setVisible(badge.has_value());
    m_facts->setVisible(people || badge);
    m_join->setVisible(event.conferenceURL.has_value());
    if (std::exchange(m_running, running) != running)
        update();
}

QString HeroCard::status() const
{
    return m_status->text();
}

QString HeroCard::range() const
{
    return m_range->text();
}

QString HeroCard::call() const
{
    return m_call->isHidden() ? QString() : m_call->text();
}

QString HeroCard::title() const
{
    return m_title->text();
}

QString HeroCard::people() const
{
    return m_people->isHidden() ? QString() : m_people->text();
}

QString HeroCard::badge() const
{
    return m_badge->isHidden() ? QString() : m_badge->text();
}

QAbstractButton* HeroCard::recordButton() const
{
    return m_record;
}

QAbstractButton* HeroCard::joinButton() const
{
    return m_join->isHidden() ? nullptr : m_join;
}

void HeroCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, 12, 12);
    painter.fillPath(shape, Quillet::cardFill(palette()));
    painter.setPen(QPen(Quillet::withOpacity(Quillet::accent(), m_running ? 0.55 : 0.22), 1));
    painter.drawPath(shape);
}

// --- DayList ----------------------------------------------------------------------------

namespace {

constexpr int kGroupSpacing = 12;
constexpr int kRowSpacing = 6; // after a group's title and between its rows
constexpr qreal kRowPaddingX = 10;
constexpr qreal kRowPaddingY = 7;
constexpr qreal kRowSpacingInside = 10;
constexpr qreal kBadgeGap = 6;
constexpr qreal kRowRadius = 8;

int rowHeight()
{
    const qreal line = std::max({ QFontMetricsF(Quillet::caption()).height(), QFontMetricsF(Quillet::body()).height(),
        badgeSize(QStringLiteral("M")).height() });
    return int(std::ceil(line + 2 * kRowPaddingY));
}

} // namespace

DayList::DayList(QWidget* parent)
    : QWidget(parent)
    , m_accessible(*this,
          { [this] { return int(m_rows.size()); }, [this](int row) { return accessibleRow(row); },
              [this] { return currentRow(); },
              [this](int row, const QString& action) { accessibleAction(row, action); },
              [this](int row) { return QRect(0, m_rows.at(row).top, width(), m_rows.at(row).height); } })
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // Reached by Tab only: a click chooses a row at once and needs no focus.
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(tr("Coming up"));
}

void DayList::setGroups(const QList<ComingUpAgenda::DayGroup>& groups)
{
    m_rows.clear();
    m_pressed = -1;
    const int titleHeight = int(std::ceil(QFontMetricsF(EditorialLabel::trackedFont()).height()));
    const int eventHeight = rowHeight();
    int y = 0;
    for (const ComingUpAgenda::DayGroup& group : groups) {
        if (!m_rows.isEmpty())
            y += kGroupSpacing;
        Row title;
        title.groupTitle = group.title;
        title.top = y;
        title.height = titleHeight;
        m_rows.append(title);
        y += titleHeight;
        for (const EventInfo& event : group.events) {
            y += kRowSpacing;
            Row row;
            row.event = event;
            row.time = ComingUpText::startTime(event.startDate);
            row.title = ComingUpText::title(event.title);
            row.badge = badgeText(event).value_or(QString());
            row.top = y;
            row.height = eventHeight;
            m_rows.append(std::move(row));
            y += eventHeight;
        }
    }
    m_height = y;
    m_accessible.reset();
    // The keyboard's event is over or gone: the focus stays visible on the first row.
    if (hasFocus() && currentRow() < 0) {
        if (const int first = eventFrom(0, 1); first >= 0) {
            m_currentId = m_rows.at(first).event.id;
            m_accessible.currentChanged();
        }
    }
    updateGeometry();
    update();
}

QList<EventInfo> DayList::events() const
{
    QList<EventInfo> events;
    for (const Row& row : m_rows) {
        if (row.groupTitle.isEmpty())
            events.append(row.event);
    }
    return events;
}

QRect DayList::rowRect(const QString& eventId) const
{
    for (const Row& row : m_rows) {
        if (row.groupTitle.isEmpty() && row.event.id == eventId)
            return { 0, row.top, width(), row.height };
    }
    return {};
}

QString DayList::timeOf(const QString& eventId) const
{
    for (const Row& row : m_rows) {
        if (row.groupTitle.isEmpty() && row.event.id == eventId)
            return row.time;
    }
    return {};
}

QSize DayList::sizeHint() const
{
    return { 200, m_height };
}

QSize DayList::minimumSizeHint() const
{
    return { 0, m_height };
}

int DayList::rowAt(const QPoint& position) const
{
    // The last row starting at or above the point, if the point is inside it.
    const auto after = std::upper_bound(
        m_rows.cbegin(), m_rows.cend(), position.y(), [](int y, const Row& row) { return y < row.top; });
    if (after == m_rows.cbegin())
        return -1;
    const int index = int(after - m_rows.cbegin()) - 1;
    const Row& row = m_rows.at(index);
    return row.groupTitle.isEmpty() && position.y() < row.top + row.height && rect().contains(position) ? index : -1;
}

void DayList::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFont titleFont = EditorialLabel::trackedFont();
    const QFont timeFont = Quillet::caption();
    const QFont bodyFont = Quillet::body();
    const QFontMetricsF titleMetrics(titleFont);
    const QFontMetricsF timeMetrics(timeFont);
    const QFontMetricsF bodyMetrics(bodyFont);
    const QColor primary = Quillet::primary(palette());
    const QColor secondary = Quillet::secondary(palette());
    const QColor fill = Quillet::cardFill(palette());
    // Only what shows: the list can be far taller than the page's view of it.
    const QRect area = event->rect() & visibleRegion().boundingRect();
    const int current = FocusRing::shows(*this) ? currentRow() : -1;

    for (int index = 0; index < m_rows.size(); ++index) {
        const Row& row = m_rows.at(index);
        if (row.top > area.bottom())
            break;
        if (row.top + row.height < area.top())
            continue;
        if (!row.groupTitle.isEmpty()) {
            painter.setFont(titleFont);
            painter.setPen(secondary);
            painter.drawText(QPointF(0, row.top + titleMetrics.ascent()), row.groupTitle.toUpper());
            continue;
        }
        const QRectF box(0, row.top, width(), row.height);
        QPainterPath shape;
        shape.addRoundedRect(box, kRowRadius, kRowRadius);
        painter.fillPath(shape, fill);
        if (index == current)
            FocusRing::paint(painter, box, kRowRadius);
        painter.setOpacity(index == m_pressed ? kPressedOpacity : 1);
        const QRectF content = box.adjusted(kRowPaddingX, kRowPaddingY, -kRowPaddingX, -kRowPaddingY);

        painter.setFont(timeFont);
        painter.setPen(secondary);
        painter.drawText(QRectF(content.left(), content.top(), kTimeColumn, content.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            timeMetrics.elidedText(row.time, Qt::ElideRight, kTimeColumn));

        qreal right = content.right();
        if (!row.badge.isEmpty()) {
            const QSizeF size = badgeSize(row.badge);
            const QRectF badge(
                right - size.width(), content.center().y() - size.height() / 2, size.width(), size.height());
            paintBadge(painter, badge, row.badge, palette());
            right = badge.left() - kBadgeGap;
        }
        const qreal left = content.left() + kTimeColumn + kRowSpacingInside;
        const qreal titleWidth = std::max<qreal>(0, right - left);
        painter.setFont(bodyFont);
        painter.setPen(primary);
        painter.drawText(QRectF(left, content.top(), titleWidth, content.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            bodyMetrics.elidedText(row.title, Qt::ElideRight, titleWidth));
        painter.setOpacity(1);
    }
}

void DayList::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_pressed = rowAt(event->position().toPoint());
    if (m_pressed >= 0)
        update(0, m_rows.at(m_pressed).top, width(), m_rows.at(m_pressed).height);
}

void DayList::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || m_pressed < 0)
        return QWidget::mouseReleaseEvent(event);
    const int pressed = std::exchange(m_pressed, -1);
    update(0, m_rows.at(pressed).top, width(), m_rows.at(pressed).height);
    if (rowAt(event->position().toPoint()) != pressed)
        return;
    // The owner may rebuild the list (or the page) in answer: the event is copied first.
    const EventInfo chosenEvent = m_rows.at(pressed).event;
    emit chosen(chosenEvent);
}

QString DayList::currentEventId() const
{
    return currentRow() >= 0 ? m_currentId : QString();
}

int DayList::eventFrom(int row, int step) const
{
    for (; row >= 0 && row < m_rows.size(); row += step) {
        if (m_rows.at(row).groupTitle.isEmpty())
            return row;
    }
    return -1;
}

int DayList::currentRow() const
{
    if (m_currentId.isEmpty())
        return -1;
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).groupTitle.isEmpty() && m_rows.at(row).event.id == m_currentId)
            return row;
    }
    return -1;
}

void DayList::setCurrentRow(int row)
{
    if (const int before = currentRow(); before >= 0)
        update(0, m_rows.at(before).top, width(), m_rows.at(before).height);
    const bool moved = m_currentId != m_rows.at(row).event.id;
    m_currentId = m_rows.at(row).event.id;
    if (moved)
        m_accessible.currentChanged();
    update(0, m_rows.at(row).top, width(), m_rows.at(row).height);
    ReadingColumn::reveal(*this);
}

std::optional<AccessibleRows::Row> DayList::accessibleRow(int row) const
{
    const Row& shown = m_rows.at(row);
    AccessibleRows::Row read;
    read.rect = QRect(0, shown.top, width(), shown.height);
    if (!shown.groupTitle.isEmpty()) {
        read.role = QAccessible::Heading;
        read.name = shown.groupTitle;
        return read;
    }
    read.name = shown.title;
    read.description = shown.badge.isEmpty() ? shown.time : shown.time + QStringLiteral(", ") + shown.badge;
    read.actions = { QAccessibleActionInterface::pressAction() };
    return read;
}

void DayList::accessibleAction(int row, const QString& action)
{
    if (action != QAccessibleActionInterface::pressAction() || !m_rows.at(row).groupTitle.isEmpty())
        return;
    // The owner may rebuild the list (or the page) in answer: the event is copied first.
    const EventInfo chosenEvent = m_rows.at(row).event;
    emit chosen(chosenEvent);
}

void DayList::keyPressEvent(QKeyEvent* event)
{
    const int current = currentRow();
    int target = -1;
    switch (event->key()) {
    case Qt::Key_Down:
        target = eventFrom(current + 1, 1);
        break;
    case Qt::Key_Up:
        target = current < 0 ? eventFrom(0, 1) : eventFrom(current - 1, -1);
        break;
    case Qt::Key_Home:
        target = eventFrom(0, 1);
        break;
    case Qt::Key_End:
        target = eventFrom(int(m_rows.size()) - 1, -1);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (current >= 0 && !event->isAutoRepeat()) {
            // The owner may rebuild the list (or the page) in answer: the event is copied first.
            const EventInfo chosenEvent = m_rows.at(current).event;
            emit chosen(chosenEvent);
        }
        return;
    default:
        return QWidget::keyPressEvent(event);
    }
    // At either end the key is still the list's: the page does not scroll away from the row.
    if (target >= 0)
        setCurrentRow(target);
}

void DayList::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    const int row = currentRow() >= 0 ? currentRow() : eventFrom(0, 1);
    if (row >= 0)
        setCurrentRow(row);
    m_accessible.focusedLater();
}

void DayList::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    if (const int row = currentRow(); row >= 0)
        update(0, m_rows.at(row).top, width(), m_rows.at(row).height);
}

QVariant DayList::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // What a scroll area keeps in view of the list: the current row.
    if (query == Qt::ImCursorRectangle) {
        if (const int row = currentRow(); row >= 0)
            return QRect(0, m_rows.at(row).top, width(), m_rows.at(row).height);
    }
    return QWidget::inputMethodQuery(query);
}

} // namespace ComingUp
