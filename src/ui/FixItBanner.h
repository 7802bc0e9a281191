#pragma once

#include <QWidget>

class AccountService;

// The banner over the detail column that offers a fix for a missing microphone permission or
// sign-in. For now it has nothing to offer and takes no room.
class FixItBanner final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FixItBanner)

public:
    explicit FixItBanner(AccountService& account, QWidget* parent = nullptr);

    QSize sizeHint() const override { return { 0, 0 }; }
};
