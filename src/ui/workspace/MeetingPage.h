#pragma once

#include "app/WorkspaceServices.h"
#include "storage/Meeting.h"

#include <QPointer>
#include <QWidget>
#include <memory>

class MeetingActions;
class MeetingChatPanel;
class MeetingChatService;
class NotesEditor;

// What a person has in hand on a meeting's page. When the meeting starts or stops recording the
// window replaces the page with the other one and hands this over, so the switch loses none of
// it: the conversation and its answer on the way, a regeneration or share on the way, the open
// panels, the question being typed, and where the keyboard was in the notes.
struct MeetingPageState
{
    enum class Focus { elsewhere, notes, chat };

    // Null: the page makes the meeting's chat service.
    std::shared_ptr<MeetingChatService> chat;
    // The finished page's commands, with a regeneration or share under way; null: that page
    // makes them. The live page only keeps them for the page after it.
    std::shared_ptr<MeetingActions> actions;
    bool showChat = false;
    QString chatDraft;
    // The finished page's transcript panel and "My notes" tab, kept through a recording.
    bool showTranscript = false;
    bool showMyNotes = false;
    Focus focus = Focus::elsewhere;
    int notesCursor = 0;
};

// The right-hand side of the main window while a meeting is selected: `LiveMeetingPage` while
// it records, `FinishedMeetingPage` otherwise. The window makes one for each selected meeting and
// the other one when the recording starts or stops, so a page never changes what it is; the work
// a page starts (a regeneration, a delayed archive write) goes on without it.
class MeetingPage : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingPage)

public:
    // The page the meeting wants now.
    static MeetingPage* make(
        Meeting& meeting, const WorkspaceServices& services, MeetingPageState state = {}, QWidget* parent = nullptr);
    ~MeetingPage() override;

    Meeting* meeting() const { return m_meeting; }
    MeetingChatService& chat() const { return *m_state.chat; }
    virtual bool isLive() const = 0;
    bool showsChat() const { return m_state.showChat; }
    void setShowChat(bool show);

    // What the page that replaces this one takes over.
    MeetingPageState handOver() const;
    // Puts the keyboard back where the handed-over state found it, the notes or the chat's
    // question; false when it was elsewhere or that part is not shown here.
    bool restoreFocus();
    // Puts the keyboard in the notes (a quick note just made).
    void focusNotes();

protected:
    MeetingPage(Meeting& meeting, const WorkspaceServices& services, MeetingPageState state, QWidget* parent);

    // The notes' editor every page has, made by makeNotesEditor().
    virtual NotesEditor& notes() const = 0;
    // Places the chat panel, made on its first opening.
    virtual void placeChatPanel(MeetingChatPanel& panel) = 0;
    // Lays out the panels again after the chat opened or closed.
    virtual void chatShownChanged() = 0;

    // An editor of the meeting's notes, its cursor where the handed-over state had it.
    NotesEditor* makeNotesEditor();
    MeetingChatPanel* chatPanel() const { return m_chatPanel; }

    QPointer<Meeting> m_meeting;
    const WorkspaceServices m_services;
    MeetingPageState m_state;

private:
    void ensureChatPanel();

    MeetingChatPanel* m_chatPanel = nullptr; // made on its first opening
    // The notes are being written from this page's editor, which already shows them.
    bool m_writingNotes = false;
};
