#pragma once

#include <QWidget>

// A one-pixel line across its width, in a tint of the palette of the moment: a style sheet
// would keep the colour of the theme it was first resolved in.
class Rule final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Rule)

public:
    using Tint = QColor (*)(const QPalette&);

    // Window text at 10 %: the line between parts of a page, a panel or a card.
    static QColor separator(const QPalette& palette);
    // At 60 % of that, over a tinted panel.
    static QColor faintSeparator(const QPalette& palette);
    // At half of it, between the rows of a settings card.
    static QColor rowSeparator(const QPalette& palette);

    // Row padding 14 + icon tile 30 + spacing 12: a rule between settings rows starts under
    // their titles, not under their icon tiles.
    static constexpr int kRowInset = 56;

    explicit Rule(Tint tint = &separator, QWidget* parent = nullptr);
    // The line between two rows of a settings card, from under their titles to the card's
    // trailing edge.
    static Rule* betweenRows(QWidget* parent = nullptr);

    // The line starts this far from the leading edge.
    void setLeadingInset(int inset);
    int leadingInset() const { return m_leadingInset; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tint m_tint;
    int m_leadingInset = 0;
};
