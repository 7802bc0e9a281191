#pragma once

#include "platform/Scheduler.h"

#include <QAbstractButton>
#include <QVariantAnimation>
#include <functional>

// A small icon button that copies something: its title is the hover help, and each press
// calls copy and shows an accent checkmark that turns back into the icon 1.4 s after that
// press. Presses are not debounced and no reset is ever cancelled: each press schedules its
// own. Disabled, it is drawn at 35 % and ignores presses.
class CopyActionButton final : public QAbstractButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CopyActionButton)

public:
    static constexpr std::chrono::milliseconds kResetDelay { 1400 };

    CopyActionButton(const QString& title, const QString& icon, std::function<void()> copy,
        Scheduler& scheduler = Scheduler::system(), QWidget* parent = nullptr);

    // True while the checkmark is shown.
    bool isCopied() const { return m_copied; }

    QSize sizeHint() const override { return { 24, 20 }; }

signals:
    void copiedChanged(bool copied);

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void press();
    void setCopied(bool copied);

    QString m_icon;
    std::function<void()> m_copy;
    Scheduler& m_scheduler;
    bool m_copied = false;
    // The symbol replacement: 0 shows the outgoing symbol, 1 the current one.
    qreal m_transition = 1;
    QVariantAnimation m_replace;
};
