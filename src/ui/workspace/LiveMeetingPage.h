#pragma once

#include "ui/workspace/MeetingPage.h"

class EditorialLabel;
class QBoxLayout;
class SymbolButton;
class TranscriptFeedView;
class RecordingController;

namespace MeetingPageParts {
class Pane;
}

// A meeting's page while it records: the header, the notes over the live transcript pane, whose
// height the user drags and which the chat panel may join.
class LiveMeetingPage final : public MeetingPage
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveMeetingPage)

public:
    LiveMeetingPage(
        Meeting& meeting, const WorkspaceServices& services, MeetingPageState state = {}, QWidget* parent = nullptr);
    ~LiveMeetingPage() override;

    bool isLive() const override { return true; }
    // The live transcript pane's height: the setting shared by every meeting.
    double transcriptHeight() const;

protected:
    NotesEditor& notes() const override { return *m_notes; }
    void placeChatPanel(MeetingChatPanel& panel) override;
    void chatShownChanged() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class ResizeHandle;

    QWidget* buildTranscriptPane();
    void updateLiveStatus();
    void updateProblem();
    void updatePaneHeight();
    void setTranscriptHeight(double height, bool animated);
    // The panels' heights within the page: the chat's, the pane's bounds and the height it
    // shows for the stored one. They take what the page can spare and never more, so that
    // opening one, or dragging the handle, never asks the window for more room.
    void fitPanels();
    int chatHeight() const;
    double maximumPaneHeight() const;
    double shownPaneHeight(double stored) const;

    RecordingController& m_recordings;
    QBoxLayout* m_layout;
    QWidget* m_header;
    QWidget* m_statusDot;
    QWidget* m_pausedDot;
    EditorialLabel* m_statusLabel;
    NotesEditor* m_notes;
    ResizeHandle* m_handle;
    MeetingPageParts::Pane* m_pane;
    QWidget* m_systemAudioIcon;
    SymbolButton* m_chatToggle;
    SymbolButton* m_collapseToggle;
    TranscriptFeedView* m_feed;
};
