#include "ui/window/SignInQuestion.h"

#include <QPushButton>

SignInQuestion::SignInQuestion(const QString& email, QWidget* parent)
    : QMessageBox(parent)
{
    setWindowTitle(QStringLiteral("Quillet"));
    setIcon(QMessageBox::NoIcon);
    // The address comes from the server: shown as text, never as markup.
    setTextFormat(Qt::PlainText);
    setText(QStringLiteral("Sign in to Quillet as %1?").arg(email));
    setInformativeText(QStringLiteral("A sign-in link was opened. Sign in only if you asked for it."));
    // Action roles keep the order they are added in, whatever the desktop's order of accept
    // and reject buttons.
    m_signIn = addButton(QStringLiteral("Sign In"), QMessageBox::ActionRole);
    m_cancel = addButton(QStringLiteral("Cancel"), QMessageBox::ActionRole);
    setEscapeButton(m_cancel);
    setDefaultButton(qobject_cast<QPushButton*>(m_cancel));
    connect(this, &QDialog::finished, this, [this] { emit answered(clickedButton() == m_signIn); });
}
