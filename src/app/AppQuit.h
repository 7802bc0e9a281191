#pragma once

#include "storage/SaveHealth.h"

#include <QObject>
#include <QStringList>

class ModelContext;

// How the application ends when it is asked to (the menu's "Quit Quillet", Ctrl+Q, a
// termination signal): what was typed is written first. A quit whose save fails does not end
// the application; it is held, with the cause and the meetings whose changes would be lost, for
// the window to ask the person: tryAgain() saves again, quitAnyway() ends without those changes,
// stay() keeps Quillet running (its saves go on being retried). finished() says the application
// may end now; the shell then ends the event loop. Main thread only.
class AppQuit final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppQuit)
    Q_PROPERTY(bool held READ isHeld NOTIFY heldChanged)

public:
    AppQuit(ModelContext& store, SaveHealth& saveHealth, QObject* parent = nullptr);

    // A quit asked for: saves, then finishes, or is held when the save fails. Asked again
    // while held, it is the same as tryAgain().
    void request();
    void tryAgain() { request(); }
    void quitAnyway();
    void stay();

    bool isHeld() const { return m_held; }
    // While held: why the save failed, and the titles of the meetings whose changes would be
    // lost ("Untitled Meeting" for one without a title; none when only folders or deletions
    // are owed).
    SaveHealth::Problem problem() const { return m_saveHealth.problem(); }
    QStringList unsavedMeetings() const { return m_unsavedMeetings; }

signals:
    void heldChanged();
    void finished();

private:
    void setHeld(bool held);

    ModelContext& m_store;
    SaveHealth& m_saveHealth;
    bool m_held = false;
    QStringList m_unsavedMeetings;
};
