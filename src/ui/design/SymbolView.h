#pragma once

#include "ui/design/Quillet.h"

#include <QWidget>
#include <optional>

// One named symbol, sized to stand beside text of a given size, in a tone of the window text.
class SymbolView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SymbolView)

public:
    SymbolView(const QString& name, qreal fontPixels, Quillet::Tone tone, QWidget* parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString& name);
    // A colour of its own (a green check mark), or none for the tone's.
    void setColor(const std::optional<QColor>& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_name;
    qreal m_fontPixels;
    Quillet::Tone m_tone;
    std::optional<QColor> m_color;
};
