#include "ui/window/SignInQuestion.h"

#include <QPushButton>

SignInQuestion::SignInQuestion(QWidget* parent)
    : QMessageBox(parent)
{
    setWindowTitle(QStringLiteral("Quillet"));
    setIcon(QMessageBox::NoIcon);
    // The address and the reason come from the server: shown as text, never as markup.
    setTextFormat(Qt::PlainText);
    connect(this, &QDialog::finished, this, [this] { emit answered(m_signIn && clickedButton() == m_signIn); });
}

SignInQuestion::SignInQuestion(const QString& email, QWidget* parent)
    : SignInQuestion(parent)
{
    setText(QStringLiteral("Sign in to Quillet as %1?").arg(email));
    setInformativeText(QStringLiteral("A sign-in link was opened. Sign in only if you asked for it."));
    // Action roles keep the order they are added in, whatever the desktop's order of accept
    // and reject buttons.
    m_signIn = addButton(QStringLiteral("Sign In"), QMessageBox::ActionRole);
    m_cancel = addButton(QStringLiteral("Cancel"), QMessageBox::ActionRole);
    setEscapeButton(m_cancel);
    setDefaultButton(qobject_cast<QPushButton*>(m_cancel));
}

SignInQuestion* SignInQuestion::failure(const QString& reason, QWidget* parent)
{
    auto* notice = new SignInQuestion(parent);
    notice->setText(QStringLiteral("Quillet couldn't use the sign-in link that was opened."));
    notice->setInformativeText(reason);
    notice->m_cancel = notice->addButton(QMessageBox::Ok);
    notice->setEscapeButton(notice->m_cancel);
    return notice;
}
