#include "ui/workspace/MeetingHeader.h"

#include "format/TimeText.h"
#include "platform/Clock.h"
#include "app/RecordingController.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/FocusUnderlined.h"
#include "ui/design/Quillet.h"
#include "ui/design/RecordingDot.h"
#include "ui/workspace/MeetingPageParts.h"

#include <QAbstractTextDocumentLayout>
#include <QBoxLayout>
#include <QCheckBox>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <cmath>

using MeetingPageParts::PausedDot;

// The title: a borderless field that grows with its lines. Return ends the editing. Reached
// by the keyboard, it is underlined in the accent: a caret alone is easily missed.
class MeetingHeader::TitleField final : public FocusUnderlined<QTextEdit>
{
public:
    explicit TitleField(QWidget* parent)
        : FocusUnderlined<QTextEdit>(parent)
    {
        setAcceptRichText(false);
        setFrameShape(QFrame::NoFrame);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setTabChangesFocus(true);
        setFont(Quillet::font(30, QFont::DemiBold, Quillet::Design::serif));
        setPlaceholderText(QStringLiteral("Untitled"));
        // "Untitled" is what it holds while empty, not what it is.
        setAccessibleName(QStringLiteral("Title"));
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
        const int height = std::max(int(std::ceil(document()->size().height())), QFontMetrics(font()).height())
            + FocusRing::kUnderline;
        if (height != this->height())
            setFixedHeight(height);
    }

    bool m_loading = false;
};

MeetingHeader::MeetingHeader(
    Meeting& meeting, RecordingController& recordings, const Clock& clock, int spacing, QWidget* parent)
    : QWidget(parent)
    , m_meeting(&meeting)
    , m_recordings(recordings)
    , m_clock(clock)
{
    auto* into = new QVBoxLayout(this);
    into->setContentsMargins(0, 0, 0, 0);
    into->setSpacing(spacing);

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

    connect(&meeting, &Meeting::titleChanged, this, [this] {
        if (!m_titleFromField)
            updateTitle();
    });
    for (const auto signal : { &Meeting::dateChanged, &Meeting::durationChanged, &Meeting::scheduledStartChanged,
             &Meeting::autoStartEnabledChanged }) {
        connect(&meeting, signal, this, &MeetingHeader::updateMeta);
    }
    connect(&recordings, &RecordingController::isPausedChanged, this, &MeetingHeader::updateMeta);
    updateTitle();
    updateMeta();
}

MeetingHeader::~MeetingHeader() = default;

void MeetingHeader::updateTitle()
{
    if (m_title && m_meeting && m_title->toPlainText() != m_meeting->title())
        m_title->load(m_meeting->title());
}

void MeetingHeader::updateMeta()
{
    if (!m_meeting || !m_dateLabel)
        return;
    m_dateLabel->setText(formatAbbreviatedDateTime(m_meeting->date()));
    const double duration = m_meeting->duration();
    m_durationLabel->setVisible(duration > 0);
    if (duration > 0)
        m_durationLabel->setText(formatDuration(duration));

    const bool recording = m_meeting->isRecording();
    const bool paused = m_recordings.isPaused();
    m_recordingStatus->setVisible(recording);
    m_recordingDot->setVisible(recording && !paused);
    m_pausedDot->setVisible(recording && paused);
    m_recordingLabel->setText(paused ? QStringLiteral("Paused") : QStringLiteral("Recording"));
    m_recordingLabel->setTone(paused ? Quillet::Tone::secondary : Quillet::Tone::accent);

    const std::optional<QDateTime> start = m_meeting->scheduledStart();
    const bool offerAutoStart = start && *start > m_clock.now() && !recording;
    m_autoStart->setVisible(offerAutoStart);
    if (start) {
        m_autoStart->setText(QStringLiteral("Auto-start at ") + formatShortTime(start->toLocalTime().time()));
    }
    const QSignalBlocker quiet(m_autoStart);
    m_autoStart->setChecked(m_meeting->autoStartEnabled());
}
