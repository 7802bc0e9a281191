#include "ui/workspace/FinishedMeetingPage.h"

#include "app/MeetingActions.h"
#include "app/RecordingController.h"
#include "storage/Meeting.h"
#include "ui/design/Alert.h"
#include "ui/design/Announcement.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/EnterKey.h"
#include "ui/design/FocusRing.h"
#include "ui/design/PillButton.h"
#include "ui/design/PlainButton.h"
#include "ui/design/Quillet.h"
#include "ui/design/ReadingColumn.h"
#include "ui/design/Rule.h"
#include "ui/design/Spinner.h"
#include "ui/design/SymbolView.h"
#include "ui/design/ToneLabel.h"
#include "ui/workspace/MeetingActionBar.h"
#include "ui/workspace/MeetingChatPanel.h"
#include "ui/workspace/MeetingHeader.h"
#include "ui/workspace/MeetingPageParts.h"
#include "ui/workspace/NotesEditor.h"
#include "ui/workspace/SummaryMarkdown.h"
#include "ui/workspace/TranscriptFeedView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QPainter>
#include <QPushButton>

using namespace MeetingPageParts;

namespace {

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
        EnterKey::pressesButton(*this);
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

// The meeting's commands handed over by the page before, or new ones.
MeetingActions* heldActions(MeetingPageState& state, Meeting& meeting, const WorkspaceServices& services)
{
    if (!state.actions)
        state.actions = std::make_shared<MeetingActions>(meeting, services.actions());
    return state.actions.get();
}

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

FinishedMeetingPage::FinishedMeetingPage(
    Meeting& meeting, const WorkspaceServices& services, MeetingPageState state, QWidget* parent)
    : MeetingPage(meeting, services, std::move(state), parent)
    , m_recordings(services.recordings)
    , m_actions(heldActions(m_state, meeting, services))
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    auto* scroll = new ReadingColumn(kColumnWidth, ReadingColumn::Placement::Centred, this);
    auto* stack = new QVBoxLayout(scroll->column());
    stack->setContentsMargins(36, 30, 36, 24);
    stack->setSpacing(18);
    stack->addWidget(new MeetingHeader(meeting, m_recordings, services.clock, stack->spacing()));
    stack->addWidget(buildLinkBanner());
    stack->addWidget(new Rule(&Quillet::cardStroke));
    stack->addWidget(buildContentArea());
    stack->addStretch(1);
    m_layout->addWidget(scroll, 1);

    m_actionBar = new MeetingActionBar(*m_actions, services.scheduler);
    connect(m_actionBar, &MeetingActionBar::transcriptToggled, this,
        [this] { setShowTranscript(!m_state.showTranscript); });
    connect(m_actionBar, &MeetingActionBar::chatToggled, this, [this] { setShowChat(!showsChat()); });
    m_layout->addWidget(m_actionBar);

    connect(&meeting, &Meeting::userNotesChanged, this, &FinishedMeetingPage::updateContent);
    for (const auto signal : { &Meeting::summaryChanged, &Meeting::segmentsChanged })
        connect(&meeting, signal, this, &FinishedMeetingPage::updateContent);
    connect(m_actions, &MeetingActions::availabilityChanged, this, &FinishedMeetingPage::updateActionBar);
    for (const auto signal : { &MeetingActions::isRegeneratingChanged, &MeetingActions::regenerateErrorChanged })
        connect(m_actions, signal, this, &FinishedMeetingPage::updateContent);
    connect(m_actions, &MeetingActions::linkOfferChanged, this, &FinishedMeetingPage::updateLinkBanner);
    connect(m_actions, &MeetingActions::shared, this, &FinishedMeetingPage::showShareConfirmation);
    connect(m_actions, &MeetingActions::shareFailed, this, &FinishedMeetingPage::showShareError);
    connect(&m_recordings, &RecordingController::generatingSummaryMeetingIDChanged, this,
        &FinishedMeetingPage::updateContent);
    connect(&m_recordings, &RecordingController::errorChanged, this, &FinishedMeetingPage::updateTranscriptionNotice);
    connect(&m_recordings, &RecordingController::transcriptionFailureChanged, this,
        &FinishedMeetingPage::updateTranscriptionNotice);

    updateLinkBanner();
    updateContent();
    setShowTranscript(m_state.showTranscript);
    setShowChat(m_state.showChat);
    // A share that ended while the meeting recorded is told once this page is in the window.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (const std::optional<MeetingActions::ShareOutcome> outcome = m_actions->takeUnshownShareOutcome())
                outcome->ok ? showShareConfirmation(outcome->text) : showShareError(outcome->text);
        },
        Qt::QueuedConnection);
}

FinishedMeetingPage::~FinishedMeetingPage() = default;

QWidget* FinishedMeetingPage::buildLinkBanner()
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
    EnterKey::pressesButton(*link);
    connect(link, &QPushButton::clicked, m_actions, &MeetingActions::linkToEvent);
    row->addWidget(link);
    auto* dismiss = new PlainButton(QStringLiteral("No thanks"), Quillet::font(12), Quillet::Tone::secondary);
    dismiss->setObjectName(QStringLiteral("dismissLinkButton"));
    connect(dismiss, &QAbstractButton::clicked, m_actions, &MeetingActions::dismissLinkBanner);
    row->addWidget(dismiss);
    return m_linkBanner;
}

QWidget* FinishedMeetingPage::buildContentArea()
{
    auto* area = new QWidget;
    m_contentLayout = new QVBoxLayout(area);
    m_contentLayout->setContentsMargins(0, 0, 0, 0);

    m_transcriptionNotice = new ToneLabel(QString(), Quillet::caption(), Quillet::Tone::accent);
    m_transcriptionNotice->setObjectName(QStringLiteral("transcriptionNotice"));
    m_transcriptionNotice->setWordWrap(true);
    m_transcriptionNotice->hide();
    m_contentLayout->addWidget(m_transcriptionNotice);

    m_modeSwitch = new ModeSwitch;
    m_modeSwitch->setObjectName(QStringLiteral("modeSwitch"));
    auto* tabs = new QHBoxLayout(m_modeSwitch);
    tabs->setContentsMargins(3, 3, 3, 3);
    tabs->setSpacing(3);
    auto* enhanced = new ModeTab(QStringLiteral("Enhanced"), m_modeSwitch);
    auto* mine = new ModeTab(QStringLiteral("My notes"), m_modeSwitch);
    enhanced->setChecked(detailMode() == DetailMode::enhanced);
    mine->setChecked(detailMode() == DetailMode::notes);
    connect(enhanced, &QAbstractButton::clicked, this, [this] { setDetailMode(DetailMode::enhanced); });
    connect(mine, &QAbstractButton::clicked, this, [this] { setDetailMode(DetailMode::notes); });
    tabs->addWidget(enhanced);
    tabs->addWidget(mine);
    m_contentLayout->addWidget(m_modeSwitch, 0, Qt::AlignLeft);

    m_summary = new SummaryMarkdown(&m_services.urlOpener);
    m_summary->setObjectName(QStringLiteral("summary"));
    m_summary->setSelectable(true);
    m_contentLayout->addWidget(m_summary);

    m_generatingNotes = new ToneLabel(QString(), Quillet::body(), Quillet::Tone::secondary);
    m_generatingNotes->setWordWrap(true);
    m_generatingNotes->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_contentLayout->addWidget(m_generatingNotes);
    m_generatingRule = new Rule(&Quillet::cardStroke);
    m_contentLayout->addWidget(m_generatingRule);

    m_generatingState = new QWidget;
    m_generatingState->setObjectName(QStringLiteral("generatingState"));
    auto* generating = new QVBoxLayout(m_generatingState);
    generating->setContentsMargins(0, 48, 0, 48);
    generating->setSpacing(8);
    auto* writingRow = new QHBoxLayout;
    writingRow->setSpacing(10);
    writingRow->addStretch(1);
    writingRow->addWidget(new Spinner(13));
    m_writingLine = new ToneLabel(QStringLiteral("Writing your notes…"),
        Quillet::font(15, QFont::Medium, Quillet::Design::serif), Quillet::Tone::secondary);
    writingRow->addWidget(m_writingLine);
    writingRow->addStretch(1);
    generating->addLayout(writingRow);
    generating->addWidget(new ToneLabel(QStringLiteral("Long meetings can take up to a minute."), Quillet::caption(),
                              Quillet::Tone::tertiary),
        0, Qt::AlignHCenter);
    m_contentLayout->addWidget(m_generatingState);

    m_emptyHint = new QWidget;
    auto* hint = new QHBoxLayout(m_emptyHint);
    hint->setContentsMargins(0, 0, 0, 0);
    hint->setSpacing(8);
    hint->addWidget(new SymbolView(QStringLiteral("square.and.pencil"), 13, Quillet::Tone::tertiary));
    hint->addWidget(new EditorialLabel(QStringLiteral("Write notes, or press record below"), Quillet::Tone::secondary));
    hint->addStretch(1);
    m_contentLayout->addWidget(m_emptyHint);

    m_notes = makeNotesEditor();
    m_notes->setGrowsWithText(240);
    m_contentLayout->addWidget(m_notes);

    m_contentLayout->addWidget(buildRegenerateBlock());
    return area;
}

QWidget* FinishedMeetingPage::buildRegenerateBlock()
{
    m_regenerateBlock = new QWidget;
    auto* block = new QVBoxLayout(m_regenerateBlock);
    block->setContentsMargins(0, 4, 0, 0);
    block->setSpacing(10);
    m_regenerateErrorLabel = new ToneLabel(QString(), Quillet::caption(), Quillet::Tone::accent);
    Announcement::marks(*m_regenerateErrorLabel, QAccessible::AlertMessage);
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
    m_generateButton = new PillButton(QString(), true);
    m_generateButton->setObjectName(QStringLiteral("generateButton"));
    PillButton::Mark sparkles;
    sparkles.shape = PillButton::Mark::Shape::symbol;
    sparkles.symbol = QStringLiteral("sparkles");
    sparkles.size = 12;
    m_generateButton->setMark(sparkles);
    connect(m_generateButton, &QAbstractButton::clicked, m_actions, &MeetingActions::regenerate);
    block->addWidget(m_generateButton, 0, Qt::AlignHCenter);
    return m_regenerateBlock;
}

void FinishedMeetingPage::ensureTranscriptPanel()
{
    if (m_transcriptPanel || !m_meeting)
        return;
    m_transcriptPanel = new Pane(nullptr);
    auto* layout = new QVBoxLayout(m_transcriptPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    m_feed = new TranscriptFeedView(m_meeting, false, false, QString(), m_services.scheduler);
    m_feed->setObjectName(QStringLiteral("transcriptFeed"));
    layout->addWidget(m_feed);
    // Between the action bar and the chat panel, and read by Tab in that order too, though the
    // chat may have come first.
    m_layout->insertWidget(m_layout->indexOf(m_actionBar) + 1, m_transcriptPanel);
    QWidget* last = m_actionBar;
    for (QWidget* next = last->nextInFocusChain(); m_actionBar->isAncestorOf(next); next = next->nextInFocusChain())
        last = next;
    QWidget::setTabOrder(last, m_feed);
}

void FinishedMeetingPage::placeChatPanel(MeetingChatPanel& panel)
{
    m_layout->addWidget(&panel);
}

void FinishedMeetingPage::updateLinkBanner()
{
    const QString prompt = m_actions->linkPrompt();
    m_linkBanner->setVisible(!prompt.isEmpty());
    if (!prompt.isEmpty())
        m_linkText->setText(prompt);
}

FinishedMeetingPage::Content FinishedMeetingPage::currentContent() const
{
    const std::optional<QString> summary = m_meeting->summary();
    if (summary && !summary->isEmpty())
        return Content::summary;
    if (m_recordings.generatingSummaryMeetingID() == m_meeting->id() || m_actions->isRegenerating())
        return Content::generating;
    if (!m_meeting->segments().isEmpty() || m_meeting->hasUserNotes())
        return Content::unsummarized;
    return Content::empty;
}

void FinishedMeetingPage::updateContent()
{
    if (!m_meeting)
        return;
    const Content before = m_content;
    m_content = currentContent();
    followGeneration(before);
    const bool hasSegments = !m_meeting->segments().isEmpty();
    const bool summaryShown = m_content == Content::summary;
    const bool generating = m_content == Content::generating;
    const bool myNotes = detailMode() == DetailMode::notes;
    const bool editing = (summaryShown && myNotes) || m_content == Content::unsummarized || m_content == Content::empty;

    m_modeSwitch->setVisible(summaryShown);
    m_summary->setVisible(summaryShown && !myNotes);
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
    m_generateButton->setEnabled(!m_actions->isRegenerating());
    m_regenerateErrorLabel->setVisible(m_actions->regenerateError().has_value());
    m_regenerateErrorLabel->setText(m_actions->regenerateErrorText());
    // Said once it is in view: the error may come while the page still shows the summary being
    // written, and show only when that goes.
    const QString shownError = m_regenerateBlock->isVisibleTo(this) && m_actions->regenerateError()
        ? m_regenerateErrorLabel->text()
        : QString();
    if (shownError != std::exchange(m_toldRegenerateError, shownError))
        Announcement::say(*this, shownError);
    if (before == Content::generating && m_content == Content::summary)
        Announcement::say(*this, QStringLiteral("Summary written."));
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

void FinishedMeetingPage::followGeneration(Content before)
{
    // "Generate summary" goes while it works, and "Writing your notes…" once the summary is
    // there: the keyboard goes with them to where the outcome shows, before Qt would hand it
    // to the next control of the page (the transcript's toggle).
    if (before == m_content)
        return;
    QWidget* focused = QApplication::focusWidget();
    if (!focused || (focused != m_generateButton && focused != m_writingLine))
        return;
    QWidget* target = nullptr;
    QWidget* part = nullptr;
    switch (m_content) {
    case Content::generating:
        target = m_writingLine;
        part = m_generatingState;
        break;
    case Content::summary:
        target = m_summary;
        part = m_summary;
        break;
    case Content::unsummarized:
        target = m_generateButton;
        part = m_regenerateBlock;
        // It takes the keyboard back only once it answers again.
        m_generateButton->setEnabled(!m_actions->isRegenerating());
        break;
    case Content::empty:
        return;
    }
    part->setVisible(true);
    target->setFocus(Qt::OtherFocusReason);
}

void FinishedMeetingPage::updateTranscriptionNotice()
{
    if (!m_meeting)
        return;
    const QString failure = m_recordings.transcriptionFailure(m_meeting->id());
    m_transcriptionNotice->setVisible(!m_meeting->isRecording() && !failure.isEmpty());
    const QString what = m_meeting->segments().isEmpty() ? QStringLiteral("The audio was not transcribed. ")
                                                         : QStringLiteral("Part of the audio was not transcribed. ");
    m_transcriptionNotice->setText(failure.isEmpty() ? QString() : what + failure);
}

void FinishedMeetingPage::setDetailMode(DetailMode mode)
{
    m_state.showMyNotes = mode == DetailMode::notes;
    updateContent();
}

void FinishedMeetingPage::setShowTranscript(bool show)
{
    m_state.showTranscript = show;
    if (show)
        ensureTranscriptPanel();
    if (m_transcriptPanel)
        m_transcriptPanel->setVisible(show);
    updateActionBar();
}

void FinishedMeetingPage::chatShownChanged()
{
    updateActionBar();
}

void FinishedMeetingPage::updateActionBar()
{
    if (!m_meeting)
        return;
    m_actionBar->showState(m_state.showTranscript, showsChat());
    fitPanels();
}

void FinishedMeetingPage::resizeEvent(QResizeEvent* event)
{
    MeetingPage::resizeEvent(event);
    fitPanels();
}

void FinishedMeetingPage::fitPanels()
{
    MeetingChatPanel* chatPanel = this->chatPanel();
    const bool transcript = m_transcriptPanel && m_state.showTranscript;
    const bool chat = chatPanel && showsChat();
    const int bar = m_actionBar->isHidden() ? 0 : m_actionBar->sizeHint().height();
    const int spare = std::max(height() - bar - kReadingMinimum, 0);
    const int wanted = (transcript ? kFinishedTranscriptHeight : 0) + (chat ? kFinishedChatMinimum : 0);
    const double share = wanted > spare ? double(spare) / wanted : 1.0;
    if (m_transcriptPanel)
        m_transcriptPanel->setFixedHeight(int(kFinishedTranscriptHeight * share));
    if (chatPanel)
        chatPanel->setMinimumHeight(int(kFinishedChatMinimum * share));
}

void FinishedMeetingPage::showShareConfirmation(const QString& url)
{
    // A page the window has hidden waits for its deletion: the outcome stays unshown for the
    // page that takes its place, which says it. (A page not shown yet is hidden too, but not
    // by anyone's hand.)
    if (isHidden() && testAttribute(Qt::WA_WState_ExplicitShowHide))
        return;
    m_actions->takeUnshownShareOutcome();
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

void FinishedMeetingPage::showShareError(const QString& message)
{
    if (isHidden() && testAttribute(Qt::WA_WState_ExplicitShowHide))
        return;
    m_actions->takeUnshownShareOutcome();
    if (m_shareAlert)
        m_shareAlert->deleteLater();
    m_shareAlert = openAlert(this, QStringLiteral("Couldn't share"), message);
}
