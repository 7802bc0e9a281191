#pragma once

#include <QAbstractButton>
#include <QVariantAnimation>

// The "Latest" capsule: slides and fades in at the transcript feed's bottom-trailing corner.
class LatestCapsule final : public QAbstractButton
{
public:
    // The capsule itself, without the room for its shadow.
    static constexpr int kShadowMargin = 9;

    explicit LatestCapsule(QWidget* parent);

    void setPresent(bool present);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    static QFont textFont();
    QSizeF capsuleSize() const;

    QVariantAnimation m_presence;
    qreal m_progress = 0;
    bool m_present = false;
};
