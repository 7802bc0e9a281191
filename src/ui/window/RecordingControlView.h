#pragma once

#include "platform/Scheduler.h"

#include <QWidget>
#include <chrono>
#include <functional>

class PillButton;
class QLabel;
class QStackedLayout;
class ToneLabel;
class RecordingController;
class WaveformIndicator;

// The bar along the bottom of the main window, from which a recording is started, paused,
// resumed and stopped. It follows the recording and shows one of three faces: recording (level
// meter, running time, error caption, system-audio mark, Pause/Resume and Stop), writing (a
// spinner while the stopped recording's summary is written) or idle ("Start recording" and
// the recording's error). Its counter shows the unpaused time of the recording that runs,
// whichever control started it: it starts at 0 when a recording starts, goes up once
// a second except while paused, and is back at 0 when the recording stops. The bar is meant to
// be made once and kept, so the count survives while it is hidden.
class RecordingControlView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RecordingControlView)

public:
    enum class Face { idle, recording, writing };
    Q_ENUM(Face)

    struct Options
    {
        Scheduler* scheduler = nullptr; // null: Scheduler::system()
        std::chrono::milliseconds tick { 1000 };
    };

    // What the bar's buttons ask for; the recording controller shows what became of it.
    struct Intents
    {
        std::function<void()> start; // "Start recording"
        std::function<void()> stop;
        std::function<void()> pause;
        std::function<void()> resume;
    };

    RecordingControlView(
        RecordingController& recordings, Intents intents, const Options& options, QWidget* parent = nullptr);

    Face face() const { return m_face; }
    // Seconds the counter shows.
    double elapsed() const { return m_elapsed; }

    // The parts a test or a screenshot looks at.
    PillButton* startButton() const { return m_start; }
    PillButton* pauseButton() const { return m_pause; }
    PillButton* stopButton() const { return m_stop; }
    QLabel* timeLabel() const;
    QWidget* systemAudioMark() const { return m_systemAudio; }
    WaveformIndicator* meter() const { return m_meter; }
    // The error caption of the face shown (empty when there is none).
    QString caption() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void updateTime();
    void startTimer();
    void stopTimer();
    void scheduleTick(quint64 generation);
    void tellRecordingState();

    RecordingController& m_recordings;
    Intents m_intents;
    Scheduler& m_scheduler;
    std::chrono::milliseconds m_tick;

    Face m_face = Face::idle;
    // What was last told of the recording, so that each change is said once.
    bool m_toldRecording = false;
    bool m_toldPaused = false;
    double m_elapsed = 0;
    // Ticks scheduled for an earlier recording find another generation and do nothing.
    quint64 m_generation = 0;

    QStackedLayout* m_faces;
    QLabel* m_writingLine = nullptr;
    PillButton* m_start;
    ToneLabel* m_idleCaption;
    WaveformIndicator* m_meter;
    ToneLabel* m_time;
    ToneLabel* m_recordingCaption;
    QWidget* m_systemAudio;
    PillButton* m_pause;
    PillButton* m_stop;
};
