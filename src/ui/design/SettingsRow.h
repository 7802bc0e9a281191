#pragma once

#include <QWidget>

class ToneLabel;

// One settings row: an icon tile, the title with an optional subtitle under it, and a trailing
// control (a switch, a picker, a button) at the row's end. A long subtitle wraps onto as many
// lines as it needs and the row grows to hold them (height for width). The title is the
// trailing control's label (its buddy), which is how a screen reader names the control (read
// through AccessibleRole's interfaces: the title is no sibling of the control).
class SettingsRow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsRow)

public:
    // An empty subtitle shows no subtitle line; trailing may be null.
    SettingsRow(const QString& icon, const QString& title, const QString& subtitle, QWidget* trailing,
        QWidget* parent = nullptr);

    ToneLabel* titleLabel() const { return m_title; }
    ToneLabel* subtitleLabel() const { return m_subtitle; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    ToneLabel* m_title;
    ToneLabel* m_subtitle = nullptr;
};
