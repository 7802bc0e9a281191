#include "ui/window/QuitProblemBox.h"

#include "ui/window/SaveProblemBanner.h"

#include <QPushButton>

namespace {
// More titles than this read as a wall; the rest are counted.
constexpr qsizetype kTitlesShown = 8;
} // namespace

QuitProblemBox::QuitProblemBox(QWidget* parent)
    : QMessageBox(parent)
    , m_tryAgain(addButton(QStringLiteral("Try Again"), QMessageBox::AcceptRole))
    , m_quitAnyway(addButton(QStringLiteral("Quit Anyway"), QMessageBox::DestructiveRole))
{
    setWindowTitle(QStringLiteral("Quillet"));
    setIcon(QMessageBox::Warning);
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setEscapeButton(addButton(QMessageBox::Cancel));
    setDefaultButton(m_tryAgain);
    // Over every window, also while the main window is hidden behind the tray.
    setWindowModality(Qt::ApplicationModal);
    connect(this, &QMessageBox::finished, this, [this] {
        if (clickedButton() == m_tryAgain)
            emit tryAgainChosen();
        else if (clickedButton() == m_quitAnyway)
            emit quitAnywayChosen();
        else
            emit stayChosen();
    });
}

QString QuitProblemBox::text(SaveHealth::Problem problem, const QStringList& unsavedMeetings)
{
    QString text = SaveProblemBanner::message(problem);
    if (text.isEmpty())
        text = QStringLiteral("Quillet couldn't save your changes.");
    text += QStringLiteral("\n\n");
    if (unsavedMeetings.isEmpty()) {
        text += QStringLiteral("If you quit now, your latest changes will be lost.");
    } else {
        text += QStringLiteral("If you quit now, the changes to these meetings will be lost:");
        for (const QString& title : unsavedMeetings.mid(0, kTitlesShown))
            text += QStringLiteral("\n\u2022 ") + title;
        if (unsavedMeetings.size() > kTitlesShown)
            text += QStringLiteral("\nand %1 more").arg(unsavedMeetings.size() - kTitlesShown);
    }
    text += problem == SaveHealth::Problem::diskFull ? QStringLiteral("\n\nMake room on the disk, then try again.")
                                                     : QStringLiteral("\n\nTry again, or quit without them.");
    return text;
}

void QuitProblemBox::ask(SaveHealth::Problem problem, const QStringList& unsavedMeetings)
{
    setText(text(problem, unsavedMeetings));
    show();
    raise();
    activateWindow();
}
