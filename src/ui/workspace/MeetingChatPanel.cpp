#include "ui/workspace/MeetingChatPanel.h"

#include "chat/ChatModel.h"
#include "chat/MeetingChatService.h"
#include "platform/Settings.h"
#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "ui/design/AccessibleRole.h"
#include "ui/design/Announcement.h"
#include "ui/design/Availability.h"
#include "ui/design/EnterKey.h"
#include "ui/design/FocusRing.h"
#include "ui/design/FocusUnderlined.h"
#include "ui/design/Quillet.h"
#include "ui/design/ReadingColumn.h"
#include "ui/design/Rule.h"
#include "ui/design/ScrollIndicator.h"
#include "ui/design/Spinner.h"
#include "ui/design/SymbolButton.h"
#include "ui/design/Symbols.h"
#include "ui/design/ToneLabel.h"
#include "ui/workspace/SummaryMarkdown.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kColumnWidth = 660;
constexpr int kScrollMs = 200;

bool hasTextBesidesSpacesAndTabs(const QString& text)
{
    return std::any_of(
        text.begin(), text.end(), [](QChar c) { return c != QLatin1Char(' ') && c != QLatin1Char('\t'); });
}

QString pickerText(const ChatModel& model)
{
    return model.name + QStringLiteral(" — ") + model.character;
}

// A question: its text as typed, in a tinted bubble at the trailing edge.
class QuestionBubble final : public QLabel
{
public:
    QuestionBubble(const QString& text, QWidget* parent)
        : QLabel(text, parent)
    {
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
        setFont(Quillet::font(13));
        setContentsMargins(12, 8, 12, 8);
        setTextInteractionFlags(Qt::TextSelectableByMouse);
    }

    // As wide as its longest line, so short questions get small bubbles; the row narrows it
    // and it wraps when there is less room.
    QSize sizeHint() const override
    {
        int widest = 0;
        for (const QString& line : text().split(QLatin1Char('\n')))
            widest = std::max(widest, fontMetrics().horizontalAdvance(line));
        const QMargins margins = contentsMargins();
        const int width = widest + margins.left() + margins.right() + 2;
        return { width, heightForWidth(width) };
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        {
            QPainter painter(this);
            Quillet::fillRoundedRect(
                painter, QRectF(rect()), 12, Quillet::withOpacity(Quillet::primary(palette()), 0.085));
        }
        QLabel::paintEvent(event);
    }
};

} // namespace

// The question field: one to four lines, then it scrolls; Return sends, Shift+Return breaks
// the line. Its fitted height keeps room under the text for the focus underline.
class MeetingChatPanel::QuestionField final : public FocusUnderlined<QPlainTextEdit>
{
public:
    QuestionField(std::function<void()> submit, QWidget* parent)
        : FocusUnderlined<QPlainTextEdit>(parent)
        , m_submit(std::move(submit))
    {
        setFont(Quillet::font(13));
        setFrameShape(QFrame::NoFrame);
        setTabChangesFocus(true);
        setVerticalScrollBar(new ScrollIndicator(Qt::Vertical));
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        viewport()->setAutoFillBackground(false);
        document()->setDocumentMargin(2);
        QPalette colors = palette();
        colors.setColor(QPalette::Base, Qt::transparent);
        setPalette(colors);
        connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &QuestionField::fitLines);
        fitLines();
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (isReturn && !(event->modifiers() & (Qt::ShiftModifier | Qt::AltModifier))) {
            m_submit();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QPlainTextEdit::resizeEvent(event);
        fitLines();
    }

private:
    void fitLines()
    {
        // The plain-text layout counts its size in lines.
        const int lines = std::clamp(int(std::ceil(document()->size().height())), 1, 4);
        const int height = lines * fontMetrics().lineSpacing() + 2 * int(document()->documentMargin()) + 2;
        if (height != this->height())
            setFixedHeight(height);
    }

    std::function<void()> m_submit;
};

// The model picker's label: the chosen model's name and a small chevron, both secondary.
class MeetingChatPanel::PickerButton final : public QAbstractButton
{
public:
    explicit PickerButton(QWidget* parent)
        : QAbstractButton(parent)
    {
        setToolTip(QStringLiteral("Which model answers"));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        EnterKey::pressesButton(*this);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(textFont());
        return QSize(kRingRoom + metrics.horizontalAdvance(text()) + 3 + int(Symbols::sideFor(8)) + kRingRoom,
            metrics.height() + 6);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor ink = Quillet::secondary(palette());
        painter.setFont(textFont());
        painter.setPen(ink);
        const int textWidth = QFontMetrics(textFont()).horizontalAdvance(text());
        painter.drawText(QRect(kRingRoom, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
        const qreal side = Symbols::sideFor(8);
        Symbols::paint(painter, QStringLiteral("chevron.down"),
            QRectF(kRingRoom + textWidth + 3, (height() - side) / 2, side, side), ink);
        if (FocusRing::shows(*this))
            FocusRing::paint(painter, QRectF(rect()), 4);
    }

private:
    // Room either side for the focus ring.
    static constexpr int kRingRoom = 4;

    static QFont textFont() { return Quillet::font(11); }
};

// The conversation's rows as one list, reached by Tab: the keys move its current row (a
// message, the empty state, the answer on its way, the error), whose widget is the item a
// screen reader reads.
class MeetingChatPanel::MessageList final : public QWidget
{
public:
    MessageList(ReadingColumn& scroll, QWidget* parent)
        : QWidget(parent)
        , m_scroll(scroll)
        , m_accessible(*this,
              { [this] { return int(m_rows.size()); },
                  [this](int row) -> std::optional<AccessibleRows::Row> {
                      AccessibleRows::Row read;
                      read.widget = m_rows.at(row);
                      if (!read.widget)
                          return std::nullopt;
                      return read;
                  },
                  [this] { return currentRow(); } })
    {
        // Reached by Tab only: a click selects a message's text and needs no list.
        setFocusPolicy(Qt::TabFocus);
        setAccessibleName(tr("Conversation"));
    }

    // A row's widget goes before the list is told, so the list keeps its own guarded copy.
    void setRows(QList<QPointer<QWidget>> rows)
    {
        if (rows == m_rows)
            return;
        // The current row stays where it is, or its place goes to the row that took it.
        const int before = currentRow();
        m_rows = std::move(rows);
        m_accessible.reset();
        if (m_current && m_rows.contains(m_current))
            return;
        m_current = m_rows.isEmpty() || before < 0 ? nullptr : m_rows.at(std::min(before, int(m_rows.size()) - 1));
        update();
        if (hasFocus())
            m_accessible.currentChanged();
    }

    int currentRow() const { return m_current ? int(m_rows.indexOf(m_current)) : -1; }

    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override
    {
        // What the column keeps in view: the current row, or its top where it is taller.
        if (query == Qt::ImCursorRectangle && m_current) {
            QRect place = m_current->geometry();
            place.setHeight(std::min(place.height(), std::max(1, m_scroll.viewport()->height() - 60)));
            return place;
        }
        return QWidget::inputMethodQuery(query);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const int row = AccessibleRows::rowAfterKey(*event, currentRow(), int(m_rows.size()),
            m_scroll.viewport()->height(), [this](int index) { return m_rows.at(index) ? m_rows.at(index)->y() : 0; });
        if (row < 0 || !m_rows.at(row))
            return QWidget::keyPressEvent(event);
        setCurrent(m_rows.at(row));
    }

    void focusInEvent(QFocusEvent* event) override
    {
        QWidget::focusInEvent(event);
        // Reading goes on from the current row while it shows, else from the first in view.
        const QRect shown = AccessibleRows::shownPart(*this);
        if (!m_current || !m_current->geometry().intersects(shown)) {
            const auto inView = std::find_if(m_rows.cbegin(), m_rows.cend(),
                [&](const QPointer<QWidget>& row) { return row && row->geometry().intersects(shown); });
            m_current = inView != m_rows.cend() ? *inView : m_rows.value(0);
        }
        update();
        ReadingColumn::reveal(*this);
        m_accessible.focusedLater();
    }

    void focusOutEvent(QFocusEvent* event) override
    {
        QWidget::focusOutEvent(event);
        update();
    }

    void paintEvent(QPaintEvent*) override
    {
        if (!m_current || !FocusRing::shows(*this))
            return;
        // Around the row, in the spacing between rows: the rows paint over what is under them.
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        FocusRing::paint(painter, QRectF(m_current->geometry()).adjusted(-6, -5, 6, 5), 10);
    }

private:
    void setCurrent(QWidget* row)
    {
        const bool moved = row != m_current;
        m_current = row;
        update();
        ReadingColumn::reveal(*this);
        if (moved)
            m_accessible.currentChanged();
    }

    ReadingColumn& m_scroll;
    QList<QPointer<QWidget>> m_rows;
    QPointer<QWidget> m_current;
    AccessibleRows m_accessible;
};

MeetingChatPanel::MeetingChatPanel(Meeting& meeting, MeetingChatService& chat, ModelContextBox onSave,
    Settings& settings, UrlOpener* links, QWidget* parent)
    : QWidget(parent)
    , m_meeting(&meeting)
    , m_chat(chat)
    , m_onSave(std::move(onSave))
    , m_settings(settings)
    , m_links(links)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new Rule(&Rule::separator, this));

    // The conversation: a column at most 660 wide, kept at the leading side.
    m_scroll = new ReadingColumn(kColumnWidth, ReadingColumn::Placement::Leading, this);
    auto* columnLayout = new QVBoxLayout(m_scroll->column());
    columnLayout->setContentsMargins(0, 0, 0, 0);
    m_messages = new MessageList(*m_scroll, m_scroll->column());
    columnLayout->addWidget(m_messages);
    QWidget* column = m_messages;
    m_rows = new QVBoxLayout(column);
    m_rows->setContentsMargins(20, 16, 20, 16);
    m_rows->setSpacing(14);
    m_rows->setAlignment(Qt::AlignTop);
    layout->addWidget(m_scroll, 1);

    m_empty = new QWidget(column);
    AccessibleRole::set(*m_empty, QAccessible::ListItem);
    auto* emptyLayout = new QVBoxLayout(m_empty);
    emptyLayout->setContentsMargins(0, 4, 0, 4);
    emptyLayout->setSpacing(6);
    m_emptyTitle = new ToneLabel(QString(), Quillet::font(13, QFont::Medium), Quillet::Tone::primary, m_empty);
    m_emptyHint = new ToneLabel(QString(), Quillet::font(12), Quillet::Tone::secondary, m_empty);
    m_emptyHint->setWordWrap(true);
    emptyLayout->addWidget(m_emptyTitle);
    emptyLayout->addWidget(m_emptyHint);
    m_rows->addWidget(m_empty);

    m_answering = new QWidget(column);
    AccessibleRole::set(*m_answering, QAccessible::ListItem);
    auto* answeringLayout = new QVBoxLayout(m_answering);
    answeringLayout->setContentsMargins(0, 0, 0, 0);
    m_thinking = new QWidget(m_answering);
    auto* thinkingLayout = new QHBoxLayout(m_thinking);
    thinkingLayout->setContentsMargins(0, 0, 0, 0);
    thinkingLayout->setSpacing(7);
    m_spinner = new Spinner(12, m_thinking);
    thinkingLayout->addWidget(m_spinner);
    thinkingLayout->addWidget(new ToneLabel(QStringLiteral("Thinking…"), Quillet::font(12), Quillet::Tone::tertiary));
    thinkingLayout->addStretch(1);
    m_streaming = new SummaryMarkdown(m_links, m_answering);
    answeringLayout->addWidget(m_thinking);
    answeringLayout->addWidget(m_streaming);
    m_rows->addWidget(m_answering);

    m_error = new QLabel(column);
    Announcement::marks(*m_error, QAccessible::AlertMessage);
    m_error->setTextFormat(Qt::PlainText);
    m_error->setWordWrap(true);
    m_error->setFont(Quillet::font(12));
    m_error->setContentsMargins(2, 0, 2, 0);
    QPalette errorColors = m_error->palette();
    errorColors.setColor(QPalette::WindowText, Quillet::withOpacity(QColor(255, 59, 48), 0.85));
    m_error->setPalette(errorColors);
    m_rows->addWidget(m_error);

    m_bottom = new QWidget(column);
    m_bottom->setFixedHeight(1);
    m_rows->addWidget(m_bottom);

    layout->addWidget(new Rule(&Rule::faintSeparator, this));

    // The composer: at most 660 wide, centred.
    auto* composerRow = new QHBoxLayout;
    composerRow->setContentsMargins(0, 0, 0, 0);
    auto* composer = new QWidget(this);
    composer->setMaximumWidth(kColumnWidth);
    composerRow->addStretch(1);
    composerRow->addWidget(composer, 1000);
    composerRow->addStretch(1);
    auto* composerLayout = new QHBoxLayout(composer);
    composerLayout->setContentsMargins(20, 11, 20, 11);
    composerLayout->setSpacing(10);
    m_field = new QuestionField([this] { send(); }, composer);
    m_picker = new PickerButton(composer);
    SymbolButton::Look send;
    send.symbol = QStringLiteral("arrow.up.circle.fill");
    send.symbolSize = 17;
    send.frame = QSize(24, 24);
    send.disabledOpacity = 1; // its tertiary colour already says it
    m_send = new SymbolButton(send, composer);
    m_send->setAccessibleName(QStringLiteral("Send"));
    SymbolButton::Look stop;
    stop.symbol = QStringLiteral("stop.circle.fill");
    stop.symbolSize = 17;
    stop.frame = QSize(24, 24);
    m_stop = new SymbolButton(stop, composer);
    m_stop->setToolTip(QStringLiteral("Stop"));
    m_stop->setAccessibleName(QStringLiteral("Stop"));
    composerLayout->addWidget(m_field, 1, Qt::AlignVCenter);
    composerLayout->addWidget(m_picker, 0, Qt::AlignVCenter);
    composerLayout->addWidget(m_send, 0, Qt::AlignVCenter);
    composerLayout->addWidget(m_stop, 0, Qt::AlignVCenter);
    layout->addLayout(composerRow);

    connect(m_send, &QAbstractButton::clicked, this, &MeetingChatPanel::send);
    connect(m_stop, &QAbstractButton::clicked, &m_chat, &MeetingChatService::cancel);
    connect(m_picker, &QAbstractButton::clicked, this, &MeetingChatPanel::showPickerMenu);
    connect(m_field, &QPlainTextEdit::textChanged, this, &MeetingChatPanel::updateComposer);

    connect(&meeting, &Meeting::chatMessagesChanged, this, [this] {
        const qsizetype before = m_order.size();
        rebuildMessages();
        if (m_order.size() != before)
            scrollToEnd(true);
    });
    connect(&meeting, &Meeting::isRecordingChanged, this, [this] {
        updateEmptyState();
        updateComposer();
    });
    connect(&m_chat, &MeetingChatService::streamingAnswerChanged, this, [this] {
        updateAnswerRow();
        scrollToEnd(false);
    });
    connect(&m_chat, &MeetingChatService::isAnsweringChanged, this, [this] {
        updateAnswerRow();
        updateEmptyState();
        updateComposer();
    });
    connect(&m_chat, &MeetingChatService::errorChanged, this, &MeetingChatPanel::updateError);
    connect(&m_settings, &Settings::changed, this, [this](const QString& key) {
        if (SettingsKeys::chatModel.is(key))
            updatePicker();
    });

    m_scrollAnimation.setDuration(kScrollMs);
    m_scrollAnimation.setEasingCurve(Quillet::easeOut());
    m_scrollAnimation.setStartValue(0.0);
    m_scrollAnimation.setEndValue(1.0);
    connect(&m_scrollAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        QScrollBar* bar = m_scroll->verticalScrollBar();
        bar->setValue(m_scrollFrom + qRound((bar->maximum() - m_scrollFrom) * value.toReal()));
    });

    rebuildMessages();
    updateEmptyState();
    updateAnswerRow();
    updateError();
    updateComposer();
    updatePicker();
}

MeetingChatPanel::~MeetingChatPanel() = default;

QString MeetingChatPanel::draft() const
{
    return m_field->toPlainText();
}

void MeetingChatPanel::setDraft(const QString& draft)
{
    m_field->setPlainText(draft);
}

void MeetingChatPanel::send()
{
    const QString question = draft().trimmed();
    if (question.isEmpty() || m_chat.isAnswering() || !m_meeting)
        return;
    m_field->clear();
    m_chat.ask(question, m_meeting, m_onSave);
}

QList<MeetingChatPanel::PickerRow> MeetingChatPanel::pickerRows() const
{
    const QString stored = m_settings.get(SettingsKeys::chatModel);
    QList<PickerRow> rows;
    // The automatic choice is offered first, apart from the named models.
    const ChatModel automatic = ChatModel::defaultModel();
    rows.append({ pickerText(automatic), automatic.id, stored == automatic.id });
    for (const ChatModel& model : ChatModel::choices())
        rows.append({ pickerText(model), model.id, stored == model.id });
    return rows;
}

QString MeetingChatPanel::pickerLabel() const
{
    return m_picker->text();
}

void MeetingChatPanel::pick(const QString& modelId)
{
    m_settings.set(SettingsKeys::chatModel, modelId);
    updatePicker();
}

QAbstractButton* MeetingChatPanel::sendButton() const
{
    return m_send;
}

QAbstractButton* MeetingChatPanel::stopButton() const
{
    return m_stop;
}

QAbstractButton* MeetingChatPanel::pickerButton() const
{
    return m_picker;
}

QPlainTextEdit* MeetingChatPanel::questionField() const
{
    return m_field;
}

void MeetingChatPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    Quillet::fillRect(painter, rect(), Quillet::cardFill(palette()));
}

QString MeetingChatPanel::answerName(const QString& markdown)
{
    QStringList lines;
    for (const SummaryMarkdown::Block& block : SummaryMarkdown::parse(markdown))
        lines.append(
            block.kind == SummaryMarkdown::Block::Kind::heading ? block.text : SummaryMarkdown::plainText(block.text));
    return tr("Quillet: %1").arg(lines.join(QLatin1Char('\n')));
}

QWidget* MeetingChatPanel::makeTurn(const ChatMessage& message)
{
    QWidget* column = m_bottom->parentWidget();
    if (message.role() == ChatRole::Assistant) {
        auto* answer = new SummaryMarkdown(m_links, column);
        AccessibleRole::set(*answer, QAccessible::ListItem);
        answer->setAccessibleName(answerName(message.text()));
        answer->setSelectable(true);
        answer->setMarkdown(message.text());
        return answer;
    }
    auto* row = new QWidget(column);
    AccessibleRole::set(*row, QAccessible::ListItem);
    row->setAccessibleName(tr("You: %1").arg(message.text()));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addSpacerItem(new QSpacerItem(40, 0, QSizePolicy::MinimumExpanding, QSizePolicy::Minimum));
    layout->addWidget(new QuestionBubble(message.text(), row), 0, Qt::AlignVCenter);
    return row;
}

void MeetingChatPanel::rebuildMessages()
{
    const QList<ChatMessage*> messages = m_meeting ? m_meeting->sortedChatMessages() : QList<ChatMessage*>();
    QHash<QUuid, QWidget*> kept;
    QList<QUuid> order;
    for (const ChatMessage* message : messages) {
        QWidget* turn = m_turns.take(message->id());
        if (!turn) {
            turn = makeTurn(*message);
            // The answer being waited for has come (the service adds it before it stops
            // answering): said once, as it would be read in the list.
            if (message->role() == ChatRole::Assistant && m_chat.isAnswering())
                Announcement::say(*this, turn->accessibleName());
        }
        kept.insert(message->id(), turn);
        order.append(message->id());
    }
    qDeleteAll(m_turns);
    m_turns = kept;
    m_order = order;
    // Rows after the empty state, in time order.
    for (const QUuid& id : std::as_const(m_order))
        m_rows->removeWidget(m_turns.value(id));
    int index = m_rows->indexOf(m_empty) + 1;
    for (const QUuid& id : std::as_const(m_order))
        m_rows->insertWidget(index++, m_turns.value(id));
    updateEmptyState();
    readRowsChanged();
}

QList<QPointer<QWidget>> MeetingChatPanel::readRows() const
{
    QList<QPointer<QWidget>> rows;
    if (!m_empty->isHidden())
        rows.append(m_empty);
    for (const QUuid& id : m_order)
        rows.append(m_turns.value(id));
    if (!m_answering->isHidden())
        rows.append(m_answering);
    if (!m_error->isHidden())
        rows.append(m_error);
    return rows;
}

void MeetingChatPanel::readRowsChanged()
{
    m_messages->setRows(readRows());
}

QWidget* MeetingChatPanel::messageList() const
{
    return m_messages;
}

void MeetingChatPanel::updateEmptyState()
{
    const bool recording = m_meeting && m_meeting->isRecording();
    m_emptyTitle->setText(
        recording ? QStringLiteral("Ask about what's being said") : QStringLiteral("Ask about this meeting"));
    m_emptyHint->setText(recording
            ? QStringLiteral("It reads the transcript again for every question, so “what did they just say?” works.")
            : QStringLiteral("Answers come only from the transcript and your notes."));
    // As a row of the conversation it reads as what it shows.
    m_empty->setAccessibleName(m_emptyTitle->text());
    m_empty->setAccessibleDescription(m_emptyHint->text());
    m_empty->setVisible(m_order.isEmpty() && !m_chat.isAnswering());
    readRowsChanged();
}

void MeetingChatPanel::updateAnswerRow()
{
    const bool answering = m_chat.isAnswering();
    const QString text = m_chat.streamingAnswer();
    m_answering->setVisible(answering);
    readRowsChanged();
    m_thinking->setVisible(answering && text.isEmpty());
    m_streaming->setVisible(answering && !text.isEmpty());
    // While an answer streams its text only grows: only what is new is handed on, so a long
    // answer is not compared whole at every piece.
    const QString shown = answering ? text : QString();
    if (m_streamedLength > 0 && shown.size() > m_streamedLength)
        m_streaming->appendMarkdown(QStringView(shown).sliced(m_streamedLength));
    else
        m_streaming->setMarkdown(shown);
    m_streamedLength = shown.size();
    // Read as the answer it becomes, so far; the whole answer is read again for it at every
    // piece, which only a screen reader needs.
    if (!QAccessible::isActive())
        return;
    const QString name = shown.isEmpty() ? tr("Quillet: Thinking…") : answerName(shown);
    if (m_answering->accessibleName() != name)
        m_answering->setAccessibleName(name);
}

void MeetingChatPanel::updateError()
{
    const std::optional<QString> error = m_chat.error();
    m_error->setVisible(error.has_value());
    Announcement::setText(*m_error, error.value_or(QString()));
    readRowsChanged();
}

void MeetingChatPanel::updateComposer()
{
    const bool recording = m_meeting && m_meeting->isRecording();
    m_field->setPlaceholderText(
        recording ? QStringLiteral("Ask anything about this meeting…") : QStringLiteral("Ask anything…"));
    // The prompt is the field's only label, and it goes once a question is typed.
    m_field->setAccessibleName(m_field->placeholderText());
    // Send and Stop take each other's place, and the keyboard goes with them; once the answer
    // is in, it goes to the question field for the next question.
    const bool answering = m_chat.isAnswering();
    const QWidget* focused = window()->focusWidget();
    const bool keyboardOnButtons = focused && (focused == m_send || focused == m_stop);
    const bool sendable = hasTextBesidesSpacesAndTabs(draft());
    QWidget* shown = answering ? static_cast<QWidget*>(m_stop) : m_field;
    m_stop->setVisible(answering);
    if (keyboardOnButtons && (answering ? focused == m_send : focused == m_stop))
        shown->setFocus(Qt::OtherFocusReason);
    m_send->setVisible(!answering);
    Availability::set(*m_send, sendable);
    m_send->setTone(sendable ? Quillet::Tone::accent : Quillet::Tone::tertiary);
}

void MeetingChatPanel::updatePicker()
{
    m_picker->setText(ChatModel::named(m_settings.get(SettingsKeys::chatModel)).name);
    m_picker->updateGeometry();
    m_picker->update();
}

void MeetingChatPanel::showPickerMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QList<PickerRow> rows = pickerRows();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const PickerRow& row = rows.at(i);
        QAction* action = row.checked ? menu->addAction(Symbols::icon(QStringLiteral("checkmark")), row.text)
                                      : menu->addAction(row.text);
        connect(action, &QAction::triggered, this, [this, id = row.modelId] { pick(id); });
        if (i == 0)
            menu->addSeparator();
    }
    menu->popup(m_picker->mapToGlobal(QPoint(0, m_picker->height())));
}

void MeetingChatPanel::scrollToEnd(bool animated)
{
    const bool wasPending = m_pendingScroll != PendingScroll::none;
    if (animated || m_pendingScroll == PendingScroll::none)
        m_pendingScroll = animated ? PendingScroll::animated : PendingScroll::immediate;
    // The rows are laid out when control returns to the event loop; scroll after that.
    if (!wasPending)
        QMetaObject::invokeMethod(this, &MeetingChatPanel::settleScroll, Qt::QueuedConnection);
}

void MeetingChatPanel::settleScroll()
{
    const PendingScroll pending = std::exchange(m_pendingScroll, PendingScroll::none);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QScrollBar* bar = m_scroll->verticalScrollBar();
    if (pending == PendingScroll::animated && isVisible()) {
        m_scrollAnimation.stop();
        m_scrollFrom = bar->value();
        m_scrollAnimation.start();
    } else if (pending != PendingScroll::none) {
        m_scrollAnimation.stop();
        bar->setValue(bar->maximum());
    }
}
