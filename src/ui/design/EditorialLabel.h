#pragma once

#include "ui/design/ToneLabel.h"

// A small section label: its text in capitals, in the label font, widely tracked.
class EditorialLabel final : public ToneLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EditorialLabel)

public:
    EditorialLabel(const QString& text, Quillet::Tone tone, QWidget* parent = nullptr);

    // Shows text in capitals. (QLabel::setText would show it as given.)
    void setText(const QString& text);

    // The label font with its tracking, for views that paint section labels themselves.
    static QFont trackedFont();
};
