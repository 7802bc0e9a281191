#include "ui/workspace/MeetingDetailView.h"

#include "account/AccountService.h"
#include "account/QuilletCloud.h"
#include "app/AppServices.h"
#include "archive/ArchiveDebouncer.h"
#include "archive/MeetingArchiver.h"
#include "chat/MeetingChatService.h"
#include "format/TimeText.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Scheduler.h"
#include "platform/Settings.h"
#include "platform/UrlOpener.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "summary/MeetingSummarizer.h"
#include "transcription/TranscriptionSession.h"
#include "ui/design/CopyActionButton.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/FocusRing.h"
#include "ui/workspace/MeetingChatPanel.h"
#include "ui/workspace/NotesEditor.h"
#include "ui/design/PillButton.h"
#include "ui/design/PlainButton.h"
#include "ui/design/Quillet.h"
#include "ui/design/RecordingDot.h"
#include "ui/design/Rule.h"
#include "ui/design/ScrollIndicator.h"
#include "ui/design/Spinner.h"
#include "ui/workspace/SummaryMarkdown.h"
#include "ui/design/SymbolButton.h"
#include "ui/design/SymbolView.h"
#include "ui/design/Symbols.h"
#include "ui/design/ToneLabel.h"
#include "ui/workspace/TranscriptFeedView.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QClipboard>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QVariantAnimation>
#include <cmath>

namespace {

constexpr int kColumnWidth = 660;
constexpr int kFinishedTranscriptHeight = 260;
constexpr int kFinishedChatMinimum = 320;
constexpr int kLiveChatHeight = 280;
constexpr double kExpandedPaneHeight = 240;
constexpr double kCollapseThreshold = 60;
// What the panels leave of a page however small it is: the live notes (their status line and a
// few lines of text) and the finished face's scrolling column.
constexpr int kLiveNotesMinimum = 120;
constexpr int kReadingMinimum = 120;

const QString kWriteYourNotes = QStringLiteral("Write your notes…");

// A widget holding `content` at most 660 wide: at the leading edge of the full width, or
// centred in it. The padding lies inside the 660.
QWidget* readingColumn(QLayout* content, const QMargins& padding, bool centred)
{
    auto* frame = new QWidget;
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto* column = new QWidget(frame);
    column->setMaximumWidth(kColumnWidth);
    content->setContentsMargins(padding);
    column->setLayout(content);
    if (centred)
        row->addStretch(1);
    row->addWidget(column, centred ? 1000 : 1);
    row->addStretch(centred ? 1 : 0);
    return frame;
}

// The scrolling column's content. Word-wrapped texts claim a minimum height as if they were
// squeezed to their narrowest, which would make the column scroll when all of it fits; only
// its height at the actual width counts.
class ScrollCanvas final : public QWidget
{
public:
    using QWidget::QWidget;

    QSize minimumSizeHint() const override { return { 0, 0 }; }
};

QColor dividerTint(const QPalette& palette)
{
    return Quillet::withOpacity(Quillet::primary(palette), 0.1);
}

// The grey dot that stands for a paused recording.
class PausedDot final : public QWidget
{
public:
    explicit PausedDot(QWidget* parent = nullptr)
        : QWidget(parent)
    {
        setFixedSize(7, 7);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Quillet::secondary(palette()));
        painter.drawEllipse(QRectF(rect()));
    }
};

// A widget painted with a tint over what is behind it: the panes and the bars.
class Tinted final : public QWidget
{
public:
    explicit Tinted(QColor (*tint)(const QPalette&), QWidget* parent = nullptr)
        : QWidget(parent)
        , m_tint(tint)
    { }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        Quillet::fillRect(painter, rect(), m_tint(palette()));
    }

private:
    QColor (*m_tint)(const QPalette&);
};

// One tab of the "Enhanced" / "My notes" switch.
class ModeTab final : public QAbstractButton
{
public:
    ModeTab(const QString& text, QWidget* parent)
        : QAbstractButton(parent)
    {
        setText(text);
        setCheckable(true);
        setAutoExclusive(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(tabFont());
        return { metrics.horizontalAdvance(text()) + 26, metrics.height() + 10 };
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds(rect());
        if (isChecked()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Quillet::accent());
            painter.drawRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
        }
        painter.setFont(tabFont());
        painter.setPen(isChecked() ? QColor(Qt::white) : Quillet::secondary(palette()));
        painter.drawText(bounds, Qt::AlignCenter, text());
        if (FocusRing::shows(*this))
            FocusRing::paint(painter, bounds, bounds.height() / 2, isChecked());
    }

private:
    static QFont tabFont() { return Quillet::font(11.5, QFont::Medium); }
};

// The capsule around the tabs.
class ModeSwitch final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Quillet::cardFill(palette()));
        const QRectF bounds(rect());
        painter.drawRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
    }
};

// The link banner's rounded card.
class BannerCard final : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        Quillet::fillRoundedRect(painter, QRectF(rect()), 8, Quillet::cardFill(palette()));
    }
};

} // namespace

// The title: a borderless field that grows with its lines. Return ends the editing.
class MeetingDetailView::TitleField final : public QTextEdit
{
public:
    explicit TitleField(QWidget* parent)
        : QTextEdit(parent)
    {
        setAcceptRichText(false);
        setFrameShape(QFrame::NoFrame);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setTabChangesFocus(true);
        setFont(Quillet::font(30, QFont::DemiBold, Quillet::Design::serif));
        setPlaceholderText(QStringLiteral("Untitled"));
        viewport()->setAutoFillBackground(false);
        document()->setDocumentMargin(0);
        applyColors();
        connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            [this] { fitHeight(); });
        fitHeight();
    }

    void load(const QString& text)
    {
        m_loading = true;
        setPlainText(text);
        QTextCursor all(document());
        all.select(QTextCursor::Document);
        QTextBlockFormat spacing;
        spacing.setLineHeight(3, QTextBlockFormat::LineDistanceHeight);
        all.mergeBlockFormat(spacing);
        m_loading = false;
    }

    bool isLoading() const { return m_loading; }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            clearFocus();
            return;
        }
        QTextEdit::keyPressEvent(event);
    }

    // A title is one paragraph, whatever was pasted.
    void insertFromMimeData(const QMimeData* source) override
    {
        QString text = source->text();
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        textCursor().insertText(text);
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QTextEdit::resizeEvent(event);
        fitHeight();
    }

    void changeEvent(QEvent* event) override
    {
        QTextEdit::changeEvent(event);
        if (event->type() == QEvent::PaletteChange)
            applyColors();
    }

private:
    // The placeholder's tone follows the theme; setting the palette sends a palette change of
    // its own, so only a difference is set.
    void applyColors()
    {
        QPalette colors = palette();
        const QColor placeholder = Quillet::tertiary(colors);
        if (colors.color(QPalette::PlaceholderText) == placeholder && colors.color(QPalette::Base).alpha() == 0)
            return;
        colors.setColor(QPalette::Base, Qt::transparent);
        colors.setColor(QPalette::PlaceholderText, placeholder);
        setPalette(colors);
    }

    void fitHeight()
    {
        const int height = std::max(int(std::ceil(document()->size().height())), QFontMetrics(font()).height()) + 2;
        if (height != this->height())
            setFixedHeight(height);
    }

    bool m_loading = false;
};

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
        painter.fillRect(QRectF(0, std::floor(middle), width(), 1), dividerTint(palette()));
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

// The live transcript pane, whose height follows the stored setting, animated on the
// collapse toggle.
class MeetingDetailView::Pane final : public QWidget
{
public:
    explicit Pane(QWidget* parent)
        : QWidget(parent)
    {
        m_animation.setDuration(200);
        m_animation.setEasingCurve(Quillet::easeInOut());
        connect(&m_animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setFixedHeight(value.toInt()); });
    }

    void setPaneHeight(double height, bool animated)
    {
        m_animation.stop();
        if (!animated || !isVisible()) {
            setFixedHeight(qRound(height));
            return;
        }
        m_animation.setStartValue(this->height());
        m_animation.setEndValue(qRound(height));
        m_animation.start();
    }

    bool isAnimating() const { return m_animation.state() == QAbstractAnimation::Running; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        Quillet::fillRect(painter, rect(), Quillet::cardFill(palette()));
    }

private:
    QVariantAnimation m_animation;
};

MeetingDetailView::MeetingDetailView(Meeting& meeting, AppServices& services, QWidget* parent)
    : QWidget(parent)
    , m_meeting(&meeting)
    , m_services(services)
    , m_session(services.session())
    , m_chat(services.makeChatService())
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    connect(&meeting, &Meeting::isRecordingChanged, this, &MeetingDetailView::buildFace);
    connect(&meeting, &Meeting::titleChanged, this, [this] {
        if (!m_titleFromField)
            updateTitle();
        // Every change is saved and archived, whoever made it.
        saveAndSchedule();
    });
    connect(&meeting, &Meeting::userNotesChanged, this, [this] {
        if (m_notes && m_meeting && m_notes->text() != m_meeting->userNotes())
            m_notes->setText(m_meeting->userNotes());
        updateContent();
    });
    for (const auto signal : { &Meeting::summaryChanged, &Meeting::segmentsChanged }) {
        connect(&meeting, signal, this, [this] {
            updateContent();
            updateActionBar();
        });
    }
    for (const auto signal : { &Meeting::dateChanged, &Meeting::durationChanged, &Meeting::scheduledStartChanged,
             &Meeting::autoStartEnabledChanged }) {
        connect(&meeting, signal, this, &MeetingDetailView::updateMeta);
    }
    for (const auto signal : { &Meeting::calendarEventIdChanged, &Meeting::linkBannerDismissedChanged,
             &Meeting::sourceChanged, &Meeting::dateChanged }) {
        connect(&meeting, signal, this, &MeetingDetailView::updateLinkBanner);
    }
    connect(&services.eventLinks(), &EventLinks::changed, this, &MeetingDetailView::updateLinkBanner);
    connect(
        &m_session, &TranscriptionSession::generatingSummaryMeetingIDChanged, this, &MeetingDetailView::updateContent);
    connect(&m_session, &TranscriptionSession::isPausedChanged, this, [this] {
        updateMeta();
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
    connect(&services.settings(), &Settings::changed, this, [this](const QString& key) {
        if (SettingsKeys::transcriptPaneHeight.is(key))
            updatePaneHeight();
    });

    buildFace();
}

MeetingDetailView::~MeetingDetailView() = default;

QString MeetingDetailView::formatDate(const QDateTime& date)
{
    return formatAbbreviatedDateTime(date);
}

double MeetingDetailView::transcriptHeight() const
{
    return m_services.settings().get(SettingsKeys::transcriptPaneHeight);
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
    m_title = nullptr;
    m_dateLabel = m_durationLabel = m_recordingLabel = m_liveStatusLabel = nullptr;
    m_linkText = m_generatingNotes = m_regenerateErrorLabel = m_transcriptionNotice = nullptr;
    m_recordingStatus = m_recordingDot = m_pausedDot = m_linkBanner = m_contentArea = m_modeSwitch = nullptr;
    m_generatingRule = m_generatingState = m_emptyHint = m_regenerateBlock = nullptr;
    m_actionBar = m_transcriptPanel = m_liveStatusDot = m_livePausedDot = m_systemAudioIcon = nullptr;
    m_generateButton = nullptr;
    m_autoStart = nullptr;
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
    updateTitle();
    updateMeta();
    updateLinkBanner();
    updateContent();
    updateActionBar();
    updateLiveStatus();
    updateTranscriptionNotice();
    fitPanels();
}

QWidget* MeetingDetailView::buildTitleAndMeta(QBoxLayout* into)
{
    m_title = new TitleField(nullptr);
    m_title->setObjectName(QStringLiteral("titleField"));
    connect(m_title, &QTextEdit::textChanged, this, [this] {
        if (m_title->isLoading() || !m_meeting)
            return;
        // Only typing marks the title as the user's; titles written by the summary or the
        // calendar arrive through the meeting and leave the mark alone.
        m_titleFromField = true;
        if (m_title->hasFocus())
            m_meeting->setTitleIsUserEdited(true);
        m_meeting->setTitle(m_title->toPlainText());
        m_titleFromField = false;
    });
    into->addWidget(m_title);

    auto* meta = new QHBoxLayout;
    meta->setSpacing(14);
    m_dateLabel = new EditorialLabel(QString(), Quillet::Tone::secondary);
    m_durationLabel = new EditorialLabel(QString(), Quillet::Tone::secondary);
    m_dateLabel->setObjectName(QStringLiteral("dateLabel"));
    m_durationLabel->setObjectName(QStringLiteral("durationLabel"));
    m_recordingStatus = new QWidget;
    auto* status = new QHBoxLayout(m_recordingStatus);
    status->setContentsMargins(0, 0, 0, 0);
    status->setSpacing(6);
    m_recordingDot = new RecordingDot(7);
    m_pausedDot = new PausedDot;
    m_recordingLabel = new EditorialLabel(QString(), Quillet::Tone::accent);
    status->addWidget(m_recordingDot);
    status->addWidget(m_pausedDot);
    status->addWidget(m_recordingLabel);
    m_autoStart = new QCheckBox;
    m_autoStart->setObjectName(QStringLiteral("autoStartBox"));
    m_autoStart->setFont(Quillet::caption());
    connect(m_autoStart, &QCheckBox::toggled, this, [this](bool checked) {
        if (!m_meeting || checked == m_meeting->autoStartEnabled())
            return;
        m_meeting->setAutoStartEnabled(checked);
        m_services.store().save();
    });
    meta->addWidget(m_dateLabel);
    meta->addWidget(m_durationLabel);
    meta->addWidget(m_recordingStatus);
    meta->addWidget(m_autoStart);
    meta->addStretch(1);
    auto* metaRow = new QWidget;
    metaRow->setLayout(meta);
    meta->setContentsMargins(0, 0, 0, 0);
    into->addWidget(metaRow);
    return metaRow;
}

QWidget* MeetingDetailView::buildFinishedFace()
{
    auto* face = new QWidget(this);
    auto* layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_faceLayout = layout;

    auto* scroll = new QScrollArea(face);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBar(new ScrollIndicator(Qt::Vertical));
    // Always there, and drawn only when there is something to scroll: the reading column keeps
    // its place when the content grows past the page.
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->viewport()->setAutoFillBackground(false);
    auto* stack = new QVBoxLayout;
    stack->setSpacing(18);
    buildTitleAndMeta(stack);
    stack->addWidget(buildLinkBanner());
    stack->addWidget(new Rule(&Quillet::cardStroke));
    stack->addWidget(buildContentArea());
    stack->addStretch(1);
    auto* canvas = new ScrollCanvas;
    auto* canvasLayout = new QVBoxLayout(canvas);
    canvasLayout->setContentsMargins(0, 0, 0, 0);
    canvasLayout->setSizeConstraint(QLayout::SetNoConstraint);
    canvasLayout->addWidget(readingColumn(stack, QMargins(36, 30, 36, 24), true));
    scroll->setWidget(canvas);
    canvas->setAutoFillBackground(false);
    layout->addWidget(scroll, 1);

    m_actionBar = buildActionBar();
    layout->addWidget(m_actionBar);
    if (m_showTranscript)
        ensureFinishedTranscript(layout, layout->count());
    if (m_showChat)
        ensureChatPanel(layout, layout->count());
    return face;
}

QWidget* MeetingDetailView::buildLiveFace()
{
    auto* face = new QWidget(this);
    auto* layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_faceLayout = layout;

    auto* header = new QVBoxLayout;
    header->setSpacing(14);
    buildTitleAndMeta(header);
    m_liveHeader = readingColumn(header, QMargins(36, 26, 36, 14), false);
    layout->addWidget(m_liveHeader);
    layout->addWidget(new Rule);

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

    m_feed
        = new TranscriptFeedView(m_meeting, true, m_session.isPaused(), m_session.liveDraft(), m_services.scheduler());
    m_feed->setObjectName(QStringLiteral("transcriptFeed"));
    pane->addWidget(m_feed, 1);
    updateTranscriptionNotice();
    updatePaneHeight();
    m_livePane->setPaneHeight(shownPaneHeight(transcriptHeight()), false);
    return m_livePane;
}

void MeetingDetailView::ensureChatPanel(QBoxLayout* into, int index)
{
    if (m_chatPanel || !m_meeting)
        return;
    const ModelContextBox save { [view = QPointer<MeetingDetailView>(this)] {
        if (view)
            view->saveAndArchive();
    } };
    m_chatPanel = new MeetingChatPanel(*m_meeting, *m_chat, save, m_services.settings(), &m_services.urlOpener());
    m_chatPanel->setObjectName(QStringLiteral("chatPanel"));
    into->insertWidget(index, m_chatPanel);
    fitPanels();
}

void MeetingDetailView::ensureFinishedTranscript(QBoxLayout* into, int index)
{
    if (m_transcriptPanel || !m_meeting)
        return;
    m_transcriptPanel = new Pane(nullptr);
    auto* layout = new QVBoxLayout(m_transcriptPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    const bool recording = m_meeting->isRecording();
    m_feed = new TranscriptFeedView(m_meeting, recording, m_session.isPaused(),
        recording ? m_session.liveDraft() : QString(), m_services.scheduler());
    m_feed->setObjectName(QStringLiteral("transcriptFeed"));
    layout->addWidget(m_feed);
    updateTranscriptionNotice();
    into->insertWidget(index, m_transcriptPanel);
    fitPanels();
}

// Finished face parts ------------------------------------------------------------------------

QWidget* MeetingDetailView::buildLinkBanner()
{
    m_linkBanner = new BannerCard;
    m_linkBanner->setObjectName(QStringLiteral("linkBanner"));
    auto* row = new QHBoxLayout(m_linkBanner);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(10);
    row->addWidget(new SymbolView(QStringLiteral("calendar"), 12.5, Quillet::Tone::accent));
    m_linkText = new ToneLabel(QString(), Quillet::font(12.5), Quillet::Tone::primary);
    row->addWidget(m_linkText);
    row->addStretch(1);
    auto* link = new QPushButton(QStringLiteral("Link"));
    link->setObjectName(QStringLiteral("linkButton"));
    link->setFont(Quillet::font(11.5));
    connect(link, &QPushButton::clicked, this, [this] {
        if (!m_meeting || !m_linkOffer)
            return;
        m_services.eventLinks().link(*m_meeting, *m_linkOffer);
        saveAndArchive();
        updateLinkBanner();
    });
    row->addWidget(link);
    auto* dismiss = new PlainButton(QStringLiteral("No thanks"), Quillet::font(12), Quillet::Tone::secondary);
    dismiss->setObjectName(QStringLiteral("dismissLinkButton"));
    connect(dismiss, &QAbstractButton::clicked, this, [this] {
        if (!m_meeting)
            return;
        m_meeting->setLinkBannerDismissed(true);
        m_services.store().save();
    });
    row->addWidget(dismiss);
    return m_linkBanner;
}

QWidget* MeetingDetailView::buildContentArea()
{
    m_contentArea = new QWidget;
    auto* layout = new QVBoxLayout(m_contentArea);
    layout->setContentsMargins(0, 0, 0, 0);
    m_contentLayout = layout;

    m_transcriptionNotice = new ToneLabel(QString(), Quillet::caption(), Quillet::Tone::accent);
    m_transcriptionNotice->setObjectName(QStringLiteral("transcriptionNotice"));
    m_transcriptionNotice->setWordWrap(true);
    m_transcriptionNotice->hide();
    layout->addWidget(m_transcriptionNotice);

    m_modeSwitch = new ModeSwitch;
    m_modeSwitch->setObjectName(QStringLiteral("modeSwitch"));
    auto* tabs = new QHBoxLayout(m_modeSwitch);
    tabs->setContentsMargins(3, 3, 3, 3);
    tabs->setSpacing(3);
    auto* enhanced = new ModeTab(QStringLiteral("Enhanced"), m_modeSwitch);
    auto* mine = new ModeTab(QStringLiteral("My notes"), m_modeSwitch);
    enhanced->setChecked(m_detailMode == DetailMode::enhanced);
    mine->setChecked(m_detailMode == DetailMode::notes);
    connect(enhanced, &QAbstractButton::clicked, this, [this] { setDetailMode(DetailMode::enhanced); });
    connect(mine, &QAbstractButton::clicked, this, [this] { setDetailMode(DetailMode::notes); });
    tabs->addWidget(enhanced);
    tabs->addWidget(mine);
    layout->addWidget(m_modeSwitch, 0, Qt::AlignLeft);

    m_summary = new SummaryMarkdown(&m_services.urlOpener());
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setSelectable(true);
    layout->addWidget(m_summary);

    m_generatingNotes = new ToneLabel(QString(), Quillet::body(), Quillet::Tone::secondary);
    m_generatingNotes->setWordWrap(true);
    m_generatingNotes->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_generatingNotes);
    m_generatingRule = new Rule(&Quillet::cardStroke);
    layout->addWidget(m_generatingRule);

    m_generatingState = new QWidget;
    m_generatingState->setObjectName(QStringLiteral("generatingState"));
    auto* generating = new QVBoxLayout(m_generatingState);
    generating->setContentsMargins(0, 48, 0, 48);
    generating->setSpacing(8);
    auto* writingRow = new QHBoxLayout;
    writingRow->setSpacing(10);
    writingRow->addStretch(1);
    writingRow->addWidget(new Spinner(13));
    writingRow->addWidget(new ToneLabel(QStringLiteral("Writing your notes…"),
        Quillet::font(15, QFont::Medium, Quillet::Design::serif), Quillet::Tone::secondary));
    writingRow->addStretch(1);
    generating->addLayout(writingRow);
    generating->addWidget(new ToneLabel(QStringLiteral("Long meetings can take up to a minute."), Quillet::caption(),
                              Quillet::Tone::tertiary),
        0, Qt::AlignHCenter);
    layout->addWidget(m_generatingState);

    m_emptyHint = new QWidget;
    auto* hint = new QHBoxLayout(m_emptyHint);
    hint->setContentsMargins(0, 0, 0, 0);
    hint->setSpacing(8);
    hint->addWidget(new SymbolView(QStringLiteral("square.and.pencil"), 13, Quillet::Tone::tertiary));
    hint->addWidget(new EditorialLabel(QStringLiteral("Write notes, or press record below"), Quillet::Tone::secondary));
    hint->addStretch(1);
    layout->addWidget(m_emptyHint);

    m_notes
        = new NotesEditor(m_meeting->userNotes(), kWriteYourNotes, [this](const QString& text) { notesEdited(text); });
    m_notes->setObjectName(QStringLiteral("notesEditor"));
    m_notes->setGrowsWithText(240);
    layout->addWidget(m_notes);

    m_regenerateBlock = new QWidget;
    auto* block = new QVBoxLayout(m_regenerateBlock);
    block->setContentsMargins(0, 4, 0, 0);
    block->setSpacing(10);
    m_regenerateErrorLabel = new ToneLabel(QString(), Quillet::caption(), Quillet::Tone::accent);
    m_regenerateErrorLabel->setObjectName(QStringLiteral("regenerateError"));
    m_regenerateErrorLabel->setWordWrap(true);
    m_regenerateErrorLabel->setAlignment(Qt::AlignHCenter);
    m_regenerateErrorLabel->setMaximumWidth(360);
    // Centred by stretches, not alignment, so that its wrapped lines get their height.
    auto* errorRow = new QHBoxLayout;
    errorRow->addStretch(1);
    errorRow->addWidget(m_regenerateErrorLabel, 100);
    errorRow->addStretch(1);
    block->addLayout(errorRow);
    auto* generate = new PillButton(QString(), true);
    generate->setObjectName(QStringLiteral("generateButton"));
    PillButton::Mark sparkles;
    sparkles.shape = PillButton::Mark::Shape::symbol;
    sparkles.symbol = QStringLiteral("sparkles");
    sparkles.size = 12;
    generate->setMark(sparkles);
    connect(generate, &QAbstractButton::clicked, this, &MeetingDetailView::regenerate);
    m_generateButton = generate;
    block->addWidget(generate, 0, Qt::AlignHCenter);
    layout->addWidget(m_regenerateBlock);
    return m_contentArea;
}

QWidget* MeetingDetailView::buildActionBar()
{
    auto* holder = new QWidget;
    holder->setObjectName(QStringLiteral("actionBar"));
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new Rule);
    auto* bar = new Tinted(&Quillet::barMaterial);
    column->addWidget(bar);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(24, 7, 24, 7);
    row->setSpacing(18);

    SymbolButton::Look transcript;
    transcript.symbol = QStringLiteral("chevron.up");
    transcript.symbolSize = 9;
    transcript.text = QStringLiteral("Transcript");
    auto* transcriptToggle = new SymbolButton(transcript);
    transcriptToggle->setObjectName(QStringLiteral("transcriptToggle"));
    connect(transcriptToggle, &QAbstractButton::clicked, this, [this] { setShowTranscript(!m_showTranscript); });
    row->addWidget(transcriptToggle);

    SymbolButton::Look ask;
    ask.symbol = QStringLiteral("bubble.left.and.text.bubble.right");
    ask.symbolSize = 10;
    ask.text = QStringLiteral("Ask");
    auto* chatToggle = new SymbolButton(ask);
    chatToggle->setObjectName(QStringLiteral("chatToggle"));
    chatToggle->setToolTip(QStringLiteral("Ask about this meeting"));
    connect(chatToggle, &QAbstractButton::clicked, this, [this] { setShowChat(!m_showChat); });
    row->addWidget(chatToggle);
    row->addStretch(1);

    auto* copySummaryButton = new CopyActionButton(
        QStringLiteral("Copy summary"), QStringLiteral("doc.on.clipboard"), [this] { copySummary(); },
        m_services.scheduler());
    copySummaryButton->setObjectName(QStringLiteral("copySummaryButton"));
    row->addWidget(copySummaryButton);
    auto* copyTranscriptButton = new CopyActionButton(
        QStringLiteral("Copy transcript"), QStringLiteral("doc.plaintext"), [this] { copyTranscript(); },
        m_services.scheduler());
    copyTranscriptButton->setObjectName(QStringLiteral("copyTranscriptButton"));
    row->addWidget(copyTranscriptButton);

    // The share button turns into a small spinner while the link is made.
    auto* share = new QWidget;
    share->setFixedSize(24, 20);
    SymbolButton::Look shareLook;
    shareLook.symbol = QStringLiteral("square.and.arrow.up");
    shareLook.symbolSize = 12;
    shareLook.frame = QSize(24, 20);
    auto* shareButton = new SymbolButton(shareLook, share);
    shareButton->setObjectName(QStringLiteral("shareButton"));
    shareButton->setToolTip(QStringLiteral("Share summary — copies a public link"));
    connect(shareButton, &QAbstractButton::clicked, this, &MeetingDetailView::shareMeeting);
    auto* spinner = new Spinner(11, share);
    spinner->setObjectName(QStringLiteral("shareSpinner"));
    spinner->move((24 - 11) / 2, (20 - 11) / 2);
    spinner->hide();
    row->addWidget(share);

    SymbolButton::Look regenerateLook;
    regenerateLook.symbol = QStringLiteral("arrow.clockwise");
    regenerateLook.symbolSize = 12;
    regenerateLook.frame = QSize(24, 20);
    auto* regenerateButton = new SymbolButton(regenerateLook);
    regenerateButton->setObjectName(QStringLiteral("regenerateButton"));
    regenerateButton->setToolTip(QStringLiteral("Regenerate title & summary"));
    connect(regenerateButton, &QAbstractButton::clicked, this, &MeetingDetailView::regenerate);
    row->addWidget(regenerateButton);
    return holder;
}

// Updates ------------------------------------------------------------------------------------

void MeetingDetailView::updateTitle()
{
    if (m_title && m_meeting && m_title->toPlainText() != m_meeting->title())
        m_title->load(m_meeting->title());
}

void MeetingDetailView::updateMeta()
{
    if (!m_meeting || !m_dateLabel)
        return;
    m_dateLabel->setText(formatDate(m_meeting->date()));
    const double duration = m_meeting->duration();
    m_durationLabel->setVisible(duration > 0);
    if (duration > 0)
        m_durationLabel->setText(formatDuration(duration));

    const bool recording = m_meeting->isRecording();
    const bool paused = m_session.isPaused();
    m_recordingStatus->setVisible(recording);
    m_recordingDot->setVisible(recording && !paused);
    m_pausedDot->setVisible(recording && paused);
    m_recordingLabel->setText(paused ? QStringLiteral("Paused") : QStringLiteral("Recording"));
    m_recordingLabel->setTone(paused ? Quillet::Tone::secondary : Quillet::Tone::accent);

    const std::optional<QDateTime> start = m_meeting->scheduledStart();
    const bool offerAutoStart = start && *start > m_services.clock().now() && !recording;
    m_autoStart->setVisible(offerAutoStart);
    if (start) {
        m_autoStart->setText(QStringLiteral("Auto-start at ") + formatShortTime(start->toLocalTime().time()));
    }
    const QSignalBlocker quiet(m_autoStart);
    m_autoStart->setChecked(m_meeting->autoStartEnabled());
}

void MeetingDetailView::updateLinkBanner()
{
    if (!m_linkBanner || !m_meeting)
        return;
    m_linkOffer = m_services.eventLinks().candidate(*m_meeting);
    m_linkBanner->setVisible(m_linkOffer.has_value());
    if (m_linkOffer)
        m_linkText->setText(QStringLiteral("Link to “") + m_linkOffer->title + QStringLiteral("”?"));
}

MeetingDetailView::Content MeetingDetailView::currentContent() const
{
    const std::optional<QString> summary = m_meeting->summary();
    if (summary && !summary->isEmpty())
        return Content::summary;
    if (m_session.generatingSummaryMeetingID() == m_meeting->id() || m_isRegenerating)
        return Content::generating;
    if (!m_meeting->segments().isEmpty() || m_meeting->hasUserNotes())
        return Content::unsummarized;
    return Content::empty;
}

void MeetingDetailView::updateContent()
{
    if (!m_meeting)
        return;
    m_content = currentContent();
    if (!m_contentArea)
        return;
    const bool hasSegments = !m_meeting->segments().isEmpty();
    const bool summaryShown = m_content == Content::summary;
    const bool generating = m_content == Content::generating;
    const bool editing = (summaryShown && m_detailMode == DetailMode::notes) || m_content == Content::unsummarized
        || m_content == Content::empty;

    m_modeSwitch->setVisible(summaryShown);
    m_summary->setVisible(summaryShown && m_detailMode == DetailMode::enhanced);
    if (summaryShown)
        m_summary->setMarkdown(m_meeting->summary().value_or(QString()));
    m_generatingNotes->setVisible(generating && m_meeting->hasUserNotes());
    m_generatingRule->setVisible(generating && m_meeting->hasUserNotes());
    if (generating)
        m_generatingNotes->setText(m_meeting->userNotes());
    m_generatingState->setVisible(generating);
    m_emptyHint->setVisible(m_content == Content::empty);
    m_notes->setVisible(editing);
    m_notes->setGrowsWithText(m_content == Content::unsummarized && hasSegments ? 160 : 240);
    m_regenerateBlock->setVisible(m_content == Content::unsummarized && hasSegments);
    m_generateButton->setText(
        m_meeting->hasUserNotes() ? QStringLiteral("Enhance with AI") : QStringLiteral("Generate summary"));
    m_generateButton->updateGeometry();
    m_generateButton->setEnabled(!m_isRegenerating);
    m_regenerateErrorLabel->setVisible(m_regenerateError.has_value());
    m_regenerateErrorLabel->setText(m_regenerateError.value_or(QString()));
    switch (m_content) {
    case Content::summary:
    case Content::unsummarized:
        m_contentLayout->setSpacing(18);
        break;
    case Content::generating:
        m_contentLayout->setSpacing(16);
        break;
    case Content::empty:
        m_contentLayout->setSpacing(14);
        break;
    }
    updateTranscriptionNotice();
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
    const std::optional<QString> summary = m_meeting->summary();
    const bool hasSegments = !m_meeting->segments().isEmpty();
    m_actionBar->setVisible(summary.has_value() || hasSegments);
    const bool summaryIsEmpty = !summary || summary->isEmpty();
    m_actionBar->findChild<QWidget*>(QStringLiteral("copySummaryButton"))->setEnabled(summary.has_value());
    m_actionBar->findChild<QWidget*>(QStringLiteral("copyTranscriptButton"))->setEnabled(hasSegments);
    auto* share = m_actionBar->findChild<SymbolButton*>(QStringLiteral("shareButton"));
    share->setEnabled(!summaryIsEmpty && !m_isSharing);
    share->setVisible(!m_isSharing);
    m_actionBar->findChild<QWidget*>(QStringLiteral("shareSpinner"))->setVisible(m_isSharing);
    m_actionBar->findChild<QWidget*>(QStringLiteral("regenerateButton"))->setEnabled(hasSegments && !m_isRegenerating);
    auto* transcriptToggle = m_actionBar->findChild<SymbolButton*>(QStringLiteral("transcriptToggle"));
    transcriptToggle->setTone(m_showTranscript ? Quillet::Tone::primary : Quillet::Tone::secondary);
    transcriptToggle->setSymbolRotation(m_showTranscript ? 180 : 0);
    m_actionBar->findChild<SymbolButton*>(QStringLiteral("chatToggle"))
        ->setTone(m_showChat ? Quillet::Tone::primary : Quillet::Tone::secondary);
    fitPanels();
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
    m_services.settings().set(SettingsKeys::transcriptPaneHeight, height);
    if (m_livePane)
        m_livePane->setPaneHeight(shownPaneHeight(height), animated);
    updatePaneHeight();
}

void MeetingDetailView::setDetailMode(DetailMode mode)
{
    m_detailMode = mode;
    updateContent();
}

void MeetingDetailView::setShowTranscript(bool show)
{
    m_showTranscript = show;
    if (!m_liveFace && m_faceLayout) {
        // Between the action bar and the chat panel.
        ensureFinishedTranscript(m_faceLayout, m_faceLayout->indexOf(m_actionBar) + 1);
        m_transcriptPanel->setVisible(show);
    }
    updateActionBar();
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
    saveAndSchedule();
}

void MeetingDetailView::saveAndSchedule()
{
    if (!m_meeting)
        return;
    m_services.store().save();
    scheduleArchive();
}

void MeetingDetailView::saveAndArchive()
{
    if (!m_meeting)
        return;
    m_services.store().save();
    m_services.archiver().archive(MeetingArchiver::Snapshot(*m_meeting));
}

void MeetingDetailView::scheduleArchive()
{
    if (m_meeting)
        m_services.archiveDebouncer().schedule(*m_meeting);
}

void MeetingDetailView::setRegenerating(bool regenerating)
{
    m_isRegenerating = regenerating;
    updateContent();
    updateActionBar();
}

void MeetingDetailView::setRegenerateError(const std::optional<QString>& error)
{
    m_regenerateError = error;
    updateContent();
}

void MeetingDetailView::regenerate()
{
    if (!m_meeting)
        return;
    const std::optional<ModelCredentials> credentials = m_services.account().modelCredentials();
    if (!credentials) {
        setRegenerateError(QStringLiteral("Sign in or add a Tessra key in Settings to generate summaries."));
        return;
    }
    const QString transcript = m_meeting->formattedTranscript();
    if (transcript.isEmpty())
        return;
    m_regenerateError.reset();
    setRegenerating(true);
    Log::line("[Quillet] Regenerating summary (transcript %d chars)", transcript.size());
    // The run stores its result on the meeting, if the meeting is still there, whether or not
    // this view still is.
    m_services.summarizer().run(*m_meeting, m_services.store(), *credentials,
        [view = QPointer<MeetingDetailView>(this)](const MeetingSummarizer::Result& result) {
            if (result.ok())
                Log::line("[Quillet] Summary regenerated (%d chars)", result.value().summary.size());
            else
                Log::line("[Quillet] Regenerate failed: %@", result.error().description());
            if (!view)
                return;
            view->m_isRegenerating = false;
            if (!result.ok())
                view->m_regenerateError = result.error().description();
            view->updateContent();
            view->updateActionBar();
        });
}

void MeetingDetailView::copySummary()
{
    if (!m_meeting)
        return;
    if (const std::optional<QString> summary = m_meeting->summary()) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(*summary);
    }
}

void MeetingDetailView::copyTranscript()
{
    if (!m_meeting)
        return;
    const QString transcript = m_meeting->formattedTranscript();
    if (transcript.isEmpty())
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(transcript);
}

void MeetingDetailView::setSharing(bool sharing)
{
    m_isSharing = sharing;
    updateActionBar();
}

void MeetingDetailView::shareMeeting()
{
    if (!m_meeting)
        return;
    const std::optional<QString> summary = m_meeting->summary();
    if (!summary || summary->isEmpty())
        return;
    const std::optional<QuilletCloud::ShareAuthorization> authorization = m_services.account().shareAuthorization();
    if (!authorization) {
        showShareError(QStringLiteral("Sign in (Settings → Account) to share notes."));
        return;
    }
    setSharing(true);
    m_services.cloud().share(*authorization, m_meeting->title(), *summary, m_meeting->date(), m_meeting->duration(),
        this, [this](const CloudResult<QuilletCloud::ShareResult>& result) {
            setSharing(false);
            if (!result.isOk()) {
                showShareError(result.error().description());
                return;
            }
            QClipboard* clipboard = QGuiApplication::clipboard();
            clipboard->clear();
            clipboard->setText(result.value().url);
            showShareConfirmation(result.value().url);
        });
}

namespace {

// An alert's title is its window's title and its message the only text inside. The box is
// made wide enough for the title beside the window's buttons and for each line of the message
// (within a limit past which it wraps), so that neither is cut.
void fitAlertToText(QMessageBox& alert)
{
    constexpr int kTitleBarRoom = 160;
    constexpr int kMinimumWidth = 320;
    constexpr int kMaximumWidth = 520;
    const QFontMetrics metrics(alert.font());
    int width = metrics.horizontalAdvance(alert.windowTitle()) + kTitleBarRoom;
    for (const QString& line : alert.text().split(QLatin1Char('\n')))
        width = std::max(width, metrics.horizontalAdvance(line));
    width = std::clamp(width, kMinimumWidth, kMaximumWidth);
    if (auto* grid = qobject_cast<QGridLayout*>(alert.layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
            grid->columnCount());
    }
}

} // namespace

void MeetingDetailView::showShareConfirmation(const QString& url)
{
    m_shareURL = url;
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
    connect(open, &QPushButton::clicked, this, [this] {
        // The server's reply is not trusted to name a web page.
        const QUrl link(m_shareURL.value_or(QString()));
        if (UrlOpener::isWebPage(link))
            m_services.urlOpener().open(link);
    });
    m_shareAlert = alert;
    alert->open();
}

void MeetingDetailView::showShareError(const QString& message)
{
    if (m_shareAlert)
        m_shareAlert->deleteLater();
    auto* alert = new QMessageBox(this);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowTitle(QStringLiteral("Couldn't share"));
    alert->setTextFormat(Qt::PlainText);
    alert->setText(message.isEmpty() ? QStringLiteral("Something went wrong.") : message);
    fitAlertToText(*alert);
    alert->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    m_shareAlert = alert;
    alert->open();
}
