#pragma once

#include "chat/ModelContextBox.h"
#include "ui/design/AccessibleRows.h"

#include <QHash>
#include <QPointer>
#include <QUuid>
#include <QVariantAnimation>
#include <QWidget>
#include <memory>

class ChatMessage;
class Meeting;
class MeetingChatService;
class QAbstractButton;
class QLabel;
class QMenu;
class QPlainTextEdit;
class ReadingColumn;
class QVBoxLayout;
class Settings;
class Spinner;
class SymbolButton;
class SummaryMarkdown;
class ToneLabel;
class UrlOpener;

// Questions and answers about one meeting: the stored conversation, the answer while it is
// written, the chat service's error, and a composer with the model picker and a send or stop
// button. The chat service stores every message; the panel writes only the chosen model.
// The conversation is a list, one item per message ("You" or "Quillet", then the text), in the
// order shown: a Tab stop before the composer whose arrow keys, Home, End and Page Up/Down move
// its current message, which is marked, kept in view and told to a screen reader as its focus.
class MeetingChatPanel final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MeetingChatPanel)

public:
    // links: where web links in answers open.
    MeetingChatPanel(Meeting& meeting, MeetingChatService& chat, ModelContextBox onSave, Settings& settings,
        UrlOpener* links, QWidget* parent = nullptr);
    ~MeetingChatPanel() override;

    // The question being typed.
    QString draft() const;
    void setDraft(const QString& draft);
    // Sends the question, trimmed of spaces, tabs and line breaks. Does nothing, and keeps the
    // text, when nothing is left or an answer is being written.
    void send();

    // The rows of the model picker, as shown, and the model id each stands for.
    struct PickerRow
    {
        QString text;
        QString modelId;
        bool checked = false;
    };
    QList<PickerRow> pickerRows() const;
    QString pickerLabel() const;
    // Chooses a row of the picker, as a click on it does.
    void pick(const QString& modelId);

    QAbstractButton* sendButton() const;
    QAbstractButton* stopButton() const;
    QAbstractButton* pickerButton() const;
    QPlainTextEdit* questionField() const;
    ReadingColumn* conversation() const { return m_scroll; }
    // The list of the messages, in the conversation.
    QWidget* messageList() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class QuestionField;
    class PickerButton;
    class MessageList;

    void rebuildMessages();
    void updateEmptyState();
    void updateAnswerRow();
    void updateError();
    void updateComposer();
    void updatePicker();
    void showPickerMenu();
    void scrollToEnd(bool animated);
    void settleScroll();
    // What a screen reader reads of an answer: "Quillet: " and its text without marks.
    static QString answerName(const QString& markdown);
    QWidget* makeTurn(const ChatMessage& message);
    // The rows of the conversation, in their order.
    QList<QPointer<QWidget>> readRows() const;
    void readRowsChanged();

    QPointer<Meeting> m_meeting;
    MeetingChatService& m_chat;
    ModelContextBox m_onSave;
    Settings& m_settings;
    UrlOpener* m_links;

    ReadingColumn* m_scroll;
    MessageList* m_messages;
    QVBoxLayout* m_rows;
    QWidget* m_empty;
    ToneLabel* m_emptyTitle;
    ToneLabel* m_emptyHint;
    QWidget* m_answering;
    QWidget* m_thinking;
    Spinner* m_spinner;
    SummaryMarkdown* m_streaming;
    qsizetype m_streamedLength = 0; // of the streaming answer, as last shown
    QLabel* m_error;
    QWidget* m_bottom;
    QHash<QUuid, QWidget*> m_turns;
    QList<QUuid> m_order;

    QuestionField* m_field;
    PickerButton* m_picker;
    SymbolButton* m_send;
    SymbolButton* m_stop;

    enum class PendingScroll { none, immediate, animated };
    PendingScroll m_pendingScroll = PendingScroll::none;
    QVariantAnimation m_scrollAnimation;
    int m_scrollFrom = 0;
};
