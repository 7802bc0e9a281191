#include "ui/ComingUpParts.h"

#include "calendar/EventKind.h"
#include "library/ComingUpText.h"
#include "ui/EditorialLabel.h"
#include "ui/PillButton.h"
#include "ui/Quillet.h"
#include "ui/RecordingDot.h"
#include "ui/ToneLabel.h"

#include <QCoreApplication>
#include <QHBoxLayout>
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

// --- PlainButton -------------------------------------------------------------------------

PlainButton::PlainButton(const QString& text, QWidget* parent)
    : QAbstractButton(parent)
{
    setText(text);
    setFont(Quillet::font(12.5));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PlainButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return QSizeF(std::ceil(metrics.horizontalAdvance(text())) + 4, std::ceil(metrics.height()) + 4).toSize();
}

void PlainButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (isDown())
        painter.setOpacity(kPressedOpacity);
    painter.setPen(Quillet::secondary(palette()));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
    if (hasFocus()) {
        painter.setPen(QPen(Quillet::withOpacity(Quillet::accent(), 0.5), 1));
        painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
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
    m_join = new PlainButton(QCoreApplication::translate("ComingUpPanel", "Join"), this);
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

// --- QuietRow ----------------------------------------------------------------------------

QuietRow::QuietRow(const EventInfo& event, QWidget* parent)
    : QAbstractButton(parent)
    , m_event(event)
    , m_time(ComingUpText::startTime(event.startDate))
    , m_badge(badgeText(event).value_or(QString()))
{
    setText(ComingUpText::title(event.title));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
}

QSize QuietRow::sizeHint() const
{
    const qreal line = std::max({ QFontMetricsF(Quillet::caption()).height(), QFontMetricsF(Quillet::body()).height(),
        m_badge.isEmpty() ? 0.0 : badgeSize(m_badge).height() });
    return { 200, int(std::ceil(line)) + 14 };
}

void QuietRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(shape, Quillet::cardFill(palette()));
    if (hasFocus()) {
        painter.setPen(QPen(Quillet::withOpacity(Quillet::accent(), 0.5), 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 7, 7);
    }
    if (isDown())
        painter.setOpacity(kPressedOpacity);
    const QRectF content = QRectF(rect()).adjusted(10, 7, -10, -7);

    const QFontMetricsF timeMetrics(Quillet::caption());
    painter.setFont(Quillet::caption());
    painter.setPen(Quillet::secondary(palette()));
    painter.drawText(QRectF(content.left(), content.top(), kTimeColumn, content.height()),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        timeMetrics.elidedText(m_time, Qt::ElideRight, kTimeColumn));

    qreal right = content.right();
    if (!m_badge.isEmpty()) {
        const QSizeF size = badgeSize(m_badge);
        const QRectF badge(right - size.width(), content.center().y() - size.height() / 2, size.width(), size.height());
        paintBadge(painter, badge, m_badge, palette());
        right = badge.left() - 6;
    }
    const qreal left = content.left() + kTimeColumn + 10;
    const qreal width = std::max<qreal>(0, right - left);
    const QFontMetricsF titleMetrics(Quillet::body());
    painter.setFont(Quillet::body());
    painter.setPen(Quillet::primary(palette()));
    painter.drawText(QRectF(left, content.top(), width, content.height()),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, titleMetrics.elidedText(text(), Qt::ElideRight, width));
}

} // namespace ComingUp
