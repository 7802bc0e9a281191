#pragma once

#include <QWidget>

class MeetingActions;
class Scheduler;

// The bar under a finished meeting: the transcript and chat toggles, then copy summary, copy
// transcript, share and regenerate. It shows the actions' state and hands them the clicks; the
// toggles belong to the page, which says which panels are open.
class MeetingActionBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingActionBar)

public:
    MeetingActionBar(MeetingActions& actions, Scheduler& scheduler, QWidget* parent = nullptr);

    // Shows the actions' state, and the toggles of the open panels lit.
    void showState(bool transcriptShown, bool chatShown);

signals:
    void transcriptToggled();
    void chatToggled();

private:
    MeetingActions& m_actions;
};
