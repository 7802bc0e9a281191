#include "ui/workspace/TranscriptFeedView.h"

#include "format/TimeText.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/RecordingDot.h"
#include "ui/design/ScrollIndicator.h"
#include "ui/design/Symbols.h"
#include "ui/workspace/LatestCapsule.h"
#include "ui/workspace/TranscriptFeedParts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <algorithm>
#include <cmath>

using namespace TranscriptFeedParts;

QList<TranscriptGroup> TranscriptFeedView::groups(QList<TranscriptSegment*> segments)
{
    std::stable_sort(segments.begin(), segments.end(),
        [](const TranscriptSegment* a, const TranscriptSegment* b) { return a->timestamp() < b->timestamp(); });
    QList<TranscriptGroup> result;
    result.reserve(segments.size());
    for (const TranscriptSegment* segment : std::as_const(segments)) {
        const Speaker speaker = segment->speaker();
        const double at = segment->timestamp();
        if (!result.isEmpty()) {
            TranscriptGroup& last = result.last();
            if (last.speaker == speaker && at - last.endsAt <= kJoinGap) {
                last.lines.append(segment->text());
                last.endsAt = at;
                continue;
            }
        }
        result.append(TranscriptGroup { segment->id(), speaker, { segment->text() }, at, at });
    }
    return result;
}

TranscriptFeedView::TranscriptFeedView(
    Meeting* meeting, bool isLive, bool isPaused, const QString& draft, Scheduler& scheduler, QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_meeting(meeting)
    , m_isLive(isLive)
    , m_isPaused(isPaused)
    , m_draft(draft)
    , m_scheduler(scheduler)
    , m_layouts(400)
    , m_recordingDot(new RecordingDot(kLiveDotSide, viewport()))
    , m_latest(new LatestCapsule(this))
    , m_accessible(*this,
          { [this] { return rowCount(); }, [this](int row) { return accessibleRow(row); },
              [this] { return currentRow(); }, [](int, const QString&) {},
              [this](int row) { return rowRect(row).translated(viewport()->pos()); } })
{
    setAccessibleName(QStringLiteral("Transcript"));
    setFrameShape(QFrame::NoFrame);
    setAccessibleName(tr("Transcript"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBar(new ScrollIndicator(Qt::Vertical));
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    m_recordingDot->hide();

    m_follow.setEasingCurve(Quillet::easeOut());
    m_follow.setStartValue(0.0);
    m_follow.setEndValue(1.0);
    connect(&m_follow, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        QScrollBar* bar = verticalScrollBar();
        // The end may move while the animation runs (a bubble measured, another line): aim at
        // wherever it is now.
        const bool following = std::exchange(m_followStepping, true);
        bar->setValue(m_followFrom + qRound((bar->maximum() - m_followFrom) * value.toReal()));
        m_followStepping = following;
    });
    connect(&m_follow, &QVariantAnimation::finished, this, [this] {
        scrollToEndNow();
        if (auto done = std::exchange(m_followDone, nullptr))
            done();
    });

    m_dotFade.setDuration(kDotFadeMs);
    m_dotFade.setEasingCurve(Quillet::easeInOut());
    m_dotFade.setStartValue(0.0);
    m_dotFade.setEndValue(1.0);
    connect(&m_dotFade, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_dotFadeProgress = value.toReal();
        viewport()->update(dotsRect().toAlignedRect().adjusted(-1, -1, 1, 1));
    });

    connect(m_latest, &QAbstractButton::clicked, this, &TranscriptFeedView::jumpToLatest);
    // The reader scrolling while the view moves to the end takes over.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!m_followStepping && !m_adjusting && m_follow.state() == QAbstractAnimation::Running) {
            m_follow.stop();
            m_followDone = nullptr;
        }
    });
    const auto unseenCheck = [this] {
        if (m_hasUnseen && m_viewportMeasured && distanceFromBottom() <= kFollowThreshold)
            setHasUnseen(false);
    };
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, unseenCheck);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, unseenCheck);

    if (m_meeting)
        connect(m_meeting, &Meeting::segmentsChanged, this, &TranscriptFeedView::segmentsChanged);
    regroup();
    layoutLiveRow();
    recomputeTops();
}

TranscriptFeedView::~TranscriptFeedView() = default;

QString TranscriptFeedView::bubbleText(int index) const
{
    return m_bubbles.at(size_t(index)).lines.join(QLatin1Char(' '));
}

std::optional<AccessibleRows::Row> TranscriptFeedView::accessibleRow(int row) const
{
    AccessibleRows::Row read;
    read.rect = rowRect(row).translated(viewport()->pos());
    if (row == bubbleCount()) {
        // The live row is told apart from the bubble that takes its place when a turn comes.
        read.identity = &m_draft;
        read.name = liveRow() == LiveRow::draft ? m_draft : listeningRowText();
        return read;
    }
    const Bubble& bubble = m_bubbles.at(size_t(row));
    read.name
        = tr("%1, %2: %3")
              .arg(bubble.speaker.rawValue(), formatElapsed(bubble.startsAt), bubble.lines.join(QLatin1Char(' ')));
    return read;
}

QRect TranscriptFeedView::rowRect(int row) const
{
    if (row < bubbleCount())
        return bubbleRect(row);
    const int top = m_liveTop - verticalScrollBar()->value();
    if (liveRow() == LiveRow::draft)
        return QRect(
            columnLeft(), top, 2 * kBubblePadH + m_draftTextWidth + kDraftDotsGap + int(kDotsWidth), m_liveHeight);
    const int text = QFontMetrics(liveRowFont()).horizontalAdvance(listeningRowText());
    const int width = std::min(kLiveDotSide + kLiveRowSpacing + text, viewport()->width() - 2 * columnLeft());
    return QRect(
        columnLeft(), top + kLiveRowTopPadding, std::max(width, kLiveDotSide), m_liveHeight - kLiveRowTopPadding);
}

int TranscriptFeedView::currentRow() const
{
    return m_current < rowCount() ? m_current : -1;
}

void TranscriptFeedView::setCurrentRow(int row)
{
    const bool moved = row != m_current;
    m_current = row;
    m_currentId = row >= 0 && row < bubbleCount() ? m_bubbles.at(size_t(row)).id : QUuid();
    revealRow(row);
    viewport()->update();
    if (moved)
        m_accessible.currentChanged();
}

void TranscriptFeedView::revealRow(int row)
{
    constexpr int kMargin = 8;
    if (row < 0 || row >= rowCount())
        return;
    QScrollBar* bar = verticalScrollBar();
    // Measured first, and again where the scroll measured the bubbles around it anew.
    for (int pass = 0; pass < 3; ++pass) {
        if (row < bubbleCount() && m_bubbles[size_t(row)].measuredAt != textWidth()) {
            measure(m_bubbles[size_t(row)]);
            recomputeTops();
            updateScrollRange();
        }
        const QRect place = rowRect(row);
        const int visible = viewport()->height();
        int value = bar->value();
        if (place.top() < kMargin)
            value += place.top() - kMargin;
        else if (place.bottom() + 1 > visible - kMargin)
            value += std::min(place.top() - kMargin, place.bottom() + 1 - visible + kMargin);
        if (value == bar->value())
            return;
        bar->setValue(value);
    }
}

QRect TranscriptFeedView::bubbleRect(int index) const
{
    const Bubble& bubble = m_bubbles.at(size_t(index));
    return QRect(columnLeft(), m_tops.at(size_t(index)) - verticalScrollBar()->value(), bubble.width, bubble.height);
}

TranscriptFeedView::LiveRow TranscriptFeedView::liveRow() const
{
    if (!m_isLive)
        return LiveRow::none;
    if (!m_draft.isEmpty())
        return LiveRow::draft;
    return m_isPaused ? LiveRow::paused : LiveRow::listening;
}

int TranscriptFeedView::distanceFromBottom() const
{
    // Until the feed has been on screen it counts as being at the end.
    if (!m_viewportMeasured)
        return 0;
    const QScrollBar* bar = verticalScrollBar();
    return std::max(0, bar->maximum() - bar->value());
}

QAbstractButton* TranscriptFeedView::latestButton() const
{
    return m_latest;
}

void TranscriptFeedView::setLive(bool isLive)
{
    if (isLive == m_isLive)
        return;
    const LiveRow before = liveRow();
    m_isLive = isLive;
    layoutLiveRow();
    recomputeTops();
    updateScrollRange();
    if (before == LiveRow::draft && liveRow() != LiveRow::draft)
        stopDots();
    else if (before != LiveRow::draft && liveRow() == LiveRow::draft)
        startDots();
    placeOverlays();
    viewport()->update();
    m_accessible.reset();
    if (m_current >= rowCount())
        m_current = rowCount() - 1;
}

void TranscriptFeedView::setPaused(bool isPaused)
{
    if (isPaused == m_isPaused)
        return;
    m_isPaused = isPaused;
    layoutLiveRow();
    recomputeTops();
    updateScrollRange();
    placeOverlays();
    viewport()->update();
    m_accessible.changed();
}

void TranscriptFeedView::setProblem(const QString& problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    viewport()->update();
    m_accessible.changed();
}

QString TranscriptFeedView::listeningRowText() const
{
    if (!m_isPaused && !m_problem.isEmpty())
        return QStringLiteral("Not transcribing: ") + m_problem;
    return listeningText(m_isPaused);
}

void TranscriptFeedView::setDraft(const QString& draft)
{
    if (draft == m_draft)
        return;
    if (!isVisible()) {
        // Laid out when the feed is shown again; nobody sees the steps in between.
        m_draft = draft;
        m_staleWhileHidden = true;
        m_accessible.changed();
        return;
    }
    const bool near = isNearEnd();
    const LiveRow before = liveRow();
    m_draft = draft;
    layoutLiveRow();
    recomputeTops();
    updateScrollRange();
    if (before != LiveRow::draft && liveRow() == LiveRow::draft)
        startDots();
    else if (before == LiveRow::draft && liveRow() != LiveRow::draft)
        stopDots();
    // A new draft keeps the end in view without animation, and never counts as unseen.
    if (m_appeared && near)
        scrollToEndNow();
    placeOverlays();
    viewport()->update();
    m_accessible.changed();
}

void TranscriptFeedView::segmentsChanged()
{
    if (!isVisible() && m_appeared) {
        m_staleWhileHidden = true;
        return;
    }
    // Several changes in one turn of the event loop (a turn replaced by another) are one update.
    if (m_regroupPending)
        return;
    m_regroupPending = true;
    QMetaObject::invokeMethod(this, &TranscriptFeedView::regroup, Qt::QueuedConnection);
}

void TranscriptFeedView::regroup()
{
    m_regroupPending = false;
    const bool near = isNearEnd();
    const QList<TranscriptSegment*> segments = m_meeting ? m_meeting->segments() : QList<TranscriptSegment*>();
    const QList<TranscriptGroup> groups = TranscriptFeedView::groups(segments);

    // Bubbles that did not change keep their measurements; usually only the last one grew or a
    // new one follows it, so only the tail from the first difference is looked at again.
    const auto matches = [](const Bubble& bubble, const TranscriptGroup& group) {
        return bubble.id == group.id && bubble.speaker == group.speaker && bubble.startsAt == group.startsAt
            && sameLines(bubble.lines, group.lines);
    };
    const size_t wanted = size_t(groups.size());
    size_t same = 0;
    while (same < wanted && same < m_bubbles.size() && matches(m_bubbles[same], groups.at(qsizetype(same))))
        ++same;
    const bool changed = same < wanted || same < m_bubbles.size();
    if (changed) {
        std::vector<Bubble> tail(
            std::make_move_iterator(m_bubbles.begin() + qsizetype(same)), std::make_move_iterator(m_bubbles.end()));
        m_bubbles.resize(same);
        QHash<QUuid, size_t> tailIndex;
        for (size_t j = 0; j < tail.size(); ++j)
            tailIndex.insert(tail[j].id, j);
        for (size_t i = same; i < wanted; ++i) {
            const TranscriptGroup& group = groups.at(qsizetype(i));
            if (const auto found = tailIndex.constFind(group.id);
                found != tailIndex.constEnd() && matches(tail[*found], group)) {
                m_bubbles.push_back(std::move(tail[*found]));
                continue;
            }
            Bubble bubble;
            bubble.id = group.id;
            bubble.isMe = group.speaker.kind == Speaker::Kind::Me;
            bubble.speaker = group.speaker;
            bubble.startsAt = group.startsAt;
            bubble.lines = group.lines;
            for (const QString& line : group.lines)
                bubble.characters += line.size() + 1;
            m_layouts.remove(group.id);
            if (group.id == m_selectionId)
                closeSelection();
            estimate(bubble);
            m_bubbles.push_back(std::move(bubble));
        }
    }

    recomputeTops();
    updateScrollRange();
    measureAroundViewport();
    placeOverlays();
    viewport()->update();
    if (changed) {
        m_accessible.reset();
        // The keyboard's bubble keeps its place when others come or go; the live row stays the
        // live row; a bubble that went leaves its index to the next.
        const int before = m_current;
        if (!m_currentId.isNull()) {
            const auto found = std::find_if(
                m_bubbles.begin(), m_bubbles.end(), [&](const Bubble& bubble) { return bubble.id == m_currentId; });
            if (found != m_bubbles.end())
                m_current = int(found - m_bubbles.begin());
        } else if (m_current >= 0 && liveRow() != LiveRow::none) {
            m_current = bubbleCount();
        }
        m_current = std::min(m_current, rowCount() - 1);
        m_currentId = m_current >= 0 && m_current < bubbleCount() ? m_bubbles.at(size_t(m_current)).id : QUuid();
        if (m_current != before && hasFocus())
            m_accessible.currentChanged();
    }

    const qsizetype count = segments.size();
    const bool countChanged = count != m_segmentCount;
    m_segmentCount = count;
    if (!countChanged || !m_appeared)
        return;
    if (near)
        animateToEnd();
    else
        setHasUnseen(true);
}

const QString& TranscriptFeedView::textOf(Bubble& bubble)
{
    if (bubble.text.isNull())
        bubble.text = bubble.lines.join(QLatin1Char(' '));
    return bubble.text;
}

int TranscriptFeedView::textWidth() const
{
    const int column = std::min(viewport()->width() - 2 * kColumnInset, kColumnMaxWidth);
    return std::max(40, std::min(column, kBubbleMaxWidth) - 2 * kBubblePadH);
}

void TranscriptFeedView::estimate(Bubble& bubble) const
{
    const QFontMetrics metrics(bubbleFont());
    const int width = textWidth();
    const qreal advance = qreal(bubble.characters) * metrics.averageCharWidth();
    const int lines = std::max(1, int(std::ceil(advance / width)));
    bubble.height = lines * metrics.height() + int((lines - 1) * kLineSpacing) + 2 * kBubblePadV;
    bubble.width = int(std::min<qreal>(width, advance)) + 2 * kBubblePadH;
    bubble.measuredAt = -1;
}

std::unique_ptr<QTextLayout> TranscriptFeedView::makeLayout(
    const QString& text, int width, qreal* height, qreal* naturalWidth) const
{
    auto layout = std::make_unique<QTextLayout>(text, bubbleFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    qreal y = 0;
    qreal widest = 0;
    for (bool first = true;; first = false) {
        QTextLine line = layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (!first)
            y += kLineSpacing;
        line.setPosition(QPointF(0, y));
        y += line.height();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout->endLayout();
    *height = y;
    *naturalWidth = widest;
    return layout;
}

void TranscriptFeedView::measure(Bubble& bubble)
{
    const int width = textWidth();
    qreal height = 0;
    qreal natural = 0;
    std::unique_ptr<QTextLayout> layout = makeLayout(textOf(bubble), width, &height, &natural);
    bubble.height = int(std::ceil(height)) + 2 * kBubblePadV;
    bubble.width = int(std::ceil(natural)) + 2 * kBubblePadH;
    bubble.measuredAt = width;
    m_layouts.insert(bubble.id, layout.release());
}

QTextLayout* TranscriptFeedView::layoutOf(Bubble& bubble)
{
    if (bubble.measuredAt != textWidth())
        measure(bubble);
    if (QTextLayout* layout = m_layouts.object(bubble.id))
        return layout;
    // Measured earlier and since dropped from the cache: lay it out again, same result.
    measure(bubble);
    return m_layouts.object(bubble.id);
}

void TranscriptFeedView::layoutLiveRow()
{
    m_draftLayout.reset();
    m_draftTextHeight = 0;
    m_draftTextWidth = 0;
    switch (liveRow()) {
    case LiveRow::none:
        m_liveHeight = 0;
        return;
    case LiveRow::listening:
    case LiveRow::paused:
        m_liveHeight = kLiveRowTopPadding + std::max(kLiveDotSide, QFontMetrics(liveRowFont()).height());
        return;
    case LiveRow::draft:
        break;
    }
    const int column = std::min(viewport()->width() - 2 * kColumnInset, kColumnMaxWidth);
    const int width
        = std::max(40, std::min(column, kDraftMaxWidth) - 2 * kBubblePadH - int(kDotsWidth) - kDraftDotsGap);
    qreal height = 0;
    qreal natural = 0;
    m_draftLayout = makeLayout(m_draft, width, &height, &natural);
    m_draftTextHeight = int(std::ceil(height));
    m_draftTextWidth = int(std::ceil(natural));
    m_liveHeight = m_draftTextHeight + 2 * kBubblePadV;
}

void TranscriptFeedView::recomputeTops()
{
    int y = kPaddingTop;
    m_tops.resize(m_bubbles.size());
    for (size_t i = 0; i < m_bubbles.size(); ++i) {
        m_tops[i] = y;
        y += m_bubbles[i].height + kRowSpacing;
    }
    m_liveTop = y;
    if (liveRow() != LiveRow::none)
        y += m_liveHeight + kRowSpacing;
    // The invisible last row every scroll to the end aims at.
    y += 1;
    m_contentHeight = y + kPaddingBottom;
}

void TranscriptFeedView::updateScrollRange()
{
    QScrollBar* bar = verticalScrollBar();
    const int visible = viewport()->height();
    const bool adjusting = std::exchange(m_adjusting, true);
    bar->setPageStep(visible);
    bar->setSingleStep(24);
    bar->setRange(0, std::max(0, m_contentHeight - visible));
    m_adjusting = adjusting;
}

std::pair<int, int> TranscriptFeedView::rowsBetween(int top, int bottom) const
{
    // Bubbles lie in order, so both ends are found by bisection.
    auto firstAfter = std::upper_bound(m_tops.begin(), m_tops.end(), top);
    int first = std::max(0, int(firstAfter - m_tops.begin()) - 1);
    if (first < int(m_bubbles.size()) && m_tops[size_t(first)] + m_bubbles[size_t(first)].height < top)
        ++first;
    const int last = int(std::lower_bound(m_tops.begin(), m_tops.end(), bottom) - m_tops.begin()) - 1;
    return { first, last };
}

void TranscriptFeedView::measureAroundViewport()
{
    if (m_bubbles.empty())
        return;
    const int width = textWidth();
    const int visible = std::max(1, viewport()->height());
    QScrollBar* bar = verticalScrollBar();
    for (int pass = 0; pass < 4; ++pass) {
        const int value = bar->value();
        const auto [first, last] = rowsBetween(value - visible / 2, value + visible + visible / 2);
        const int anchor = rowsBetween(value, value).first;
        const int anchorOffset = anchor < int(m_tops.size()) ? m_tops[size_t(anchor)] - value : 0;
        const bool atEnd = value >= bar->maximum();
        bool changed = false;
        for (int i = first; i <= last; ++i) {
            Bubble& bubble = m_bubbles[size_t(i)];
            if (bubble.measuredAt == width)
                continue;
            const int before = bubble.height;
            measure(bubble);
            changed = changed || bubble.height != before;
        }
        if (!changed)
            return;
        // Heights found on the way replace estimates; what the reader sees stays where it is:
        // the end when they were there, else the row at the top.
        recomputeTops();
        updateScrollRange();
        const bool adjusting = std::exchange(m_adjusting, true);
        if (atEnd)
            bar->setValue(bar->maximum());
        else if (anchor < int(m_tops.size()))
            bar->setValue(m_tops[size_t(anchor)] - anchorOffset);
        m_adjusting = adjusting;
    }
}

void TranscriptFeedView::relayout()
{
    const int width = textWidth();
    if (width != m_laidOutWidth) {
        m_laidOutWidth = width;
        for (Bubble& bubble : m_bubbles) {
            if (bubble.measuredAt != width)
                estimate(bubble);
        }
        closeSelection();
    }
    layoutLiveRow();
    recomputeTops();
    updateScrollRange();
    measureAroundViewport();
    placeOverlays();
    viewport()->update();
}
