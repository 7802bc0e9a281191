#pragma once

#include <QWidget>

class QVBoxLayout;

// A rounded, lightly tinted card holding rows (with dividers between them) or a section,
// one under the other. It adds no padding of its own.
class SettingsCard final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsCard)

public:
    explicit SettingsCard(QWidget* parent = nullptr);

    void addWidget(QWidget* widget);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* m_layout;
};
