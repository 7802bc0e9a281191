#pragma once

#include "platform/Scheduler.h"
#include "storage/Speaker.h"
#include "ui/design/AccessibleRows.h"

#include <QAbstractScrollArea>
#include <QCache>
#include <QPointer>
#include <QStringList>
#include <QTextLayout>
#include <QUuid>
#include <QVariantAnimation>
#include <chrono>
#include <memory>
#include <vector>

class LatestCapsule;
class Meeting;
class QAbstractButton;
class QTextEdit;
class RecordingDot;
class TranscriptSegment;

// One bubble's worth of consecutive turns of one speaker.
struct TranscriptGroup
{
    QUuid id; // the first segment's
    Speaker speaker;
    QStringList lines;
    double endsAt = 0; // the last segment's timestamp
    double startsAt = 0; // the first segment's timestamp

    QString text() const { return lines.join(QLatin1Char(' ')); }
    friend bool operator==(const TranscriptGroup&, const TranscriptGroup&) = default;
};

// A meeting's transcript as a column of speech bubbles, while it is recorded and afterwards.
// While live it ends with a "Listening…" (or "Paused") row, or with the draft of the phrase
// being spoken. It follows new lines while the reader is at the end and otherwise offers a
// "Latest" capsule.
//
// The column is painted, not built from widgets: a transcript can hold thousands of bubbles and
// grows while it is on screen. Each bubble keeps its measured height until its text or the
// column's width changes, and only bubbles near the visible area are measured; the others
// count with an estimate until they come into view. A press on a bubble opens a read-only
// editor over its text, so it can be selected and copied. A screen reader reads it as a list
// of the bubbles (who, when, what) and the live row. With the keyboard's focus it is a list:
// the arrow keys, Home, End and Page Up/Down move its current row, which is marked, kept in
// view and told to a screen reader as its focus.
class TranscriptFeedView final : public QAbstractScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TranscriptFeedView)

public:
    static constexpr double kJoinGap = 1.5; // seconds between turns that share a bubble
    static constexpr int kFollowThreshold = 40;
    static constexpr std::chrono::milliseconds kDotStep { 380 };
    static constexpr std::chrono::milliseconds kFollowDuration { 250 };

    enum class LiveRow { none, listening, paused, draft };

    // The segments (in any order) folded into bubbles: a stable sort by time, then a run of one
    // speaker stays in one bubble while no step between its turns is longer than 1.5 s. An
    // empty speaker is me.
    static QList<TranscriptGroup> groups(QList<TranscriptSegment*> segments);

    TranscriptFeedView(Meeting* meeting, bool isLive, bool isPaused, const QString& draft,
        Scheduler& scheduler = Scheduler::system(), QWidget* parent = nullptr);
    ~TranscriptFeedView() override;

    void setLive(bool isLive);
    void setPaused(bool isPaused);
    void setDraft(const QString& draft);
    // Why what is said is not being transcribed, shown in words instead of "Listening…";
    // empty while it is.
    void setProblem(const QString& problem);
    // The text of the "Listening…" (or "Paused") row.
    QString listeningRowText() const;

    // What is shown.
    int bubbleCount() const { return int(m_bubbles.size()); }
    QString bubbleText(int index) const;
    bool bubbleIsMine(int index) const { return m_bubbles.at(size_t(index)).isMe; }
    // Where a bubble is, in viewport coordinates.
    QRect bubbleRect(int index) const;
    LiveRow liveRow() const;
    // The keyboard's row: a bubble's index, or bubbleCount() for the live row; -1 for none.
    int currentRow() const;
    // The lit dot of the draft row: 0, 1 or 2.
    int dotPhase() const { return m_dotPhase; }
    // How far the end of the column lies below the visible area.
    int distanceFromBottom() const;
    bool hasUnseen() const { return m_hasUnseen; }
    QAbstractButton* latestButton() const;
    // The capsule's action: scrolls to the end over 0.25 s, then hides the capsule.
    void jumpToLatest();

signals:
    void hasUnseenChanged(bool hasUnseen);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Bubble
    {
        QUuid id;
        bool isMe = true;
        Speaker speaker;
        double startsAt = 0;
        QStringList lines;
        qsizetype characters = 0;
        QString text; // joined on first need
        int height = 0; // the whole row: text and padding
        int width = 0;
        int measuredAt = -1; // the text width it was measured at; -1: an estimate
    };

    void segmentsChanged();
    void regroup();
    const QString& textOf(Bubble& bubble);
    int textWidth() const;
    int columnLeft() const { return 36; }
    void estimate(Bubble& bubble) const;
    void measure(Bubble& bubble);
    QTextLayout* layoutOf(Bubble& bubble);
    std::unique_ptr<QTextLayout> makeLayout(const QString& text, int width, qreal* height, qreal* naturalWidth) const;
    void layoutLiveRow();
    void recomputeTops();
    void updateScrollRange();
    std::pair<int, int> rowsBetween(int top, int bottom) const;
    void measureAroundViewport();
    void relayout();
    bool isNearEnd() const;
    void scrollToEndNow();
    void animateToEnd(std::function<void()> done = {});
    void setHasUnseen(bool hasUnseen);
    void placeOverlays();
    void startDots();
    void stopDots();
    void stepDots(quint64 generation);
    QRectF dotsRect() const;
    QColor background() const;
    int bubbleAt(const QPoint& viewportPos) const;
    void openSelection(int index);
    void closeSelection();
    std::optional<AccessibleRows::Row> accessibleRow(int row) const;
    int rowCount() const { return bubbleCount() + (liveRow() == LiveRow::none ? 0 : 1); }
    // A row's place, in viewport coordinates.
    QRect rowRect(int row) const;
    void setCurrentRow(int row);
    void revealRow(int row);

    QPointer<Meeting> m_meeting;
    bool m_isLive;
    bool m_isPaused;
    QString m_draft;
    QString m_problem;
    Scheduler& m_scheduler;

    std::vector<Bubble> m_bubbles;
    std::vector<int> m_tops;
    QCache<QUuid, QTextLayout> m_layouts;
    qsizetype m_segmentCount = 0;
    bool m_regroupPending = false;
    // Segments or the draft changed while the feed was hidden.
    bool m_staleWhileHidden = false;

    std::unique_ptr<QTextLayout> m_draftLayout;
    int m_draftTextHeight = 0;
    int m_draftTextWidth = 0;
    int m_liveTop = 0;
    int m_liveHeight = 0;
    int m_contentHeight = 0;
    int m_laidOutWidth = -1;

    bool m_appeared = false;
    bool m_viewportMeasured = false;
    bool m_adjusting = false;
    bool m_hasUnseen = false;

    QVariantAnimation m_follow;
    int m_followFrom = 0;
    bool m_followStepping = false;
    std::function<void()> m_followDone;

    int m_dotPhase = 0;
    int m_previousDotPhase = 0;
    quint64 m_dotGeneration = 0;
    QVariantAnimation m_dotFade;
    qreal m_dotFadeProgress = 1;

    RecordingDot* m_recordingDot;
    LatestCapsule* m_latest;
    QTextEdit* m_selection = nullptr;
    QUuid m_selectionId;
    bool m_forwardingMouse = false;
    // The keyboard's row, found again by its bubble when the bubbles are made anew.
    int m_current = -1;
    QUuid m_currentId; // null for the live row
    AccessibleRows m_accessible;
};
