#include "ui/EditorialLabel.h"

namespace {

QFont trackedLabelFont()
{
    QFont font = Quillet::label();
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.3);
    return font;
}

} // namespace

EditorialLabel::EditorialLabel(const QString& text, Quillet::Tone tone, QWidget* parent)
    : ToneLabel(text.toUpper(), trackedLabelFont(), tone, parent)
{ }

void EditorialLabel::setText(const QString& text)
{
    QLabel::setText(text.toUpper());
}
