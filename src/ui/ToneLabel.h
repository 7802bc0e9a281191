#pragma once

#include "ui/Quillet.h"

#include <QLabel>

// A label whose text colour is a tone of the surrounding window text (secondary captions,
// tertiary hints, accent notes). The tone is worked out again whenever the palette around it
// changes, so the label follows a switch between light and dark.
class ToneLabel : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ToneLabel)

public:
    ToneLabel(const QString& text, const QFont& font, Quillet::Tone tone, QWidget* parent = nullptr);

    Quillet::Tone tone() const { return m_tone; }
    void setTone(Quillet::Tone tone);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTone();

    Quillet::Tone m_tone;
    bool m_applying = false;
};
