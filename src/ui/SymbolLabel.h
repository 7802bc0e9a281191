#pragma once

#include "ui/Quillet.h"

#include <QWidget>

// A symbol standing alone, sized like text of the given size and drawn in a tone (the folder
// header's icon, an empty page's mark).
class SymbolLabel final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SymbolLabel)

public:
    SymbolLabel(const QString& symbol, qreal pixels, Quillet::Tone tone, QWidget* parent = nullptr);

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString& symbol);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    qreal m_pixels;
    Quillet::Tone m_tone;
};
