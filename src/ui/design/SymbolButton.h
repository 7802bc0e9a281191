#pragma once

#include "ui/design/Quillet.h"

#include <QAbstractButton>
#include <optional>

// A plain button drawn as a symbol, optionally followed by a short text: the toggles and
// actions of bars and headers. Its tone (or a colour of its own) is that of both; disabled,
// it is drawn at 35 % unless its look says otherwise. A symbol without a text is named, for a
// screen reader, by its help text (its tooltip), unless it is given a name of its own.
class SymbolButton final : public QAbstractButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SymbolButton)

public:
    struct Look
    {
        QString symbol;
        qreal symbolSize = 12; // the font size the symbol stands beside
        QString text;
        QFont font = Quillet::font(11.5, QFont::Medium);
        qreal spacing = 5;
        QSize frame; // a fixed size; empty: just around the content
        qreal disabledOpacity = 0.35;
    };

    SymbolButton(const Look& look, QWidget* parent = nullptr);

    void setTone(Quillet::Tone tone);
    // Overrides the tone; none goes back to it.
    void setColor(const std::optional<QColor>& color);
    // Turns the symbol about its centre, in degrees.
    void setSymbolRotation(qreal degrees);
    void setSymbol(const QString& symbol);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Look m_look;
    Quillet::Tone m_tone = Quillet::Tone::secondary;
    std::optional<QColor> m_color;
    qreal m_rotation = 0;
    QString m_nameFromHelp;
};
