#pragma once

#include "ui/Quillet.h"

#include <QAbstractButton>
#include <optional>

// A flat button that is only a symbol (a chip's remove cross, a calendar's record mark), sized
// to stand beside text of a given size. Drawn in a tone of the window text, or in a colour of
// its own; pressed it dims, disabled it fades.
class SymbolButton final : public QAbstractButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SymbolButton)

public:
    SymbolButton(const QString& symbol, qreal fontPixels, Quillet::Tone tone, QWidget* parent = nullptr);

    QString symbol() const { return m_symbol; }
    // A colour of its own, or none for the tone's.
    std::optional<QColor> color() const { return m_color; }
    void setSymbol(const QString& symbol, const std::optional<QColor>& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    qreal m_fontPixels;
    Quillet::Tone m_tone;
    std::optional<QColor> m_color;
};
