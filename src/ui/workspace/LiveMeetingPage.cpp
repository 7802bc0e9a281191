#include "ui/workspace/LiveMeetingPage.h"

#include "app/RecordingController.h"
#include "platform/Settings.h"
#include "storage/Meeting.h"
#include "ui/design/Announcement.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/Quillet.h"
#include "ui/design/RecordingDot.h"
#include "ui/design/Rule.h"
#include "ui/design/SymbolButton.h"
#include "ui/design/SymbolView.h"
#include "ui/workspace/MeetingChatPanel.h"
#include "ui/workspace/MeetingHeader.h"
#include "ui/workspace/MeetingPageParts.h"
#include "ui/workspace/NotesEditor.h"
#include "ui/workspace/TranscriptFeedView.h"

#include <QBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QShowEvent>
#include <cmath>
#include <functional>

using namespace MeetingPageParts;

// The grip between the notes and the live transcript: dragging it up makes the pane taller.
class LiveMeetingPage::ResizeHandle final : public QWidget
{
public:
    ResizeHandle(std::function<double()> height, std::function<void(double)> setHeight, std::function<double()> maximum,
        QWidget* parent)
        : QWidget(parent)
        , m_height(std::move(height))
        , m_setHeight(std::move(setHeight))
        , m_maximum(std::move(maximum))
    {
        setFixedHeight(10);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::SizeVerCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal middle = height() / 2.0;
        painter.fillRect(QRectF(0, std::floor(middle), width(), 1), Rule::separator(palette()));
        painter.setPen(Qt::NoPen);
        painter.setBrush(Quillet::withOpacity(Quillet::secondary(palette()), 0.25));
        painter.drawRoundedRect(QRectF(width() / 2.0 - 14, middle - 1.5, 28, 3), 1.5, 1.5);
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        m_pressY = event->globalPosition().y();
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!(event->buttons() & Qt::LeftButton))
            return;
        const double translation = event->globalPosition().y() - m_pressY;
        if (!m_dragStartHeight) {
            if (std::abs(translation) < 1)
                return;
            m_dragStartHeight = m_height();
        }
        m_setHeight(std::clamp(*m_dragStartHeight - translation, kMinimumPaneHeight, m_maximum()));
    }

    void mouseReleaseEvent(QMouseEvent*) override { m_dragStartHeight.reset(); }

private:
    std::function<double()> m_height;
    std::function<void(double)> m_setHeight;
    std::function<double()> m_maximum;
    double m_pressY = 0;
    std::optional<double> m_dragStartHeight;
};

LiveMeetingPage::LiveMeetingPage(
    Meeting& meeting, const WorkspaceServices& services, MeetingPageState state, QWidget* parent)
    : MeetingPage(meeting, services, std::move(state), parent)
    , m_recordings(services.recordings)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    auto* header = new QVBoxLayout;
    header->setSpacing(14);
    header->addWidget(new MeetingHeader(meeting, m_recordings, services.clock, header->spacing()));
    m_header = readingColumn(header, QMargins(36, 26, 36, 14), false);
    m_layout->addWidget(m_header);
    m_layout->addWidget(new Rule(&Rule::separator));

    auto* notesColumn = new QVBoxLayout;
    notesColumn->setSpacing(10);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    m_statusDot = new RecordingDot(7);
    m_pausedDot = new PausedDot;
    m_statusLabel = new EditorialLabel(QString(), Quillet::Tone::accent);
    Announcement::marks(*m_statusLabel);
    statusRow->addWidget(m_statusDot);
    statusRow->addWidget(m_pausedDot);
    statusRow->addWidget(m_statusLabel);
    statusRow->addStretch(1);
    notesColumn->addLayout(statusRow);
    m_notes = makeNotesEditor();
    notesColumn->addWidget(m_notes, 1);
    m_layout->addWidget(readingColumn(notesColumn, QMargins(36, 16, 36, 8), false), 1);

    m_handle = new ResizeHandle([this] { return transcriptHeight(); },
        [this](double height) { setTranscriptHeight(height, false); }, [this] { return maximumPaneHeight(); }, this);
    m_handle->setObjectName(QStringLiteral("resizeHandle"));
    m_layout->addWidget(m_handle);
    m_layout->addWidget(buildTranscriptPane());

    connect(&m_recordings, &RecordingController::isPausedChanged, this, [this] {
        updateLiveStatus();
        m_feed->setPaused(m_recordings.isPaused());
    });
    connect(&m_recordings, &RecordingController::systemAudioActiveChanged, this, &LiveMeetingPage::updateLiveStatus);
    connect(&m_recordings, &RecordingController::errorChanged, this, &LiveMeetingPage::updateProblem);
    connect(&m_recordings, &RecordingController::transcriptionFailureChanged, this, &LiveMeetingPage::updateProblem);
    connect(&m_recordings, &RecordingController::liveDraftChanged, this,
        [this] { m_feed->setDraft(m_recordings.liveDraft()); });
    connect(&services.settings, &Settings::changed, this, [this](const QString& key) {
        if (SettingsKeys::transcriptPaneHeight.is(key))
            updatePaneHeight();
    });

    updateLiveStatus();
    updateProblem();
    setShowChat(m_state.showChat);
}

LiveMeetingPage::~LiveMeetingPage() = default;

QWidget* LiveMeetingPage::buildTranscriptPane()
{
    m_pane = new Pane(nullptr);
    m_pane->setObjectName(QStringLiteral("transcriptPane"));
    auto* pane = new QVBoxLayout(m_pane);
    pane->setContentsMargins(0, 0, 0, 0);
    pane->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(new EditorialLabel(QStringLiteral("Transcript"), Quillet::Tone::secondary));
    header->addStretch(1);
    m_systemAudioIcon = new SymbolView(QStringLiteral("speaker.wave.2"), 10, Quillet::Tone::tertiary);
    m_systemAudioIcon->setToolTip(QStringLiteral("Capturing system audio"));
    header->addWidget(m_systemAudioIcon);

    SymbolButton::Look ask;
    ask.symbol = QStringLiteral("bubble.left.and.text.bubble.right");
    ask.symbolSize = 10;
    ask.text = QStringLiteral("Ask");
    ask.font = Quillet::font(11, QFont::Medium);
    m_chatToggle = new SymbolButton(ask);
    m_chatToggle->setObjectName(QStringLiteral("chatToggle"));
    m_chatToggle->setToolTip(QStringLiteral("Ask about what's being said"));
    connect(m_chatToggle, &QAbstractButton::clicked, this, [this] { setShowChat(!showsChat()); });
    header->addWidget(m_chatToggle);

    SymbolButton::Look collapse;
    collapse.symbol = QStringLiteral("chevron.down");
    collapse.symbolSize = 10;
    m_collapseToggle = new SymbolButton(collapse);
    m_collapseToggle->setObjectName(QStringLiteral("collapseToggle"));
    connect(m_collapseToggle, &QAbstractButton::clicked, this, [this] {
        setTranscriptHeight(transcriptHeight() <= kCollapseThreshold ? kExpandedPaneHeight : kMinimumPaneHeight, true);
    });
    header->addWidget(m_collapseToggle);
    pane->addWidget(readingColumn(header, QMargins(36, 10, 36, 4), false));

    m_feed = new TranscriptFeedView(
        m_meeting, true, m_recordings.isPaused(), m_recordings.liveDraft(), m_services.scheduler);
    m_feed->setObjectName(QStringLiteral("transcriptFeed"));
    pane->addWidget(m_feed, 1);
    updatePaneHeight();
    m_pane->setPaneHeight(shownPaneHeight(transcriptHeight()), false);
    return m_pane;
}

void LiveMeetingPage::placeChatPanel(MeetingChatPanel& panel)
{
    m_layout->addWidget(&panel);
}

void LiveMeetingPage::chatShownChanged()
{
    updatePaneHeight();
    fitPanels();
}

void LiveMeetingPage::resizeEvent(QResizeEvent* event)
{
    MeetingPage::resizeEvent(event);
    fitPanels();
}

double LiveMeetingPage::transcriptHeight() const
{
    return m_services.settings.get(SettingsKeys::transcriptPaneHeight);
}

void LiveMeetingPage::updateLiveStatus()
{
    const bool paused = m_recordings.isPaused();
    m_statusDot->setVisible(!paused);
    m_pausedDot->setVisible(paused);
    const QString status = paused ? QStringLiteral("Paused") : QStringLiteral("Listening — jot your notes");
    // The recording bar says the recording's changes; this line is read where it is.
    m_statusLabel->setText(status);
    m_statusLabel->setTone(paused ? Quillet::Tone::secondary : Quillet::Tone::accent);
    m_systemAudioIcon->setVisible(m_recordings.systemAudioActive() && !paused);
}

void LiveMeetingPage::updateProblem()
{
    if (!m_meeting)
        return;
    // Only a failure that still holds: the session takes its error back once the microphone's
    // text flows again.
    const QString failure = m_recordings.transcriptionFailure(m_meeting->id());
    const QString error = m_recordings.error();
    m_feed->setProblem(m_meeting->isRecording() && !error.isEmpty() && error == failure ? error : QString());
}

void LiveMeetingPage::updatePaneHeight()
{
    const bool collapsed = transcriptHeight() <= kCollapseThreshold;
    // Collapsed, the pane is its header alone.
    m_feed->setVisible(!collapsed);
    m_collapseToggle->setSymbol(collapsed ? QStringLiteral("chevron.up") : QStringLiteral("chevron.down"));
    m_collapseToggle->setToolTip(
        collapsed ? QStringLiteral("Show the transcript") : QStringLiteral("Collapse the transcript"));
    m_chatToggle->setTone(showsChat() ? Quillet::Tone::primary : Quillet::Tone::secondary);
}

void LiveMeetingPage::setTranscriptHeight(double height, bool animated)
{
    m_services.settings.set(SettingsKeys::transcriptPaneHeight, height);
    m_pane->setPaneHeight(shownPaneHeight(height), animated);
    updatePaneHeight();
}

void LiveMeetingPage::fitPanels()
{
    if (MeetingChatPanel* chat = chatPanel())
        chat->setFixedHeight(chatHeight());
    if (!m_pane->isAnimating())
        m_pane->setPaneHeight(shownPaneHeight(transcriptHeight()), false);
}

int LiveMeetingPage::chatHeight() const
{
    const int fixed = m_header->sizeHint().height() + 1 + m_handle->height() + kLiveNotesMinimum;
    return std::clamp(height() - fixed - int(kMinimumPaneHeight), 0, kLiveChatHeight);
}

double LiveMeetingPage::maximumPaneHeight() const
{
    const int chat = showsChat() && chatPanel() ? chatHeight() : 0;
    const int room = height() - m_header->sizeHint().height() - 1 - m_handle->height() - kLiveNotesMinimum - chat;
    return std::clamp(double(room), kMinimumPaneHeight, kMaximumPaneHeight);
}

double LiveMeetingPage::shownPaneHeight(double stored) const
{
    return std::clamp(stored, kMinimumPaneHeight, maximumPaneHeight());
}
