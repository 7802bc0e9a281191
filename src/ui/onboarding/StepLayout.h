#pragma once

#include <QWidget>

// The frame of one onboarding step: a symbol in the accent colour, a serif title, a centred
// message (its line breaks kept) and the step's own controls under it, in a centred column.
class StepLayout final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StepLayout)

public:
    // Takes the footer (buttons, fields, tiles) as a child.
    StepLayout(
        const QString& icon, const QString& title, const QString& message, QWidget* footer, QWidget* parent = nullptr);

    QString title() const { return m_title; }

private:
    QString m_title;
};
