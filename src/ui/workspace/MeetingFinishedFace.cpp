#include "app/MeetingActions.h"
#include "storage/Meeting.h"
#include "recording/TranscriptionSession.h"
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
#include "ui/workspace/MeetingDetailParts.h"
#include "ui/workspace/MeetingDetailView.h"
#include "ui/workspace/MeetingHeader.h"
#include "ui/workspace/NotesEditor.h"
#include "ui/workspace/SummaryMarkdown.h"
#include "ui/workspace/TranscriptFeedView.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QPainter>
#include <QPushButton>

// The face of a meeting that is not recording: the reading column with the title, the link
// banner and the summary or the notes, over the action bar and the panels it opens.

using namespace MeetingDetailParts;

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

QWidget* MeetingDetailView::buildFinishedFace()
{
    auto* face = new QWidget(this);
    auto* layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_faceLayout = layout;

    auto* scroll = new ReadingColumn(kColumnWidth, ReadingColumn::Placement::Centred, face);
    auto* stack = new QVBoxLayout(scroll->column());
    stack->setContentsMargins(36, 30, 36, 24);
    stack->setSpacing(18);
    stack->addWidget(new MeetingHeader(*m_meeting, m_session, m_services.clock, stack->spacing()));
    stack->addWidget(buildLinkBanner());
    stack->addWidget(new Rule(&Quillet::cardStroke));
    stack->addWidget(buildContentArea());
    stack->addStretch(1);
    layout->addWidget(scroll, 1);

    m_actionBar = new MeetingActionBar(*m_actions, m_services.scheduler);
    connect(m_actionBar, &MeetingActionBar::transcriptToggled, this, [this] { setShowTranscript(!m_showTranscript); });
    connect(m_actionBar, &MeetingActionBar::chatToggled, this, [this] { setShowChat(!m_showChat); });
    layout->addWidget(m_actionBar);
    if (m_showTranscript)
        ensureFinishedTranscript(layout, layout->count());
    if (m_showChat)
        ensureChatPanel(layout, layout->count());
    return face;
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
        recording ? m_session.liveDraft() : QString(), m_services.scheduler);
    m_feed->setObjectName(QStringLiteral("transcriptFeed"));
    layout->addWidget(m_feed);
    updateTranscriptionNotice();
    into->insertWidget(index, m_transcriptPanel);
    fitPanels();
}

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
    EnterKey::pressesButton(*link);
    connect(link, &QPushButton::clicked, m_actions, &MeetingActions::linkToEvent);
    row->addWidget(link);
    auto* dismiss = new PlainButton(QStringLiteral("No thanks"), Quillet::font(12), Quillet::Tone::secondary);
    dismiss->setObjectName(QStringLiteral("dismissLinkButton"));
    connect(dismiss, &QAbstractButton::clicked, m_actions, &MeetingActions::dismissLinkBanner);
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

    m_summary = new SummaryMarkdown(&m_services.urlOpener);
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

void MeetingDetailView::updateLinkBanner()
{
    if (!m_linkBanner || !m_meeting)
        return;
    const QString prompt = m_actions->linkPrompt();
    m_linkBanner->setVisible(!prompt.isEmpty());
    if (!prompt.isEmpty())
        m_linkText->setText(prompt);
}

MeetingDetailView::Content MeetingDetailView::currentContent() const
{
    const std::optional<QString> summary = m_meeting->summary();
    if (summary && !summary->isEmpty())
        return Content::summary;
    if (m_session.generatingSummaryMeetingID() == m_meeting->id() || m_actions->isRegenerating())
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
    m_generateButton->setEnabled(!m_actions->isRegenerating());
    m_regenerateErrorLabel->setVisible(m_actions->regenerateError().has_value());
    m_regenerateErrorLabel->setText(m_actions->regenerateErrorText());
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
