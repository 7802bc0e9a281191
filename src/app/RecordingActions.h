#pragma once

#include <QObject>

class QAction;
class RecordingController;

// The commands of a recording as one set of actions, with their words, shortcuts and enabled
// states, made once and shown by every place that offers them (the tray's menu, the window's
// toolbar). They follow the recording controller and send it their commands; each is enabled
// only while it can be chosen.
class RecordingActions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RecordingActions)

public:
    explicit RecordingActions(RecordingController& recordings, QObject* parent = nullptr);
    ~RecordingActions() override;

    // "Start Recording" (Ctrl+R): a recording into a new meeting.
    QAction* start() const { return m_start; }
    // "Stop Recording" (Ctrl+S).
    QAction* stop() const { return m_stop; }
    // "Pause" while recording, "Resume" while paused.
    QAction* pauseResume() const { return m_pauseResume; }
    // "Quick note" (Ctrl+N): a new recording, asking first when one runs.
    QAction* quickNote() const { return m_quickNote; }

private:
    void follow();

    RecordingController& m_recordings;
    QAction* m_start;
    QAction* m_stop;
    QAction* m_pauseResume;
    QAction* m_quickNote;
};
