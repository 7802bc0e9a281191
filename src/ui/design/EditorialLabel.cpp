#include "ui/design/EditorialLabel.h"

EditorialLabel::EditorialLabel(const QString& text, Quillet::Tone tone, QWidget* parent)
    : ToneLabel(QString(), trackedFont(), tone, parent)
{
    setText(text);
}

void EditorialLabel::setText(const QString& text)
{
    setTextWithRoomForMarks(text.toUpper());
    // Read as written: a screen reader may spell out a word in capitals.
    setAccessibleName(text);
}

QFont EditorialLabel::trackedFont()
{
    QFont font = Quillet::label();
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.3);
    return font;
}
