#include "ui/window/RecordingControlView.h"

#include "app/RecordingController.h"
#include "audio/DualStreamMixer.h"
#include "audio/MicRecorder.h"
#include "format/TimeText.h"
#include "ui/design/Announcement.h"
#include "ui/design/PillButton.h"
#include "ui/design/Quillet.h"
#include "ui/design/Spinner.h"
#include "ui/design/Symbols.h"
#include "ui/design/ToneLabel.h"
#include "ui/window/WaveformIndicator.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QStackedLayout>

namespace {

// A one-line caption that gives up its width first and cuts its text at the tail.
class ElidedCaption final : public ToneLabel
{
public:
    ElidedCaption()
        : ToneLabel({}, Quillet::caption(), Quillet::Tone::accent)
    {
        // What it says is an error, read as such where it is (the bar says it as it comes).
        Announcement::marks(*this, QAccessible::AlertMessage);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }

    QSize minimumSizeHint() const override { return { 0, fontMetrics().height() }; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, width());
        painter.drawText(rect(), int(alignment()) | Qt::TextSingleLine, shown);
    }
};

// A symbol in a tone of the window text, at a given opacity.
class SymbolMark final : public QWidget
{
public:
    SymbolMark(const QString& symbol, qreal fontPixels, qreal opacity)
        : m_symbol(symbol)
        , m_side(Symbols::sideFor(fontPixels))
        , m_opacity(opacity)
    {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return QSizeF(m_side, m_side).toSize(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor color = Quillet::withOpacity(Quillet::secondary(palette()), m_opacity);
        Symbols::paint(painter, m_symbol, QRectF(rect()), color);
    }

private:
    QString m_symbol;
    qreal m_side;
    qreal m_opacity;
};

QHBoxLayout* faceLayout(QWidget* face, int spacing)
{
    auto* layout = new QHBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

PillButton::Mark symbolMark(const QString& symbol)
{
    PillButton::Mark mark;
    mark.shape = PillButton::Mark::Shape::symbol;
    mark.size = 10;
    mark.symbol = symbol;
    mark.spacing = 6;
    return mark;
}

} // namespace

RecordingControlView::RecordingControlView(
    RecordingController& recordings, Intents intents, const Options& options, QWidget* parent)
    : QWidget(parent)
    , m_recordings(recordings)
    , m_intents(std::move(intents))
    , m_scheduler(options.scheduler ? *options.scheduler : Scheduler::system())
    , m_tick(options.tick)
    , m_faces(new QStackedLayout)
    , m_start(new PillButton(QStringLiteral("Start recording"), true))
    , m_idleCaption(new ElidedCaption)
    , m_meter(new WaveformIndicator)
    , m_time(new ToneLabel(
          formatElapsed(0), Quillet::font(13, QFont::Medium, Quillet::Design::monospaced), Quillet::Tone::primary))
    , m_recordingCaption(new ElidedCaption)
    , m_systemAudio(new SymbolMark(QStringLiteral("speaker.wave.2"), 11, 0.6))
    , m_pause(new PillButton(QStringLiteral("Pause"), false))
    , m_stop(new PillButton(QStringLiteral("Stop"), false))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // Idle: the prominent start pill, then the last error at the trailing end.
    auto* idle = new QWidget;
    PillButton::Mark dot;
    dot.shape = PillButton::Mark::Shape::circle;
    dot.size = 7;
    dot.color = QColor(Qt::white);
    dot.spacing = 8;
    m_start->setMark(dot);
    m_idleCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QHBoxLayout* idleRow = faceLayout(idle, 12);
    idleRow->addWidget(m_start);
    idleRow->addStretch();
    idleRow->addWidget(m_idleCaption, 1);

    // Recording: meter and time, the error, the system-audio mark, Pause/Resume and Stop.
    auto* recording = new QWidget;
    auto* meterAndTime = new QHBoxLayout;
    meterAndTime->setSpacing(10);
    meterAndTime->addWidget(m_meter);
    meterAndTime->addWidget(m_time);
    m_systemAudio->setToolTip(QStringLiteral("Capturing system audio"));
    m_pause->setMark(symbolMark(QStringLiteral("pause.fill")));
    PillButton::Mark square;
    square.shape = PillButton::Mark::Shape::roundedSquare;
    square.size = 9;
    square.color = Quillet::accent();
    square.spacing = 6;
    m_stop->setMark(square);
    QHBoxLayout* recordingRow = faceLayout(recording, 16);
    recordingRow->addLayout(meterAndTime);
    recordingRow->addWidget(m_recordingCaption, 1);
    recordingRow->addWidget(m_systemAudio);
    recordingRow->addWidget(m_pause);
    recordingRow->addWidget(m_stop);

    // Writing: a spinner and what is happening.
    auto* writing = new QWidget;
    auto* spinnerBox = new QWidget;
    spinnerBox->setFixedSize(16, 16);
    auto* spinner = new Spinner(11, spinnerBox);
    spinner->move(2, 2);
    QHBoxLayout* writingRow = faceLayout(writing, 12);
    writingRow->addWidget(spinnerBox);
    m_writingLine = new ToneLabel(
        QStringLiteral("Writing your notes\u2026"), Quillet::font(13, QFont::Medium), Quillet::Tone::secondary);
    writingRow->addWidget(m_writingLine);
    writingRow->addStretch();

    m_faces->addWidget(idle);
    m_faces->addWidget(recording);
    m_faces->addWidget(writing);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(20, 12, 20, 12);
    outer->addLayout(m_faces);

    connect(m_start, &QAbstractButton::clicked, this, [this] { m_intents.start(); });
    connect(m_pause, &QAbstractButton::clicked, this, [this] {
        if (m_recordings.isPaused())
            m_intents.resume();
        else
            m_intents.pause();
    });
    connect(m_stop, &QAbstractButton::clicked, this, [this] { m_intents.stop(); });

    connect(&m_recordings, &RecordingController::isRecordingChanged, this, [this] {
        if (m_recordings.isRecording())
            startTimer();
        else
            stopTimer();
        refresh();
    });
    for (auto change : { &RecordingController::isPausedChanged, &RecordingController::errorChanged,
             &RecordingController::systemAudioActiveChanged, &RecordingController::isGeneratingSummaryChanged })
        connect(&m_recordings, change, this, &RecordingControlView::refresh);

    if (m_recordings.isRecording())
        startTimer();
    m_toldRecording = m_recordings.isRecording();
    m_toldPaused = m_recordings.isPaused();
    refresh();
}

QLabel* RecordingControlView::timeLabel() const
{
    return m_time;
}

QString RecordingControlView::caption() const
{
    switch (m_face) {
    case Face::idle:
        return m_idleCaption->text();
    case Face::recording:
        return m_recordingCaption->text();
    case Face::writing:
        return {};
    }
    return {};
}

void RecordingControlView::refresh()
{
    // A new recording may start while the previous one's summary is still being written.
    const Face before = m_face;
    if (m_recordings.isRecording())
        m_face = Face::recording;
    else if (m_recordings.isGeneratingSummary())
        m_face = Face::writing;
    else
        m_face = Face::idle;
    // The button pressed goes with its face: the keyboard stays in the bar, on the face's first
    // button, rather than falling to whatever follows the bar.
    QWidget* focused = QApplication::focusWidget();
    const bool focusInBar = focused && isAncestorOf(focused);
    m_faces->setCurrentIndex(int(m_face));
    if (focusInBar && before != m_face && !m_faces->currentWidget()->isAncestorOf(QApplication::focusWidget())) {
        if (m_face == Face::idle)
            m_start->setFocus(Qt::OtherFocusReason);
        else if (m_face == Face::recording)
            m_pause->setFocus(Qt::OtherFocusReason);
        else
            m_writingLine->setFocus(Qt::OtherFocusReason);
    }
    tellRecordingState();

    const QString error = m_recordings.error();
    m_idleCaption->setVisible(!error.isEmpty());
    m_recordingCaption->setVisible(!error.isEmpty());
    // Both faces show it; it is said once.
    if (error != m_idleCaption->text() && !error.isEmpty())
        Announcement::say(*window(), error);
    m_idleCaption->setText(error);
    m_recordingCaption->setText(error);
    // The captions give up their width first; the whole sentence stays within reach.
    m_idleCaption->setToolTip(error);
    m_recordingCaption->setToolTip(error);

    const bool paused = m_recordings.isPaused();
    m_systemAudio->setVisible(m_recordings.systemAudioActive() && !paused);
    m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_pause->setMark(symbolMark(paused ? QStringLiteral("play.fill") : QStringLiteral("pause.fill")));
    m_pause->updateGeometry();
    m_time->setTone(paused ? Quillet::Tone::secondary : Quillet::Tone::primary);
    updateTime();
}

// Said from the window: a recording started or stopped from a page that shows no bar (Settings,
// by its key or the tray) is news all the same.
void RecordingControlView::tellRecordingState()
{
    const bool recording = m_recordings.isRecording();
    const bool paused = recording && m_recordings.isPaused();
    const bool wasRecording = std::exchange(m_toldRecording, recording);
    const bool wasPaused = std::exchange(m_toldPaused, paused);
    QString news;
    if (recording && !wasRecording)
        news = QStringLiteral("Recording started.");
    else if (!recording && wasRecording)
        news = QStringLiteral("Recording stopped.");
    else if (paused && !wasPaused)
        news = QStringLiteral("Recording paused.");
    else if (!paused && wasPaused)
        news = QStringLiteral("Recording resumed.");
    Announcement::say(*window(), news);
}

void RecordingControlView::updateTime()
{
    m_time->setText(formatElapsed(m_elapsed));
    // The level is read only when the bar is redrawn anyway: at each tick and each change of
    // the session.
    const bool paused = m_recordings.isPaused();
    m_meter->setLevel(paused ? 0.0f : m_recordings.microphoneLevel(), paused);
}

void RecordingControlView::startTimer()
{
    ++m_generation;
    m_elapsed = 0;
    updateTime();
    scheduleTick(m_generation);
}

void RecordingControlView::stopTimer()
{
    ++m_generation;
    m_elapsed = 0;
    updateTime();
}

void RecordingControlView::scheduleTick(quint64 generation)
{
    m_scheduler.schedule(m_tick, this, [this, generation] {
        if (generation != m_generation)
            return;
        if (!m_recordings.isPaused())
            m_elapsed += 1;
        updateTime();
        scheduleTick(generation);
    });
}

void RecordingControlView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Quillet::barMaterial(palette()));
}
