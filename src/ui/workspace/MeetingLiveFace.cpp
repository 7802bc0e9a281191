#include "platform/Settings.h"
#include "storage/Meeting.h"
#include "recording/TranscriptionSession.h"
#include "ui/design/Rule.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/Quillet.h"
#include "ui/design/RecordingDot.h"
#include "ui/design/SymbolButton.h"
#include "ui/design/SymbolView.h"
#include "ui/workspace/MeetingDetailParts.h"
#include "ui/workspace/MeetingDetailView.h"
#include "ui/workspace/MeetingHeader.h"
#include "ui/workspace/NotesEditor.h"
#include "ui/workspace/TranscriptFeedView.h"

#include <QBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <functional>

// The face of a meeting while it records: the notes over the live transcript pane, whose
// height the user drags and which the chat panel may join.

using namespace MeetingDetailParts;

// The grip between the notes and the live transcript: dragging it up makes the pane taller.
class MeetingDetailView::ResizeHandle final : public QWidget
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

QWidget* MeetingDetailView::buildLiveFace()
{
    auto* face = new QWidget(this);
    auto* layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_faceLayout = layout;

    auto* header = new QVBoxLayout;
    header->setSpacing(14);
    header->addWidget(new MeetingHeader(*m_meeting, m_session, m_services.clock, header->spacing()));
    m_liveHeader = readingColumn(header, QMargins(36, 26, 36, 14), false);
    layout->addWidget(m_liveHeader);
    layout->addWidget(new Rule(&Rule::separator));

    auto* notesColumn = new QVBoxLayout;
    notesColumn->setSpacing(10);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(8);
    m_liveStatusDot = new RecordingDot(7);
    m_livePausedDot = new PausedDot;
    m_liveStatusLabel = new EditorialLabel(QString(), Quillet::Tone::accent);
    statusRow->addWidget(m_liveStatusDot);
    statusRow->addWidget(m_livePausedDot);
    statusRow->addWidget(m_liveStatusLabel);
    statusRow->addStretch(1);
    notesColumn->addLayout(statusRow);
    m_notes
        = new NotesEditor(m_meeting->userNotes(), kWriteYourNotes, [this](const QString& text) { notesEdited(text); });
    m_notes->setObjectName(QStringLiteral("notesEditor"));
    notesColumn->addWidget(m_notes, 1);
    QWidget* notes = readingColumn(notesColumn, QMargins(36, 16, 36, 8), false);
    layout->addWidget(notes, 1);

    auto* handle = new ResizeHandle([this] { return transcriptHeight(); },
        [this](double height) { setTranscriptHeight(height, false); }, [this] { return maximumPaneHeight(); }, face);
    handle->setObjectName(QStringLiteral("resizeHandle"));
    m_handle = handle;
    layout->addWidget(handle);
    layout->addWidget(buildTranscriptPane());
    if (m_showChat)
        ensureChatPanel(layout, layout->count());
    return face;
}

QWidget* MeetingDetailView::buildTranscriptPane()
{
    m_livePane = new Pane(nullptr);
    m_livePane->setObjectName(QStringLiteral("transcriptPane"));
    auto* pane = new QVBoxLayout(m_livePane);
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
    auto* chatToggle = new SymbolButton(ask);
    chatToggle->setObjectName(QStringLiteral("chatToggle"));
    chatToggle->setToolTip(QStringLiteral("Ask about what's being said"));
    chatToggle->setTone(m_showChat ? Quillet::Tone::primary : Quillet::Tone::secondary);
    connect(chatToggle, &QAbstractButton::clicked, this, [this] { setShowChat(!m_showChat); });
    header->addWidget(chatToggle);

    SymbolButton::Look collapse;
    collapse.symbol = QStringLiteral("chevron.down");
    collapse.symbolSize = 10;
    auto* collapseToggle = new SymbolButton(collapse);
    collapseToggle->setObjectName(QStringLiteral("collapseToggle"));
    connect(collapseToggle, &QAbstractButton::clicked, this, [this] {
        setTranscriptHeight(transcriptHeight() <= kCollapseThreshold ? kExpandedPaneHeight : kMinimumPaneHeight, true);
    });
    header->addWidget(collapseToggle);
    pane->addWidget(readingColumn(header, QMargins(36, 10, 36, 4), false));

    m_feed = new TranscriptFeedView(m_meeting, true, m_session.isPaused(), m_session.liveDraft(), m_services.scheduler);
    m_feed->setObjectName(QStringLiteral("transcriptFeed"));
    pane->addWidget(m_feed, 1);
    updateTranscriptionNotice();
    updatePaneHeight();
    m_livePane->setPaneHeight(shownPaneHeight(transcriptHeight()), false);
    return m_livePane;
}

double MeetingDetailView::transcriptHeight() const
{
    return m_services.settings.get(SettingsKeys::transcriptPaneHeight);
}

void MeetingDetailView::updateLiveStatus()
{
    if (!m_liveStatusLabel)
        return;
    const bool paused = m_session.isPaused();
    m_liveStatusDot->setVisible(!paused);
    m_livePausedDot->setVisible(paused);
    m_liveStatusLabel->setText(paused ? QStringLiteral("Paused") : QStringLiteral("Listening — jot your notes"));
    m_liveStatusLabel->setTone(paused ? Quillet::Tone::secondary : Quillet::Tone::accent);
    m_systemAudioIcon->setVisible(m_session.systemAudioActive() && !paused);
}

void MeetingDetailView::updatePaneHeight()
{
    if (!m_livePane)
        return;
    const double height = transcriptHeight();
    auto* collapse = m_livePane->findChild<SymbolButton*>(QStringLiteral("collapseToggle"));
    const bool collapsed = height <= kCollapseThreshold;
    // Collapsed, the pane is its header alone.
    m_feed->setVisible(!collapsed);
    collapse->setSymbol(collapsed ? QStringLiteral("chevron.up") : QStringLiteral("chevron.down"));
    collapse->setToolTip(collapsed ? QStringLiteral("Show the transcript") : QStringLiteral("Collapse the transcript"));
    auto* chatToggle = m_livePane->findChild<SymbolButton*>(QStringLiteral("chatToggle"));
    chatToggle->setTone(m_showChat ? Quillet::Tone::primary : Quillet::Tone::secondary);
}

void MeetingDetailView::setTranscriptHeight(double height, bool animated)
{
    m_services.settings.set(SettingsKeys::transcriptPaneHeight, height);
    if (m_livePane)
        m_livePane->setPaneHeight(shownPaneHeight(height), animated);
    updatePaneHeight();
}

int MeetingDetailView::liveChatHeight() const
{
    if (!m_liveFace || !m_liveHeader || !m_handle)
        return kLiveChatHeight;
    const int fixed = m_liveHeader->sizeHint().height() + 1 + m_handle->height() + kLiveNotesMinimum;
    return std::clamp(height() - fixed - int(kMinimumPaneHeight), 0, kLiveChatHeight);
}

double MeetingDetailView::maximumPaneHeight() const
{
    if (!m_liveFace || !m_liveHeader || !m_handle)
        return kMaximumPaneHeight;
    const int chat = m_showChat && m_chatPanel ? liveChatHeight() : 0;
    const int room = height() - m_liveHeader->sizeHint().height() - 1 - m_handle->height() - kLiveNotesMinimum - chat;
    return std::clamp(double(room), kMinimumPaneHeight, kMaximumPaneHeight);
}

double MeetingDetailView::shownPaneHeight(double stored) const
{
    return std::clamp(stored, kMinimumPaneHeight, maximumPaneHeight());
}
