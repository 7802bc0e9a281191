#pragma once

#include "ui/design/FocusUnderlined.h"

#include <QTextEdit>
#include <functional>

// The plain-text editor of a meeting's notes, in the body font, with a tertiary placeholder
// while the text is empty (a single space already hides it). Every change the user makes is
// reported with the new text; text loaded or set by code is not a change. Reached by the
// keyboard, it is underlined in the accent: it has no frame, and a caret alone is easily missed.
class NotesEditor final : public FocusUnderlined<QTextEdit>
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotesEditor)

public:
    using OnChange = std::function<void(const QString& text)>;

    NotesEditor(const QString& text, const QString& placeholder, OnChange onChange, QWidget* parent = nullptr);

    QString text() const { return toPlainText(); }
    // Shows notes changed elsewhere (another editor of the same meeting); reports nothing.
    void setText(const QString& text);

    // Grows with its text, never below floor, instead of scrolling inside: for editors placed
    // in a scrolling column.
    void setGrowsWithText(int floor);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void load(const QString& text);
    void applyColors();
    void fitToText();

    OnChange m_onChange;
    bool m_loading = false;
    int m_floor = -1; // -1: scrolls inside
};
