#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/RecordingDot.h"
#include "ui/design/ScrollIndicator.h"
#include "ui/design/Symbols.h"
#include "ui/workspace/LatestCapsule.h"
#include "ui/workspace/TranscriptFeedParts.h"
#include "ui/workspace/TranscriptFeedView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <algorithm>
#include <cmath>

// What the feed paints, how it follows the newest line, and how it answers the mouse, the
// focus and the scroll bar.

using namespace TranscriptFeedParts;

bool TranscriptFeedView::isNearEnd() const
{
    // A scroll to the end under way counts as being there.
    return m_follow.state() == QAbstractAnimation::Running || distanceFromBottom() <= kFollowThreshold;
}

void TranscriptFeedView::scrollToEndNow()
{
    m_follow.stop();
    QScrollBar* bar = verticalScrollBar();
    // Bubbles measured on the way can move the end; a few rounds settle it.
    for (int pass = 0; pass < 4 && bar->value() != bar->maximum(); ++pass)
        bar->setValue(bar->maximum());
}

void TranscriptFeedView::animateToEnd(std::function<void()> done)
{
    m_follow.stop();
    m_followDone = std::move(done);
    if (!isVisible()) {
        // Nobody sees the movement: no frames.
        scrollToEndNow();
        if (auto finished = std::exchange(m_followDone, nullptr))
            finished();
        return;
    }
    m_followFrom = verticalScrollBar()->value();
    m_follow.setDuration(kFollowMs);
    m_follow.start();
}

void TranscriptFeedView::jumpToLatest()
{
    animateToEnd([this] { setHasUnseen(false); });
}

void TranscriptFeedView::setHasUnseen(bool hasUnseen)
{
    if (hasUnseen == m_hasUnseen)
        return;
    m_hasUnseen = hasUnseen;
    placeOverlays();
    m_latest->setPresent(hasUnseen);
    emit hasUnseenChanged(hasUnseen);
}

void TranscriptFeedView::placeOverlays()
{
    const QRect area = viewport()->geometry();
    const QSize capsule = m_latest->sizeHint();
    m_latest->setGeometry(area.right() + 1 - 14 - capsule.width() + LatestCapsule::kShadowMargin,
        area.bottom() + 1 - 12 - capsule.height() + LatestCapsule::kShadowMargin, capsule.width(), capsule.height());

    const int value = verticalScrollBar()->value();
    const bool listening = liveRow() == LiveRow::listening;
    const int rowTop = m_liveTop + kLiveRowTopPadding - value;
    const int rowHeight = m_liveHeight - kLiveRowTopPadding;
    const bool dotInView = listening && rowTop + rowHeight > 0 && rowTop < viewport()->height();
    if (dotInView) {
        m_recordingDot->setGeometry(columnLeft(), rowTop + (rowHeight - kLiveDotSide) / 2, kLiveDotSide, kLiveDotSide);
    }
    if (dotInView != m_recordingDot->isVisibleTo(viewport()))
        m_recordingDot->setVisible(dotInView);

    if (m_selection) {
        const auto found = std::find_if(
            m_bubbles.begin(), m_bubbles.end(), [&](const Bubble& bubble) { return bubble.id == m_selectionId; });
        if (found == m_bubbles.end()) {
            closeSelection();
        } else {
            const QRect bubble = bubbleRect(int(found - m_bubbles.begin()));
            m_selection->move(bubble.topLeft() + QPoint(kBubblePadH, kBubblePadV));
        }
    }
}

void TranscriptFeedView::startDots()
{
    m_dotPhase = 0;
    m_previousDotPhase = 0;
    m_dotFade.stop();
    m_dotFadeProgress = 1;
    const quint64 generation = ++m_dotGeneration;
    if (isVisible())
        m_scheduler.schedule(kDotStep, this, [this, generation] { stepDots(generation); });
}

void TranscriptFeedView::stopDots()
{
    ++m_dotGeneration;
    m_dotFade.stop();
}

void TranscriptFeedView::stepDots(quint64 generation)
{
    if (generation != m_dotGeneration)
        return;
    m_previousDotPhase = m_dotPhase;
    m_dotPhase = (m_dotPhase + 1) % 3;
    m_dotFade.stop();
    m_dotFadeProgress = 0;
    m_dotFade.start();
    viewport()->update(dotsRect().toAlignedRect().adjusted(-1, -1, 1, 1));
    m_scheduler.schedule(kDotStep, this, [this, generation] { stepDots(generation); });
}

QRectF TranscriptFeedView::dotsRect() const
{
    const int value = verticalScrollBar()->value();
    const qreal left = columnLeft() + kBubblePadH + m_draftTextWidth + kDraftDotsGap;
    const qreal bottom = m_liveTop + kBubblePadV + m_draftTextHeight - value - 4;
    return QRectF(left, bottom - kDotSide, kDotsWidth, kDotSide);
}

QColor TranscriptFeedView::background() const
{
    // The pane's tint laid over the window, as one opaque colour for the fades to blend into.
    const QColor window = palette().color(QPalette::Window);
    const QColor tint = Quillet::cardFill(palette());
    const qreal a = tint.alphaF();
    return QColor::fromRgbF(float(window.redF() * (1 - a) + tint.redF() * a),
        float(window.greenF() * (1 - a) + tint.greenF() * a), float(window.blueF() * (1 - a) + tint.blueF() * a));
}

void TranscriptFeedView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QColor ground = background();
    painter.fillRect(event->rect(), ground);
    painter.setRenderHint(QPainter::Antialiasing);

    const int value = verticalScrollBar()->value();
    const int height = viewport()->height();
    const QColor ink = Quillet::primary(palette());
    const QRect dirty = event->rect();
    const auto [first, last] = rowsBetween(value + dirty.top(), value + dirty.bottom() + 1);
    painter.setPen(Qt::NoPen);
    for (int i = first; i <= last; ++i) {
        Bubble& bubble = m_bubbles[size_t(i)];
        QTextLayout* layout = layoutOf(bubble);
        const QRectF box(columnLeft(), m_tops[size_t(i)] - value, bubble.width, bubble.height);
        Quillet::fillRoundedRect(painter, box, 14, Quillet::withOpacity(ink, bubble.isMe ? 0.085 : 0.035));
        if (m_selection && bubble.id == m_selectionId)
            continue; // the selectable editor shows the text
        painter.setPen(Quillet::withOpacity(ink, 0.9));
        layout->draw(&painter, box.topLeft() + QPointF(kBubblePadH, kBubblePadV));
    }

    const LiveRow live = liveRow();
    const qreal liveTop = m_liveTop - value;
    if (live != LiveRow::none && liveTop < dirty.bottom() + 1 && liveTop + m_liveHeight > dirty.top()) {
        const QColor tertiary = Quillet::tertiary(palette());
        if (live == LiveRow::draft) {
            painter.setPen(tertiary);
            m_draftLayout->draw(&painter, QPointF(columnLeft() + kBubblePadH, liveTop + kBubblePadV));
            const QRectF dots = dotsRect();
            painter.setPen(Qt::NoPen);
            for (int i = 0; i < 3; ++i) {
                const auto lit = [i](int phase) { return i == phase ? 1.0 : 0.3; };
                const qreal opacity
                    = lit(m_previousDotPhase) + (lit(m_dotPhase) - lit(m_previousDotPhase)) * m_dotFadeProgress;
                painter.setBrush(Quillet::withOpacity(tertiary, opacity));
                painter.drawEllipse(QRectF(dots.left() + i * (kDotSide + kDotSpacing), dots.top(), kDotSide, kDotSide));
            }
        } else {
            const QRectF row(
                columnLeft(), liveTop + kLiveRowTopPadding, viewport()->width(), m_liveHeight - kLiveRowTopPadding);
            if (live == LiveRow::paused) {
                painter.setPen(Qt::NoPen);
                painter.setBrush(Quillet::secondary(palette()));
                painter.drawEllipse(
                    QRectF(row.left(), row.center().y() - kLiveDotSide / 2.0, kLiveDotSide, kLiveDotSide));
            }
            const bool problem = live == LiveRow::listening && !m_problem.isEmpty();
            painter.setPen(problem ? Quillet::accent() : tertiary);
            painter.setFont(liveRowFont());
            // Within the column, so a long problem is cut where the bubbles end.
            const qreal textLeft = row.left() + kLiveDotSide + kLiveRowSpacing;
            const QRectF textBox(
                textLeft, row.top(), std::max(0.0, viewport()->width() - columnLeft() - textLeft), row.height());
            painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                QFontMetricsF(liveRowFont()).elidedText(listeningRowText(), Qt::ElideRight, textBox.width()));
        }
    }

    // The top and bottom edges fade into the pane.
    const qreal fade = height * kFadeFraction;
    if (fade >= 1) {
        QColor clear = ground;
        clear.setAlpha(0);
        QLinearGradient top(0, 0, 0, fade);
        top.setColorAt(0, ground);
        top.setColorAt(1, clear);
        painter.fillRect(QRectF(0, 0, viewport()->width(), fade), top);
        QLinearGradient bottom(0, height - fade, 0, height);
        bottom.setColorAt(0, clear);
        bottom.setColorAt(1, ground);
        painter.fillRect(QRectF(0, height - fade, viewport()->width(), fade), bottom);
    }
    // The keyboard's row, or the feed itself while it has no row.
    if (FocusRing::shows(*this)) {
        if (const int row = currentRow(); row >= 0)
            FocusRing::paint(painter, QRectF(rowRect(row)).adjusted(-3, -3, 3, 3), 17);
        else
            FocusRing::paint(painter, QRectF(viewport()->rect()), 6);
    }
}

void TranscriptFeedView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    // Reading goes on from the keyboard's row while it shows, else from the first row in view.
    const int count = rowCount();
    if (count > 0) {
        const QRect view = viewport()->rect();
        int row = currentRow();
        if (row < 0 || !rowRect(row).intersects(view)) {
            const auto [first, last] = rowsBetween(verticalScrollBar()->value(), verticalScrollBar()->value() + 1);
            row = std::clamp(first, 0, count - 1);
            if (row < bubbleCount() && rowRect(row).bottom() < view.top() + 8 && row + 1 < count)
                ++row;
        }
        m_current = row;
        m_currentId = row < bubbleCount() ? m_bubbles.at(size_t(row)).id : QUuid();
        revealRow(row);
    }
    viewport()->update();
    m_accessible.focusedLater();
}

void TranscriptFeedView::keyPressEvent(QKeyEvent* event)
{
    const int row = AccessibleRows::rowAfterKey(
        *event, currentRow(), rowCount(), viewport()->height(), [this](int index) { return rowRect(index).top(); });
    if (row < 0)
        return QAbstractScrollArea::keyPressEvent(event);
    setCurrentRow(row);
    event->accept();
}

void TranscriptFeedView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TranscriptFeedView::resizeEvent(QResizeEvent* event)
{
    // A live feed that was following keeps following through a resize of its pane.
    const bool follow = m_isLive && m_viewportMeasured && isNearEnd();
    QAbstractScrollArea::resizeEvent(event);
    relayout();
    if (follow)
        scrollToEndNow();
}

void TranscriptFeedView::scrollContentsBy(int, int)
{
    if (!m_adjusting) {
        const bool adjusting = std::exchange(m_adjusting, true);
        measureAroundViewport();
        m_adjusting = adjusting;
    }
    placeOverlays();
    viewport()->update();
}

void TranscriptFeedView::showEvent(QShowEvent* event)
{
    QAbstractScrollArea::showEvent(event);
    const bool appearedBefore = m_appeared;
    m_appeared = true;
    m_viewportMeasured = true;
    relayout();
    if (std::exchange(m_staleWhileHidden, false) && appearedBefore)
        regroup();
    if (liveRow() == LiveRow::draft)
        startDots();
}

void TranscriptFeedView::hideEvent(QHideEvent* event)
{
    stopDots();
    m_follow.stop();
    closeSelection();
    QAbstractScrollArea::hideEvent(event);
}

void TranscriptFeedView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_layouts.clear();
        for (Bubble& bubble : m_bubbles)
            estimate(bubble);
        relayout();
    } else if (event->type() == QEvent::PaletteChange) {
        viewport()->update();
    }
}

int TranscriptFeedView::bubbleAt(const QPoint& viewportPos) const
{
    const int y = viewportPos.y() + verticalScrollBar()->value();
    const auto [first, last] = rowsBetween(y, y + 1);
    for (int i = first; i <= last; ++i) {
        if (bubbleRect(i).contains(viewportPos))
            return i;
    }
    return -1;
}

void TranscriptFeedView::openSelection(int index)
{
    closeSelection();
    Bubble& bubble = m_bubbles[size_t(index)];
    auto* editor = new QTextEdit(viewport());
    editor->setReadOnly(true);
    editor->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    editor->setFrameShape(QFrame::NoFrame);
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor->setLineWrapMode(QTextEdit::FixedPixelWidth);
    editor->setLineWrapColumnOrWidth(textWidth());
    editor->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    editor->document()->setDocumentMargin(0);
    editor->setFont(bubbleFont());
    editor->viewport()->setAutoFillBackground(false);
    QPalette colors = editor->palette();
    colors.setColor(QPalette::Base, Qt::transparent);
    colors.setColor(QPalette::Text, Quillet::withOpacity(Quillet::primary(palette()), 0.9));
    editor->setPalette(colors);
    editor->setPlainText(textOf(bubble));
    QTextCursor all(editor->document());
    all.select(QTextCursor::Document);
    QTextBlockFormat spacing;
    spacing.setLineHeight(kLineSpacing, QTextBlockFormat::LineDistanceHeight);
    all.mergeBlockFormat(spacing);
    const QRect box = bubbleRect(index);
    editor->setGeometry(box.left() + kBubblePadH, box.top() + kBubblePadV, textWidth() + 2,
        box.height() - 2 * kBubblePadV + int(kLineSpacing) + 2);
    editor->show();
    m_selection = editor;
    m_selectionId = bubble.id;
    viewport()->update(box);
}

void TranscriptFeedView::closeSelection()
{
    if (!m_selection)
        return;
    m_selection->hide();
    m_selection->deleteLater();
    m_selection = nullptr;
    m_forwardingMouse = false;
    m_selectionId = QUuid();
    viewport()->update();
}

void TranscriptFeedView::mousePressEvent(QMouseEvent* event)
{
    const int index = event->button() == Qt::LeftButton ? bubbleAt(event->position().toPoint()) : -1;
    if (index < 0) {
        closeSelection();
        event->accept();
        return;
    }
    openSelection(index);
    m_forwardingMouse = true;
    mouseMoveEvent(event);
}

void TranscriptFeedView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_forwardingMouse || !m_selection)
        return QAbstractScrollArea::mouseMoveEvent(event);
    // The press landed on the painted bubble; the editor now over it takes the gesture.
    QWidget* target = m_selection->viewport();
    const QPointF local = target->mapFrom(viewport(), event->position().toPoint());
    QMouseEvent forwarded(event->type(), local, event->globalPosition(), event->button(), event->buttons(),
        event->modifiers(), event->pointingDevice());
    QCoreApplication::sendEvent(target, &forwarded);
}

void TranscriptFeedView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_forwardingMouse || !m_selection) {
        event->accept();
        return;
    }
    mouseMoveEvent(event);
    m_forwardingMouse = false;
}
