#pragma once

#include <QWidget>
#include <functional>

class AccountService;
class QAbstractButton;
class QMenu;
class ToneLabel;

// The account chip at the foot of the sidebar: who is signed in (the provider's e-mail first,
// then the cloud account's), the provider credit while its key is held, and a menu of account
// actions, made afresh each time it opens. Signing out here asks nothing. An own provider key
// alone counts as signed out. Follows the account service as it changes.
class SidebarAccountFooter final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SidebarAccountFooter)

public:
    SidebarAccountFooter(AccountService& account, std::function<void()> onOpenSettings, QWidget* parent = nullptr);

    QAbstractButton* chip() const { return m_chip; }
    QString nameText() const;
    // Empty while the line is hidden.
    QString creditText() const;

    // The menu as it opens now; the caller owns it.
    QMenu* makeMenu(QWidget* parent);
    // Opens the menu above the chip.
    void openMenu();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Avatar;

    void refresh();
    QString creditLine() const;

    AccountService& m_account;
    std::function<void()> m_onOpenSettings;
    QAbstractButton* m_chip;
    Avatar* m_avatar;
    ToneLabel* m_name;
    ToneLabel* m_credit;
};
