#pragma once

#include "platform/Scheduler.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>

class AppNotices;
class AppState;
class Clock;
class ModelContext;
class QAction;
class QMenu;
class RecordingActions;
class RecordingController;

// The menu of the tray item: start or stop a recording without the main window (with the
// running time while one records), the three most recent meetings, the way back to the main
// window and to settings, and quitting. It is rebuilt whenever the recent list or the
// recording flag changes, and the recent list is fetched again each time it opens. Its counter
// follows the recording flag and counts paused time too.
class MenuBarView final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MenuBarView)

public:
    struct Options
    {
        Scheduler* scheduler = nullptr; // null: Scheduler::system()
        std::chrono::milliseconds tick { 1000 };
    };

    // openMainWindow brings the main window back; "Settings..." then posts openSettings.
    MenuBarView(AppState& appState, RecordingController& recordings, RecordingActions& actions, ModelContext& context,
        const Clock& clock, AppNotices& notices, std::function<void()> openMainWindow, const Options& options,
        QObject* parent = nullptr);
    ~MenuBarView() override;

    QMenu* menu() const { return m_menu.get(); }
    double elapsed() const { return m_elapsed; }

private:
    void requestRebuild();
    void rebuild();
    void refreshRecentDates();
    QString recordingText() const;
    void startTimer();
    void stopTimer();
    void scheduleTick(quint64 generation);

    AppState& m_appState;
    RecordingController& m_recordings;
    RecordingActions& m_actions;
    ModelContext& m_context;
    const Clock& m_clock;
    AppNotices& m_notices;
    std::function<void()> m_openMainWindow;
    Scheduler& m_scheduler;
    std::chrono::milliseconds m_tick;
    std::unique_ptr<QMenu> m_menu;
    QAction* m_recordingRow = nullptr;
    QList<QAction*> m_recentRows;
    bool m_rebuildPending = false;
    double m_elapsed = 0;
    quint64 m_generation = 0;
};
