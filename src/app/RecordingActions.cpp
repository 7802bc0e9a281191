#include "app/RecordingActions.h"

#include "app/RecordingController.h"

#include <QAction>

RecordingActions::RecordingActions(RecordingController& recordings, QObject* parent)
    : QObject(parent)
    , m_recordings(recordings)
    , m_start(new QAction(QStringLiteral("Start Recording"), this))
    , m_stop(new QAction(QStringLiteral("Stop Recording"), this))
    , m_pauseResume(new QAction(this))
    , m_quickNote(new QAction(QStringLiteral("Quick note"), this))
{
    m_start->setShortcut(QKeySequence(QStringLiteral("Ctrl+R")));
    m_stop->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    m_quickNote->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    m_quickNote->setToolTip(QStringLiteral("Quick note \u2014 start a new recording"));
    connect(m_start, &QAction::triggered, &recordings, [&recordings] { recordings.startRecording(nullptr); });
    connect(m_stop, &QAction::triggered, &recordings, &RecordingController::stopRecording);
    connect(m_pauseResume, &QAction::triggered, &recordings, [&recordings] {
        if (recordings.isPaused())
            recordings.resumeRecording();
        else
            recordings.pauseRecording();
    });
    connect(m_quickNote, &QAction::triggered, &recordings, &RecordingController::quickNote);
    connect(&recordings, &RecordingController::isRecordingChanged, this, &RecordingActions::follow);
    connect(&recordings, &RecordingController::isPausedChanged, this, &RecordingActions::follow);
    follow();
}

RecordingActions::~RecordingActions() = default;

void RecordingActions::follow()
{
    const bool recording = m_recordings.isRecording();
    m_start->setEnabled(!recording);
    m_stop->setEnabled(recording);
    m_pauseResume->setEnabled(recording);
    m_pauseResume->setText(m_recordings.isPaused() ? QStringLiteral("Resume") : QStringLiteral("Pause"));
}
