#pragma once

#include "storage/SaveHealth.h"

#include <QMessageBox>
#include <QStringList>

class QPushButton;

// What a quit held by a failed save asks (AppQuit): why the last changes could not be saved,
// which meetings would lose them, and whether to try again, quit anyway, or keep Quillet open
// (Cancel, Escape or closing the window). It shows what it is given and emits the choice once it
// has closed, so that the choice may show it again.
class QuitProblemBox final : public QMessageBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QuitProblemBox)

public:
    explicit QuitProblemBox(QWidget* parent = nullptr);

    // Fills in the texts and shows the box in front of every window.
    void ask(SaveHealth::Problem problem, const QStringList& unsavedMeetings);
    static QString text(SaveHealth::Problem problem, const QStringList& unsavedMeetings);

signals:
    void tryAgainChosen();
    void quitAnywayChosen();
    void stayChosen();

private:
    QPushButton* m_tryAgain;
    QPushButton* m_quitAnyway;
};
