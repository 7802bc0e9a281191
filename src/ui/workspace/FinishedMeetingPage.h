#pragma once

#include "ui/workspace/MeetingPage.h"

#include <QMessageBox>
#include <QPointer>
#include <optional>

class MeetingActionBar;
class MeetingActions;
class PillButton;
class QBoxLayout;
class QLabel;
class SummaryMarkdown;
class TranscriptFeedView;
class RecordingController;

namespace MeetingPageParts {
class Pane;
}

// A meeting's page when it is not recording: the reading column with the header, the link
// banner and the summary or the notes, over the action bar and the transcript and chat panels it
// opens. The commands are MeetingActions'; the page shows their state and forwards the clicks.
class FinishedMeetingPage final : public MeetingPage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FinishedMeetingPage)

public:
    enum class DetailMode { enhanced, notes };
    // What the page shows under the title, the first that applies.
    enum class Content { summary, generating, unsummarized, empty };

    FinishedMeetingPage(
        Meeting& meeting, const WorkspaceServices& services, MeetingPageState state = {}, QWidget* parent = nullptr);
    ~FinishedMeetingPage() override;

    bool isLive() const override { return false; }
    MeetingActions& actions() const { return *m_actions; }
    Content content() const { return m_content; }
    DetailMode detailMode() const { return m_state.showMyNotes ? DetailMode::notes : DetailMode::enhanced; }
    // The share alert on screen ("Link copied" or "Couldn't share"), if any.
    QMessageBox* shareAlert() const { return m_shareAlert; }

    void setDetailMode(DetailMode mode);
    void setShowTranscript(bool show);

protected:
    NotesEditor& notes() const override { return *m_notes; }
    void placeChatPanel(MeetingChatPanel& panel) override;
    void chatShownChanged() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildLinkBanner();
    QWidget* buildContentArea();
    QWidget* buildRegenerateBlock();
    void ensureTranscriptPanel();

    Content currentContent() const;
    void updateContent();
    void followGeneration(Content before);
    void updateTranscriptionNotice();
    void updateActionBar();
    void updateLinkBanner();
    // The panels take what the page can spare and never more, so that opening one never asks
    // the window for more room.
    void fitPanels();

    void showShareConfirmation(const QString& url);
    void showShareError(const QString& message);

    RecordingController& m_recordings;
    MeetingActions* m_actions;
    Content m_content = Content::empty;
    QString m_toldRegenerateError;

    QBoxLayout* m_layout;
    QWidget* m_linkBanner;
    QLabel* m_linkText;
    QBoxLayout* m_contentLayout;
    QLabel* m_transcriptionNotice;
    QWidget* m_modeSwitch;
    SummaryMarkdown* m_summary;
    QLabel* m_generatingNotes;
    QWidget* m_generatingRule;
    QWidget* m_generatingState;
    QWidget* m_writingLine = nullptr;
    QWidget* m_emptyHint;
    NotesEditor* m_notes;
    QWidget* m_regenerateBlock;
    QLabel* m_regenerateErrorLabel;
    PillButton* m_generateButton;
    MeetingActionBar* m_actionBar;
    // Made on its first opening, as the chat panel is: a long transcript costs its measuring.
    MeetingPageParts::Pane* m_transcriptPanel = nullptr;
    TranscriptFeedView* m_feed = nullptr;
    QPointer<QMessageBox> m_shareAlert;
};
