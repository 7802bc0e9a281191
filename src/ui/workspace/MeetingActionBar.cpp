#include "ui/workspace/MeetingActionBar.h"

#include "app/MeetingActions.h"
#include "ui/design/Availability.h"
#include "ui/design/CopyActionButton.h"
#include "ui/design/Quillet.h"
#include "ui/design/Rule.h"
#include "ui/design/Spinner.h"
#include "ui/design/SymbolButton.h"

#include <QBoxLayout>
#include <QPainter>

namespace {

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

} // namespace

MeetingActionBar::MeetingActionBar(MeetingActions& actions, Scheduler& scheduler, QWidget* parent)
    : QWidget(parent)
    , m_actions(actions)
{
    setObjectName(QStringLiteral("actionBar"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new Rule(&Rule::separator));
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
    connect(transcriptToggle, &QAbstractButton::clicked, this, &MeetingActionBar::transcriptToggled);
    row->addWidget(transcriptToggle);

    SymbolButton::Look ask;
    ask.symbol = QStringLiteral("bubble.left.and.text.bubble.right");
    ask.symbolSize = 10;
    ask.text = QStringLiteral("Ask");
    auto* chatToggle = new SymbolButton(ask);
    chatToggle->setObjectName(QStringLiteral("chatToggle"));
    chatToggle->setToolTip(QStringLiteral("Ask about this meeting"));
    connect(chatToggle, &QAbstractButton::clicked, this, &MeetingActionBar::chatToggled);
    row->addWidget(chatToggle);
    row->addStretch(1);

    auto* copySummaryButton = new CopyActionButton(
        QStringLiteral("Copy summary"), QStringLiteral("doc.on.clipboard"), [&actions] { actions.copySummary(); },
        scheduler);
    copySummaryButton->setObjectName(QStringLiteral("copySummaryButton"));
    row->addWidget(copySummaryButton);
    auto* copyTranscriptButton = new CopyActionButton(
        QStringLiteral("Copy transcript"), QStringLiteral("doc.plaintext"), [&actions] { actions.copyTranscript(); },
        scheduler);
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
    connect(shareButton, &QAbstractButton::clicked, &actions, &MeetingActions::share);
    auto* spinner = new Spinner(11, share);
    spinner->setObjectName(QStringLiteral("shareSpinner"));
    // It holds the keyboard while the link is made, when the share button had it.
    spinner->setAccessibleName(QStringLiteral("Sharing summary"));
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
    connect(regenerateButton, &QAbstractButton::clicked, &actions, &MeetingActions::regenerate);
    row->addWidget(regenerateButton);
}

void MeetingActionBar::showState(bool transcriptShown, bool chatShown)
{
    const MeetingActions& actions = m_actions;
    setVisible(actions.canCopySummary() || actions.canCopyTranscript());
    findChild<QWidget*>(QStringLiteral("copySummaryButton"))->setEnabled(actions.canCopySummary());
    findChild<QWidget*>(QStringLiteral("copyTranscriptButton"))->setEnabled(actions.canCopyTranscript());
    // The share button and its spinner hand the keyboard to each other, shown first: Qt would
    // give the focus of the one that goes to the next control of the bar.
    auto* share = findChild<SymbolButton*>(QStringLiteral("shareButton"));
    auto* spinner = findChild<QWidget*>(QStringLiteral("shareSpinner"));
    const QWidget* focused = window()->focusWidget();
    const bool keyboardOnShare = focused && (focused == share || focused == spinner);
    const bool sharing = actions.isSharing();
    QWidget* shown = sharing ? static_cast<QWidget*>(spinner) : share;
    QWidget* hidden = sharing ? static_cast<QWidget*>(share) : spinner;
    if (!sharing)
        Availability::set(*share, actions.canShare());
    shown->setVisible(true);
    if (keyboardOnShare && shown->isEnabled())
        shown->setFocus(Qt::OtherFocusReason);
    hidden->setVisible(false);
    if (sharing)
        share->setEnabled(actions.canShare());
    Availability::set(*findChild<SymbolButton*>(QStringLiteral("regenerateButton")), actions.canRegenerate());
    auto* transcriptToggle = findChild<SymbolButton*>(QStringLiteral("transcriptToggle"));
    transcriptToggle->setTone(transcriptShown ? Quillet::Tone::primary : Quillet::Tone::secondary);
    transcriptToggle->setSymbolRotation(transcriptShown ? 180 : 0);
    findChild<SymbolButton*>(QStringLiteral("chatToggle"))
        ->setTone(chatShown ? Quillet::Tone::primary : Quillet::Tone::secondary);
}
