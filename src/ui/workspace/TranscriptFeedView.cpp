#include "ui/workspace/TranscriptFeedView.h"

#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "ui/design/FocusRing.h"
#include "ui/design/Quillet.h"
#include "ui/design/RecordingDot.h"
#include "ui/design/ScrollIndicator.h"
#include "ui/design/Symbols.h"

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

namespace {

constexpr int kPaddingTop = 14;
constexpr int kPaddingBottom = 14;
constexpr int kColumnInset = 36;
constexpr int kColumnMaxWidth = 660;
constexpr int kRowSpacing = 10;
constexpr int kBubbleMaxWidth = 700;
constexpr int kBubblePadH = 15;
constexpr int kBubblePadV = 12;
constexpr qreal kLineSpacing = 5;
constexpr int kDraftMaxWidth = 580;
constexpr qreal kDotSide = 3.5;
constexpr qreal kDotSpacing = 3;
constexpr qreal kDotsWidth = 3 * kDotSide + 2 * kDotSpacing;
constexpr int kDraftDotsGap = 6;
constexpr int kLiveDotSide = 7;
constexpr int kLiveRowTopPadding = 3;
constexpr int kLiveRowSpacing = 8;
constexpr qreal kFadeFraction = 0.035;
constexpr int kFollowMs = 250;
constexpr int kDotFadeMs = 280;
constexpr int kCapsuleMs = 180;

QFont bubbleFont()
{
    return Quillet::font(14);
}

QFont liveRowFont()
{
    return Quillet::font(12);
}

QString listeningText(bool paused)
{
    return paused ? QStringLiteral("Paused") : QStringLiteral("Listening…");
}

bool sameLines(const QStringList& a, const QStringList& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        // The groups share the segments' strings, so equal lines are usually the same data.
        if (a[i].size() != b[i].size() || (a[i].constData() != b[i].constData() && a[i] != b[i]))
            return false;
    }
    return true;
}

} // namespace

// The "Latest" capsule: slides and fades in at the feed's bottom-trailing corner.
class LatestCapsule final : public QAbstractButton
{
public:
    explicit LatestCapsule(QWidget* parent)
        : QAbstractButton(parent)
    {
        setToolTip(QStringLiteral("Jump to the newest line"));
        setAccessibleName(QStringLiteral("Latest"));
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        m_presence.setDuration(kCapsuleMs);
        m_presence.setEasingCurve(Quillet::easeOut());
        connect(&m_presence, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            m_progress = value.toReal();
            update();
        });
        connect(&m_presence, &QVariantAnimation::finished, this, [this] {
            if (!m_present)
                hide();
        });
        hide();
        resize(sizeHint());
    }

    void setPresent(bool present)
    {
        if (present == m_present)
            return;
        m_present = present;
        m_presence.stop();
        if (!isVisibleTo(parentWidget()) && !present)
            return;
        if (present) {
            show();
            raise();
        }
        // Hidden parents get no frames: go straight to the end.
        if (!parentWidget()->isVisible()) {
            m_progress = present ? 1 : 0;
            setVisible(present);
            return;
        }
        m_presence.setStartValue(m_progress);
        m_presence.setEndValue(present ? 1.0 : 0.0);
        m_presence.start();
    }

    QSize sizeHint() const override
    {
        const QSizeF capsule = capsuleSize();
        return QSize(qCeil(capsule.width()) + 2 * kShadowMargin, qCeil(capsule.height()) + 2 * kShadowMargin);
    }

    // The capsule itself, without the room for its shadow.
    static constexpr int kShadowMargin = 9;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(m_progress);
        const QSizeF size = capsuleSize();
        const QRectF capsule(QPointF(kShadowMargin, kShadowMargin + (1 - m_progress) * (size.height() + 12)), size);
        const qreal radius = capsule.height() / 2;
        // A soft shadow, 2 below, fading out over 6.
        for (int i = 6; i >= 1; --i) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0, 0, 0, int(255 * 0.22 / 6 * (7 - i) / 3.5)));
            const QRectF spread = capsule.translated(0, 2).adjusted(-i / 2.0, -i / 2.0, i / 2.0, i / 2.0);
            painter.drawRoundedRect(spread, radius + i / 2.0, radius + i / 2.0);
        }
        painter.setBrush(Quillet::barMaterial(palette()));
        painter.drawRoundedRect(capsule, radius, radius);
        painter.setPen(QPen(Quillet::withOpacity(Quillet::primary(palette()), 0.14), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(capsule.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);

        const QColor ink = Quillet::primary(palette());
        const qreal side = Symbols::sideFor(9);
        QRectF symbol(capsule.left() + 11, capsule.center().y() - side / 2, side, side);
        Symbols::paint(painter, QStringLiteral("arrow.down"), symbol, ink);
        painter.setFont(textFont());
        painter.setPen(ink);
        painter.drawText(
            QRectF(symbol.right() + 5, capsule.top(), capsule.right() - symbol.right() - 5, capsule.height()),
            Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Latest"));
    }

private:
    static QFont textFont() { return Quillet::font(11, QFont::Medium); }

    QSizeF capsuleSize() const
    {
        const QFontMetricsF metrics(textFont());
        const qreal side = Symbols::sideFor(9);
        return QSizeF(11 + side + 5 + metrics.horizontalAdvance(QStringLiteral("Latest")) + 11,
            std::max(side, metrics.height()) + 12);
    }

    QVariantAnimation m_presence;
    qreal m_progress = 0;
    bool m_present = false;
};

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
        result.append(TranscriptGroup { segment->id(), speaker, { segment->text() }, at });
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
{
    setFrameShape(QFrame::NoFrame);
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
}

void TranscriptFeedView::setProblem(const QString& problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    viewport()->update();
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
        return bubble.id == group.id && bubble.isMe == (group.speaker.kind == Speaker::Kind::Me)
            && sameLines(bubble.lines, group.lines);
    };
    const size_t wanted = size_t(groups.size());
    size_t same = 0;
    while (same < wanted && same < m_bubbles.size() && matches(m_bubbles[same], groups.at(qsizetype(same))))
        ++same;
    if (same < wanted || same < m_bubbles.size()) {
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
    // The feed scrolls with the keyboard once it has the focus.
    if (FocusRing::shows(*this))
        FocusRing::paint(painter, QRectF(viewport()->rect()), 6);
}

void TranscriptFeedView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
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
