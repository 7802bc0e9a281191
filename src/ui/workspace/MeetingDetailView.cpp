#include "ui/workspace/MeetingDetailView.h"

#include "app/MeetingActions.h"
#include "chat/MeetingChatService.h"
#include "platform/Settings.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "recording/TranscriptionSession.h"
#include "ui/design/Alert.h"
#include "ui/workspace/MeetingActionBar.h"
#include "ui/workspace/MeetingChatPanel.h"
#include "ui/workspace/MeetingDetailParts.h"
#include "ui/workspace/NotesEditor.h"
#include "ui/workspace/TranscriptFeedView.h"

#include <QBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

using namespace MeetingDetailParts;

MeetingDetailView::MeetingDetailView(Meeting& meeting, const WorkspaceServices& services, QWidget* parent)
    : QWidget(parent)
    , m_meeting(&meeting)
    , m_services(services)
    , m_session(services.session)
    , m_chat(services.makeChat())
    , m_actions(new MeetingActions(meeting, services.actions(), this))
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    connect(&meeting, &Meeting::isRecordingChanged, this, &MeetingDetailView::buildFace);
    connect(&meeting, &Meeting::userNotesChanged, this, [this] {
        if (m_notes && m_meeting && m_notes->text() != m_meeting->userNotes())
            m_notes->setText(m_meeting->userNotes());
        updateContent();
    });
    for (const auto signal : { &Meeting::summaryChanged, &Meeting::segmentsChanged })
        connect(&meeting, signal, this, &MeetingDetailView::updateContent);
    connect(m_actions, &MeetingActions::availabilityChanged, this, &MeetingDetailView::updateActionBar);
    for (const auto signal : { &MeetingActions::isRegeneratingChanged, &MeetingActions::regenerateErrorChanged })
        connect(m_actions, signal, this, &MeetingDetailView::updateContent);
    connect(m_actions, &MeetingActions::linkOfferChanged, this, &MeetingDetailView::updateLinkBanner);
    connect(m_actions, &MeetingActions::shared, this, &MeetingDetailView::showShareConfirmation);
    connect(m_actions, &MeetingActions::shareFailed, this, &MeetingDetailView::showShareError);
    connect(
        &m_session, &TranscriptionSession::generatingSummaryMeetingIDChanged, this, &MeetingDetailView::updateContent);
    connect(&m_session, &TranscriptionSession::isPausedChanged, this, [this] {
        updateLiveStatus();
        if (m_feed)
            m_feed->setPaused(m_session.isPaused());
    });
    connect(&m_session, &TranscriptionSession::systemAudioActiveChanged, this, &MeetingDetailView::updateLiveStatus);
    connect(&m_session, &TranscriptionSession::errorChanged, this, &MeetingDetailView::updateTranscriptionNotice);
    connect(&m_session, &TranscriptionSession::transcriptionFailureChanged, this,
        &MeetingDetailView::updateTranscriptionNotice);
    connect(&m_session, &TranscriptionSession::liveDraftChanged, this, [this] {
        if (m_feed && m_liveFace)
            m_feed->setDraft(m_session.liveDraft());
    });
    connect(&services.settings, &Settings::changed, this, [this](const QString& key) {
        if (SettingsKeys::transcriptPaneHeight.is(key))
            updatePaneHeight();
    });

    buildFace();
}

MeetingDetailView::~MeetingDetailView() = default;

bool MeetingDetailView::isRegenerating() const
{
    return m_actions->isRegenerating();
}

std::optional<QString> MeetingDetailView::regenerateError() const
{
    return m_actions->regenerateError();
}

bool MeetingDetailView::isSharing() const
{
    return m_actions->isSharing();
}

// Faces ----------------------------------------------------------------------------------------

void MeetingDetailView::buildFace()
{
    if (!m_meeting)
        return;
    // Every part of the old face goes; the chat service and the view state stay.
    if (m_face) {
        m_face->hide();
        m_face->deleteLater();
    }
    m_face = nullptr;
    m_faceLayout = nullptr;
    m_liveStatusLabel = nullptr;
    m_linkText = m_generatingNotes = m_regenerateErrorLabel = m_transcriptionNotice = nullptr;
    m_linkBanner = m_contentArea = m_modeSwitch = nullptr;
    m_generatingRule = m_generatingState = m_emptyHint = m_regenerateBlock = nullptr;
    m_actionBar = nullptr;
    m_transcriptPanel = m_liveStatusDot = m_livePausedDot = m_systemAudioIcon = nullptr;
    m_generateButton = nullptr;
    m_notes = nullptr;
    m_summary = nullptr;
    m_contentLayout = nullptr;
    m_feed = nullptr;
    m_chatPanel = nullptr;
    m_livePane = nullptr;
    m_liveHeader = nullptr;
    m_handle = nullptr;

    m_liveFace = m_meeting->isRecording();
    m_face = m_liveFace ? buildLiveFace() : buildFinishedFace();
    m_layout->addWidget(m_face);
    updateLinkBanner();
    updateContent();
    updateActionBar();
    updateLiveStatus();
    updateTranscriptionNotice();
    fitPanels();
}

void MeetingDetailView::ensureChatPanel(QBoxLayout* into, int index)
{
    if (m_chatPanel || !m_meeting)
        return;
    m_chatPanel = new MeetingChatPanel(
        *m_meeting, *m_chat, m_services.chatSaving, m_services.settings, &m_services.urlOpener);
    m_chatPanel->setObjectName(QStringLiteral("chatPanel"));
    into->insertWidget(index, m_chatPanel);
    fitPanels();
}

void MeetingDetailView::updateTranscriptionNotice()
{
    if (!m_meeting)
        return;
    const QString failure = m_session.transcriptionFailure(m_meeting->id());
    const bool recording = m_meeting->isRecording();
    // While recording, only a failure that still holds: the session takes its error back once
    // the microphone's text flows again.
    if (m_feed) {
        const QString error = m_session.error();
        m_feed->setProblem(recording && !error.isEmpty() && error == failure ? error : QString());
    }
    if (m_transcriptionNotice) {
        m_transcriptionNotice->setVisible(!recording && !failure.isEmpty());
        const QString what = m_meeting->segments().isEmpty()
            ? QStringLiteral("The audio was not transcribed. ")
            : QStringLiteral("Part of the audio was not transcribed. ");
        m_transcriptionNotice->setText(failure.isEmpty() ? QString() : what + failure);
    }
}

void MeetingDetailView::updateActionBar()
{
    if (!m_actionBar || !m_meeting)
        return;
    m_actionBar->showState(m_showTranscript, m_showChat);
    fitPanels();
}

void MeetingDetailView::setShowChat(bool show)
{
    m_showChat = show;
    if (m_faceLayout) {
        ensureChatPanel(m_faceLayout, m_faceLayout->count());
        m_chatPanel->setVisible(show);
    }
    updateActionBar();
    updatePaneHeight();
    fitPanels();
}

void MeetingDetailView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitPanels();
}

void MeetingDetailView::fitPanels()
{
    // The panels take what the page can spare and never more, so that opening one, or dragging
    // the handle, never asks the window for more room.
    if (m_liveFace) {
        if (m_chatPanel)
            m_chatPanel->setFixedHeight(liveChatHeight());
        if (m_livePane && !m_livePane->isAnimating())
            m_livePane->setPaneHeight(shownPaneHeight(transcriptHeight()), false);
        return;
    }
    const bool transcript = m_transcriptPanel && m_showTranscript;
    const bool chat = m_chatPanel && m_showChat;
    const int bar = m_actionBar && !m_actionBar->isHidden() ? m_actionBar->sizeHint().height() : 0;
    const int spare = std::max(height() - bar - kReadingMinimum, 0);
    const int wanted = (transcript ? kFinishedTranscriptHeight : 0) + (chat ? kFinishedChatMinimum : 0);
    const double share = wanted > spare ? double(spare) / wanted : 1.0;
    if (m_transcriptPanel)
        m_transcriptPanel->setFixedHeight(int(kFinishedTranscriptHeight * share));
    if (m_chatPanel)
        m_chatPanel->setMinimumHeight(int(kFinishedChatMinimum * share));
}

// Actions ------------------------------------------------------------------------------------

void MeetingDetailView::notesEdited(const QString& text)
{
    if (!m_meeting)
        return;
    m_meeting->setUserNotes(text);
}

void MeetingDetailView::regenerate()
{
    m_actions->regenerate();
}

void MeetingDetailView::copySummary()
{
    m_actions->copySummary();
}

void MeetingDetailView::copyTranscript()
{
    m_actions->copyTranscript();
}

void MeetingDetailView::shareMeeting()
{
    m_actions->share();
}

void MeetingDetailView::showShareConfirmation(const QString& url)
{
    if (m_shareAlert)
        m_shareAlert->deleteLater();
    auto* alert = new QMessageBox(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowTitle(QStringLiteral("Link copied"));
    alert->setTextFormat(Qt::PlainText);
    alert->setText(QStringLiteral("Anyone with this link can read this summary.\n\n") + url);
    fitAlertToText(*alert);
    QPushButton* open = alert->addButton(QStringLiteral("Open in browser"), QMessageBox::AcceptRole);
    alert->addButton(QStringLiteral("Done"), QMessageBox::RejectRole);
    connect(open, &QPushButton::clicked, m_actions, &MeetingActions::openSharedLink);
    m_shareAlert = alert;
    alert->open();
}

void MeetingDetailView::showShareError(const QString& message)
{
    if (m_shareAlert)
        m_shareAlert->deleteLater();
    m_shareAlert = openAlert(this, QStringLiteral("Couldn't share"), message);
}
