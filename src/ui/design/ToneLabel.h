#pragma once

#include "ui/design/Quillet.h"

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

    // Shows text as written with room above it for marks that rise over the font's ascent,
    // such as the stacked accents of capital Vietnamese letters ("Ế", "Ổ"), which would
    // otherwise be cut at the label's top edge. For labels that show text in capitals. (A
    // selectable label holds it escaped in rich text, which is what text() then returns.)
    void setTextWithRoomForMarks(const QString& text);

    // Wraps the text into at most `lines` lines, the last one ending in an ellipsis when the
    // text goes on; 0 (the default) shows every line as QLabel does.
    int maximumLines() const { return m_maximumLines; }
    void setMaximumLines(int lines);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void applyTone();

    Quillet::Tone m_tone;
    bool m_applying = false;
    int m_maximumLines = 0;
};
