#pragma once

#include <QWidget>

// The line between two rows of a card. It starts under the rows' titles, not under their
// icon tiles, and runs to the card's trailing edge.
class SettingsDivider final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsDivider)

public:
    // Row padding 14 + icon tile 30 + spacing 12.
    static constexpr int kLeadingInset = 56;

    explicit SettingsDivider(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
