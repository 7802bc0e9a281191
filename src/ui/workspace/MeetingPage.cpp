#include "ui/workspace/MeetingPage.h"

#include "chat/MeetingChatService.h"
#include "ui/workspace/FinishedMeetingPage.h"
#include "ui/workspace/LiveMeetingPage.h"
#include "ui/workspace/MeetingChatPanel.h"
#include "ui/workspace/MeetingPageParts.h"
#include "ui/workspace/NotesEditor.h"

#include <QPlainTextEdit>
#include <QScopedValueRollback>

MeetingPage* MeetingPage::make(
    Meeting& meeting, const WorkspaceServices& services, MeetingPageState state, QWidget* parent)
{
    if (meeting.isRecording())
        return new LiveMeetingPage(meeting, services, std::move(state), parent);
    return new FinishedMeetingPage(meeting, services, std::move(state), parent);
}

MeetingPage::MeetingPage(Meeting& meeting, const WorkspaceServices& services, MeetingPageState state, QWidget* parent)
    : QWidget(parent)
    , m_meeting(&meeting)
    , m_services(services)
    , m_state(std::move(state))
{
    if (!m_state.chat)
        m_state.chat = services.makeChat();
    // Reading the editor's text back costs as much as the notes are long: not at every key
    // typed here.
    connect(&meeting, &Meeting::userNotesChanged, this, [this] {
        if (m_meeting && !m_writingNotes && notes().text() != m_meeting->userNotes())
            notes().setText(m_meeting->userNotes());
    });
}

MeetingPage::~MeetingPage() = default;

NotesEditor* MeetingPage::makeNotesEditor()
{
    auto* editor
        = new NotesEditor(m_meeting->userNotes(), MeetingPageParts::kWriteYourNotes, [this](const QString& text) {
              if (m_meeting) {
                  const QScopedValueRollback writing(m_writingNotes, true);
                  m_meeting->setUserNotes(text);
              }
          });
    editor->setObjectName(QStringLiteral("notesEditor"));
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(std::clamp(m_state.notesCursor, 0, int(editor->text().size())));
    editor->setTextCursor(cursor);
    return editor;
}

void MeetingPage::setShowChat(bool show)
{
    m_state.showChat = show;
    if (show)
        ensureChatPanel();
    if (m_chatPanel)
        m_chatPanel->setVisible(show);
    chatShownChanged();
}

void MeetingPage::ensureChatPanel()
{
    if (m_chatPanel || !m_meeting)
        return;
    m_chatPanel = new MeetingChatPanel(
        *m_meeting, *m_state.chat, m_services.chatSaving, m_services.settings, &m_services.urlOpener);
    m_chatPanel->setObjectName(QStringLiteral("chatPanel"));
    m_chatPanel->setDraft(m_state.chatDraft);
    placeChatPanel(*m_chatPanel);
}

MeetingPageState MeetingPage::handOver() const
{
    MeetingPageState state = m_state;
    if (m_chatPanel)
        state.chatDraft = m_chatPanel->draft();
    state.notesCursor = notes().textCursor().position();
    // The window's own focus, which it gives back when it is active again: a recording often
    // ends while the person works in another window.
    const QWidget* focus = window()->focusWidget();
    if (focus && (focus == &notes() || notes().isAncestorOf(focus)))
        state.focus = MeetingPageState::Focus::notes;
    else if (focus && m_chatPanel && m_chatPanel->isAncestorOf(focus))
        state.focus = MeetingPageState::Focus::chat;
    else
        state.focus = MeetingPageState::Focus::elsewhere;
    return state;
}

void MeetingPage::focusNotes()
{
    notes().setFocus(Qt::OtherFocusReason);
}

bool MeetingPage::restoreFocus()
{
    QWidget* target = nullptr;
    if (m_state.focus == MeetingPageState::Focus::notes)
        target = &notes();
    else if (m_state.focus == MeetingPageState::Focus::chat && m_chatPanel)
        target = m_chatPanel->questionField();
    if (!target || !target->isVisibleTo(this))
        return false;
    target->setFocus(Qt::OtherFocusReason);
    if (target == &notes())
        notes().ensureCursorVisible();
    return true;
}
