#pragma once

#include <QMessageBox>

class QAbstractButton;

// Asks whether to sign in as the account a sign-in link names, and says what the user chose.
// Links reach the application from any web page or mail, so the safe answer is the default one:
// a stray Return declines. Decides nothing itself.
//
// A link that could not be checked is told in the same place, with its reason and only "OK"
// (failure()); its answer is always false.
class SignInQuestion final : public QMessageBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SignInQuestion)

public:
    explicit SignInQuestion(const QString& email, QWidget* parent = nullptr);
    static SignInQuestion* failure(const QString& reason, QWidget* parent = nullptr);

    // Null for a failure.
    QAbstractButton* signInButton() const { return m_signIn; }
    QAbstractButton* cancelButton() const { return m_cancel; }
    bool isFailure() const { return !m_signIn; }

signals:
    // Once, when the dialog closes: true only for "Sign In".
    void answered(bool agreed);

private:
    explicit SignInQuestion(QWidget* parent);

    QAbstractButton* m_signIn = nullptr;
    QAbstractButton* m_cancel = nullptr;
};
