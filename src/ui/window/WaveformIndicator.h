#pragma once

#include <QVariantAnimation>
#include <QWidget>
#include <array>

// The recording bar's four-bar level meter: each bar is 3 + weight × 13 × level high (the
// weights are 0.6, 1.0, 0.8 and 0.5), in the accent colour; while paused every bar is 3 high
// and grey. Height changes animate over 0.15 s, or 0.3 s while paused, and only while shown.
class WaveformIndicator final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WaveformIndicator)

public:
    static constexpr int kBarCount = 4;
    static constexpr std::array<qreal, kBarCount> kWeights { 0.6, 1.0, 0.8, 0.5 };
    static constexpr qreal kBarWidth = 2.5;
    static constexpr qreal kBarSpacing = 2;
    static constexpr qreal kMaxHeight = 16;
    static constexpr qreal kMinHeight = 3;

    using Heights = std::array<qreal, kBarCount>;

    explicit WaveformIndicator(QWidget* parent = nullptr);

    // The microphone's level, 0 to 1 (anything outside is clamped by the bar heights).
    void setLevel(float level, bool paused);

    bool isPaused() const { return m_paused; }
    // Where the bars are going: what they show once the animation has ended.
    Heights targetHeights() const { return m_to; }
    // What they show now.
    Heights heights() const;

    static Heights heightsFor(float level, bool paused);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    bool m_paused = false;
    Heights m_from;
    Heights m_to;
    qreal m_progress = 1;
    QVariantAnimation m_animation;
};
