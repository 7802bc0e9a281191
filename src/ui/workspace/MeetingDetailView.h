#pragma once

#include "app/WorkspaceServices.h"
#include "storage/Meeting.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

class EditorialLabel;
class MeetingActionBar;
class MeetingActions;
class PillButton;
class MeetingChatPanel;
class MeetingChatService;
class NotesEditor;
class QBoxLayout;
class QLabel;
class QTextEdit;
class QVBoxLayout;
class SummaryMarkdown;
class TranscriptFeedView;
class TranscriptionSession;

// The workspace of one meeting: the right-hand side of the main window while a meeting is
// selected. While the meeting records it shows the notes beside the live transcript;
// afterwards the title, the summary or the notes, the transcript, the chat panel and the
// actions that regenerate, copy and share the summary. The main window makes one for each
// selected meeting, so every piece of state here starts afresh with the selection; the work
// a view starts (a regeneration, a delayed archive write) goes on without it.
//
// The commands are MeetingActions'; the header and the action bar are widgets of their own; the
// two faces are built in MeetingFinishedFace.cpp and MeetingLiveFace.cpp.
class MeetingDetailView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingDetailView)

public:
    enum class DetailMode { enhanced, notes };
    // What the finished face shows under the title, the first that applies.
    enum class Content { summary, generating, unsummarized, empty };

    static constexpr double kMinimumPaneHeight = 44;
    static constexpr double kMaximumPaneHeight = 560;

    MeetingDetailView(Meeting& meeting, const WorkspaceServices& services, QWidget* parent = nullptr);
    ~MeetingDetailView() override;

    Meeting* meeting() const { return m_meeting; }
    MeetingChatService& chat() const { return *m_chat; }
    MeetingActions& actions() const { return *m_actions; }

    bool isLiveFace() const { return m_liveFace; }
    Content content() const { return m_content; }
    DetailMode detailMode() const { return m_detailMode; }
    bool isRegenerating() const;
    std::optional<QString> regenerateError() const;
    bool isSharing() const;
    // The share alert on screen ("Link copied" or "Couldn't share"), if any.
    QMessageBox* shareAlert() const { return m_shareAlert; }
    // The live transcript pane's height: the setting shared by every meeting.
    double transcriptHeight() const;

    // Has the title and summary written again from the transcript.
    void regenerate();
    // Publishes the summary as a public link and puts the link on the clipboard.
    void shareMeeting();
    void copySummary();
    void copyTranscript();

    void setDetailMode(DetailMode mode);
    void setShowTranscript(bool show);
    void setShowChat(bool show);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class ResizeHandle;
    class Pane;

    void buildFace();
    QWidget* buildFinishedFace();
    QWidget* buildLiveFace();
    QWidget* buildContentArea();
    QWidget* buildLinkBanner();
    QWidget* buildTranscriptPane();
    void ensureChatPanel(QBoxLayout* into, int index);
    void ensureFinishedTranscript(QBoxLayout* into, int index);

    Content currentContent() const;
    void updateContent();
    void updateTranscriptionNotice();
    void updateActionBar();
    void updateLinkBanner();
    void updateLiveStatus();
    void updatePaneHeight();
    void setTranscriptHeight(double height, bool animated);
    // The panels' heights within the page: the live chat's, the live pane's bounds and the
    // height it shows for the stored one.
    void fitPanels();
    int liveChatHeight() const;
    double maximumPaneHeight() const;
    double shownPaneHeight(double stored) const;

    void showShareConfirmation(const QString& url);
    void showShareError(const QString& message);
    void notesEdited(const QString& text);

    QPointer<Meeting> m_meeting;
    const WorkspaceServices m_services;
    TranscriptionSession& m_session;
    std::unique_ptr<MeetingChatService> m_chat;
    MeetingActions* m_actions;

    // View state.
    bool m_liveFace = false;
    bool m_showTranscript = false;
    bool m_showChat = false;
    DetailMode m_detailMode = DetailMode::enhanced;
    Content m_content = Content::empty;

    // The face on screen and the parts the updates reach; null when the face has none.
    QVBoxLayout* m_layout;
    QWidget* m_face = nullptr;
    QBoxLayout* m_faceLayout = nullptr;
    QWidget* m_linkBanner = nullptr;
    QLabel* m_linkText = nullptr;
    NotesEditor* m_notes = nullptr;
    QWidget* m_contentArea = nullptr;
    QBoxLayout* m_contentLayout = nullptr;
    QWidget* m_modeSwitch = nullptr;
    SummaryMarkdown* m_summary = nullptr;
    QLabel* m_generatingNotes = nullptr;
    QWidget* m_generatingRule = nullptr;
    QWidget* m_generatingState = nullptr;
    QWidget* m_emptyHint = nullptr;
    QWidget* m_regenerateBlock = nullptr;
    QLabel* m_regenerateErrorLabel = nullptr;
    QLabel* m_transcriptionNotice = nullptr;
    PillButton* m_generateButton = nullptr;
    MeetingActionBar* m_actionBar = nullptr;
    QWidget* m_transcriptPanel = nullptr;
    TranscriptFeedView* m_feed = nullptr;
    MeetingChatPanel* m_chatPanel = nullptr;
    Pane* m_livePane = nullptr;
    QWidget* m_liveHeader = nullptr;
    ResizeHandle* m_handle = nullptr;
    QWidget* m_liveStatusDot = nullptr;
    QWidget* m_livePausedDot = nullptr;
    EditorialLabel* m_liveStatusLabel = nullptr;
    QWidget* m_systemAudioIcon = nullptr;
    QPointer<QMessageBox> m_shareAlert;
};
