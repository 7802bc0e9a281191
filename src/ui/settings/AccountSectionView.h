#pragma once

#include <QPointer>
#include <QWidget>

class AccountService;
class PillButton;
class PlainButton;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;
class ToneLabel;

// The account card: signing in with the provider or by e-mail (a link or a 6-digit code), and
// once signed in the month's minutes or the provider credit with a sign-out that asks first.
// Which face shows follows the account service's state alone; the card keeps only what is
// being typed. The settings page shows the full card, the onboarding the compact one, which
// leaves out the explanatory line under the provider button.
class AccountSectionView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AccountSectionView)

public:
    enum class Face { emailEntry, codeEntry, signingIn, signedIn };
    Q_ENUM(Face)

    explicit AccountSectionView(AccountService& account, bool compact = false, QWidget* parent = nullptr);

    Face face() const { return m_face; }

signals:
    // The user started a sign-in here (with the provider, by e-mail, a code or a resend): a
    // sign-in error that follows is this card's.
    void attempted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeEmailEntry();
    QWidget* makeCodeEntry();
    QWidget* makeSigningIn();
    QWidget* makeSignedIn();

    void refreshFromService();
    void showFace(Face face);
    void updateEmailEntry();
    void updateCodeEntry();
    void updateSignedIn();

    void sendEmail();
    void verifyCode();
    void filterCode(const QString& edited);
    void confirmSignOut();

    AccountService& m_account;
    const bool m_compact;
    Face m_face = Face::emailEntry;

    QWidget* m_emailEntry = nullptr;
    PillButton* m_providerButton = nullptr;
    QLineEdit* m_emailField = nullptr;
    PillButton* m_sendButton = nullptr;

    QWidget* m_codeEntry = nullptr;
    QLabel* m_codeSentence = nullptr;
    QLineEdit* m_codeField = nullptr;
    QPushButton* m_verifyButton = nullptr;
    PlainButton* m_resendButton = nullptr;

    QWidget* m_signingIn = nullptr;
    ToneLabel* m_signingInLine = nullptr;

    QWidget* m_signedIn = nullptr;
    ToneLabel* m_signedInEmail = nullptr;
    ToneLabel* m_allowanceLine = nullptr;
    QWidget* m_usageBlock = nullptr;
    QProgressBar* m_usageBar = nullptr;
    ToneLabel* m_usageText = nullptr;
    ToneLabel* m_ownKeyLine = nullptr;
    ToneLabel* m_unkeptLine = nullptr;

    ToneLabel* m_errorLine = nullptr;
    QPointer<QMessageBox> m_signOutConfirmation;
};
