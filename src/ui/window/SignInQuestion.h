#pragma once

#include <QMessageBox>

class QAbstractButton;

// Asks whether to sign in as the account a sign-in link names, and says what the user chose.
// Links reach the application from any web page or mail, so the safe answer is the default one:
// a stray Return declines. Decides nothing itself.
class SignInQuestion final : public QMessageBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SignInQuestion)

public:
    explicit SignInQuestion(const QString& email, QWidget* parent = nullptr);

    QAbstractButton* signInButton() const { return m_signIn; }
    QAbstractButton* cancelButton() const { return m_cancel; }

signals:
    // Once, when the dialog closes: true only for "Sign In".
    void answered(bool agreed);

private:
    QAbstractButton* m_signIn;
    QAbstractButton* m_cancel;
};
