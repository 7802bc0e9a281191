#include "ui/EditorialLabel.h"

EditorialLabel::EditorialLabel(const QString& text, Quillet::Tone tone, QWidget* parent)
    : ToneLabel(text.toUpper(), trackedFont(), tone, parent)
{ }

void EditorialLabel::setText(const QString& text)
{
    QLabel::setText(text.toUpper());
}

QFont EditorialLabel::trackedFont()
{
    QFont font = Quillet::label();
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.3);
    return font;
}
