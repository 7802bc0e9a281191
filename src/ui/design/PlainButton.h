#pragma once

#include "ui/design/Quillet.h"

#include <QAbstractButton>

// A button that is only its text, like a link: "Skip", "Resend", "Use a different email".
// Drawn in a tone of the window text; pressed it dims, disabled it fades.
class PlainButton final : public QAbstractButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PlainButton)

public:
    PlainButton(const QString& text, const QFont& font, Quillet::Tone tone, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Quillet::Tone m_tone;
};
