#pragma once

#include <QString>
#include <QVariantAnimation>
#include <QWidget>

class QLayout;

// The pieces the two pages of a meeting share: their measures and their small widgets.
namespace MeetingPageParts {

inline constexpr int kColumnWidth = 660;
// The live transcript pane's bounds.
inline constexpr double kMinimumPaneHeight = 44;
inline constexpr double kMaximumPaneHeight = 560;
inline constexpr int kFinishedTranscriptHeight = 260;
inline constexpr int kFinishedChatMinimum = 320;
inline constexpr int kLiveChatHeight = 280;
inline constexpr double kExpandedPaneHeight = 240;
inline constexpr double kCollapseThreshold = 60;
// What the panels leave of a page however small it is: the live notes (their status line and a
// few lines of text) and the finished page's scrolling column.
inline constexpr int kLiveNotesMinimum = 120;
inline constexpr int kReadingMinimum = 120;

inline const QString kWriteYourNotes = QStringLiteral("Write your notes…");

// A widget holding `content` at most 660 wide: at the leading edge of the full width, or
// centred in it. The padding lies inside the 660.
QWidget* readingColumn(QLayout* content, const QMargins& padding, bool centred);

// The grey dot that stands for a paused recording.
class PausedDot final : public QWidget
{
public:
    explicit PausedDot(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent*) override;
};

// The live transcript pane, whose height follows the stored setting, animated on the
// collapse toggle; the finished transcript sits in one too.
class Pane final : public QWidget
{
public:
    explicit Pane(QWidget* parent);

    void setPaneHeight(double height, bool animated);
    bool isAnimating() const { return m_animation.state() == QAbstractAnimation::Running; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QVariantAnimation m_animation;
};

} // namespace MeetingPageParts
