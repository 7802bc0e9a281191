#include "ui/ToneLabel.h"

#include <QApplication>
#include <QEvent>

ToneLabel::ToneLabel(const QString& text, const QFont& font, Quillet::Tone tone, QWidget* parent)
    : QLabel(text, parent)
    , m_tone(tone)
{
    // Texts come from data (titles, messages) and are shown as written, never as markup.
    setTextFormat(Qt::PlainText);
    setFont(font);
    applyTone();
}

void ToneLabel::setTone(Quillet::Tone tone)
{
    m_tone = tone;
    applyTone();
}

void ToneLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
        applyTone();
}

void ToneLabel::applyTone()
{
    // Setting the palette sends a palette change of its own.
    if (m_applying)
        return;
    m_applying = true;
    // The label's own window text is overridden, so the tone is taken from what it would
    // inherit.
    const QPalette inherited = parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
    QPalette own = palette();
    for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        QPalette source = inherited;
        source.setCurrentColorGroup(group);
        own.setColor(group, QPalette::WindowText, Quillet::color(m_tone, source));
    }
    setPalette(own);
    m_applying = false;
}
