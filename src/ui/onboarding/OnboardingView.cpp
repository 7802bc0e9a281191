#include "ui/onboarding/OnboardingView.h"

#include "account/AccountService.h"
#include "app/OnboardingServices.h"
#include "audio/SystemAudioRecorder.h"
#include "platform/DesktopSettingsOpener.h"
#include "platform/Log.h"
#include "platform/MicrophonePermission.h"
#include "platform/Settings.h"
#include "platform/UrlOpener.h"
#include "ui/design/AccessibleRole.h"
#include "ui/design/Announcement.h"
#include "ui/design/PillButton.h"
#include "ui/design/PlainButton.h"
#include "ui/design/Quillet.h"
#include "ui/design/SymbolView.h"
#include "ui/design/TextFieldFocus.h"
#include "ui/design/ToneLabel.h"
#include "ui/onboarding/StepLayout.h"
#include "ui/settings/AccountSectionView.h"
#include "ui/settings/ThemeTile.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLineEdit>
#include <QPainter>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariantAnimation>

using Step = OnboardingView::Step;

namespace OnboardingParts {

// One dot per step, lit up to and including the current one; a change of step fades the dots
// that change along with the step's slide.
class Dots final : public QWidget
{
public:
    static constexpr int kDiameter = 6;
    static constexpr int kSpacing = 7;

    Dots()
    {
        setObjectName(QStringLiteral("progressDots"));
        // Read as the step it lights, not as an empty box.
        AccessibleRole::set(*this, QAccessible::StaticText);
        nameAfterStep();
        setFixedSize(OnboardingView::kStepCount * kDiameter + (OnboardingView::kStepCount - 1) * kSpacing, kDiameter);
    }

    // Starts a change to another step; the progress of the change comes with setProgress().
    void moveTo(int step)
    {
        m_from = m_to;
        m_to = step;
        m_progress = 0;
        nameAfterStep();
        update();
    }

    void setProgress(qreal progress)
    {
        m_progress = progress;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const QColor lit = Quillet::accent();
        const QColor dim = Quillet::withOpacity(Quillet::secondary(palette()), 0.25);
        for (int dot = 0; dot < OnboardingView::kStepCount; ++dot) {
            const QColor before = dot <= m_from ? lit : dim;
            const QColor after = dot <= m_to ? lit : dim;
            const auto mix = [&](float a, float b) { return a + (b - a) * float(m_progress); };
            painter.setBrush(QColor::fromRgbF(mix(before.redF(), after.redF()), mix(before.greenF(), after.greenF()),
                mix(before.blueF(), after.blueF()), mix(before.alphaF(), after.alphaF())));
            painter.drawEllipse(QRectF(dot * (kDiameter + kSpacing), 0, kDiameter, kDiameter));
        }
    }

private:
    void nameAfterStep()
    {
        setAccessibleName(QStringLiteral("Step %1 of %2").arg(m_to + 1).arg(OnboardingView::kStepCount));
    }

    int m_from = 0;
    int m_to = 0;
    qreal m_progress = 1;
};

// Shows the current step centred in its width; during a change the new step slides in from
// the trailing edge and fades in while the old one slides out to the leading edge and fades
// out. Its height is that of the steps it shows, so the flexible space around it keeps the
// step centred in the window.
class Stage final : public QWidget
{
public:
    Stage()
    {
        m_animation.setStartValue(0.0);
        m_animation.setEndValue(1.0);
        m_animation.setEasingCurve(Quillet::easeInOut());
        connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            m_progress = value.toReal();
            place();
            if (m_onProgress)
                m_onProgress(m_progress);
        });
        connect(&m_animation, &QVariantAnimation::finished, this, &Stage::finish);
    }
    // A slide under way ends with its animation, after the members finish() would use.
    ~Stage() override { disconnect(&m_animation, nullptr, this, nullptr); }

    void setProgressHandler(std::function<void(qreal)> handler) { m_onProgress = std::move(handler); }

    void showFirst(QWidget* step)
    {
        m_current = step;
        step->show();
        relayout();
    }

    // Brings a change under way to its end at once.
    void finish()
    {
        if (m_animation.state() == QAbstractAnimation::Running)
            m_animation.stop();
        m_progress = 1;
        if (m_outgoing) {
            m_outgoing->hide();
            m_outgoing->setGraphicsEffect(nullptr);
            m_outgoing = nullptr;
        }
        if (m_current)
            m_current->setGraphicsEffect(nullptr);
        relayout();
        if (m_onProgress)
            m_onProgress(1);
        if (const std::function<void()> settled = std::exchange(m_onSettled, nullptr))
            settled();
    }

    // settled: once the step that goes is hidden; not for a change another one overtakes.
    void change(QWidget* to, std::chrono::milliseconds duration, std::function<void()> settled = nullptr)
    {
        m_onSettled = nullptr;
        finish();
        m_onSettled = std::move(settled);
        if (to == m_current) {
            finish();
            return;
        }
        m_outgoing = m_current;
        m_current = to;
        m_progress = 0;
        if (m_onProgress)
            m_onProgress(0);
        to->show();
        if (duration.count() <= 0) {
            finish();
            return;
        }
        for (QWidget* step : { m_outgoing, m_current }) {
            auto* fade = new QGraphicsOpacityEffect(step);
            step->setGraphicsEffect(fade);
        }
        relayout();
        m_animation.setDuration(int(duration.count()));
        m_animation.start();
    }

    QSize sizeHint() const override { return { 0, m_height }; }

protected:
    bool event(QEvent* event) override
    {
        // A step whose content changed its size (a face switch, an error line).
        if (event->type() == QEvent::LayoutRequest)
            relayout();
        return QWidget::event(event);
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        place();
    }

private:
    int heightOf(QWidget* step) const
    {
        return step->hasHeightForWidth() ? step->heightForWidth(width()) : step->sizeHint().height();
    }

    void relayout()
    {
        int height = 0;
        for (QWidget* step : { m_outgoing.data(), m_current.data() })
            if (step)
                height = std::max(height, heightOf(step));
        if (height != m_height) {
            m_height = height;
            setFixedHeight(height);
        }
        place();
    }

    void place()
    {
        const auto put = [this](QWidget* step, qreal offset, qreal opacity) {
            if (!step)
                return;
            const int height = heightOf(step);
            step->setGeometry(qRound(offset * width()), (this->height() - height) / 2, width(), height);
            if (auto* fade = qobject_cast<QGraphicsOpacityEffect*>(step->graphicsEffect()))
                fade->setOpacity(opacity);
        };
        put(m_current, 1 - m_progress, m_progress);
        put(m_outgoing, -m_progress, 1 - m_progress);
    }

    QPointer<QWidget> m_current;
    QPointer<QWidget> m_outgoing;
    qreal m_progress = 1;
    int m_height = 0;
    QVariantAnimation m_animation;
    std::function<void(qreal)> m_onProgress;
    std::function<void()> m_onSettled;
};

} // namespace OnboardingParts

namespace {

// Widgets stacked and centred. What holds wrapping text takes the whole width and centres its
// lines itself instead: a box layout asks an item it aligns for its height at the full width,
// which is too little once the item is narrower.
QWidget* centredColumn(int spacing, std::initializer_list<QWidget*> widgets)
{
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* widget : widgets)
        layout->addWidget(widget, 0, widget->hasHeightForWidth() ? Qt::Alignment() : Qt::AlignHCenter);
    return column;
}

// A widget of a fixed width centred in a row, given its height for that width.
QWidget* centredRow(QWidget* widget)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(1);
    layout->addWidget(widget);
    layout->addStretch(1);
    return row;
}

// "Granted", "Ready", the signed-in address: a check mark and a text, in the accent colour.
QWidget* doneLabel(const QString& text, ToneLabel** label = nullptr)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    auto* textLabel = new ToneLabel(text, Quillet::body(), Quillet::Tone::accent);
    layout->addWidget(new SymbolView(QStringLiteral("checkmark.circle.fill"), 13.5, Quillet::Tone::accent));
    layout->addWidget(textLabel);
    if (label)
        *label = textLabel;
    return row;
}

PlainButton* link(const QString& text)
{
    return new PlainButton(text, Quillet::caption(), Quillet::Tone::secondary);
}

} // namespace

OnboardingView::OnboardingView(
    const OnboardingServices& services, std::function<void()> onComplete, Scheduler& scheduler, QWidget* parent)
    : QWidget(parent)
    , m_account(services.account)
    , m_settings(services.settings)
    , m_microphonePermission(services.microphonePermission)
    , m_systemAudio(services.systemAudio)
    , m_urlOpener(services.urlOpener)
    , m_archiveRoot(services.archiveRoot)
    , m_desktopSettings(services.desktopSettings)
    , m_scheduler(scheduler)
    , m_onComplete(std::move(onComplete))
    , m_signedIn(services.account.isSignedIn())
{
    TextFieldFocus::install();
    setFixedSize(440, 500);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    layout->addSpacing(26);
    auto* brand = new ToneLabel(
        QStringLiteral("Quillet"), Quillet::font(17, QFont::DemiBold, Quillet::Design::serif), Quillet::Tone::primary);
    layout->addWidget(brand, 0, Qt::AlignHCenter);
    layout->addSpacing(14);
    m_dots = new OnboardingParts::Dots;
    layout->addWidget(m_dots, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    m_stage = new OnboardingParts::Stage;
    m_steps = { makeWelcome(), makeMicrophone(), makeSystemAudio(), makeSignIn(), makeTheme(), makeReady() };
    for (StepLayout* step : m_steps) {
        step->setParent(m_stage);
        step->hide();
    }
    layout->addWidget(m_stage);
    layout->addStretch(1);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(24, 0, 24, 18);
    m_backButton = link(QStringLiteral("Back"));
    m_skipButton = link(QStringLiteral("Skip"));
    // The row keeps its height on the steps that show neither.
    for (PlainButton* button : { m_backButton, m_skipButton }) {
        QSizePolicy policy = button->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        button->setSizePolicy(policy);
    }
    connect(m_backButton, &QAbstractButton::clicked, this, &OnboardingView::back);
    connect(m_skipButton, &QAbstractButton::clicked, this, &OnboardingView::advance);
    footer->addWidget(m_backButton);
    footer->addStretch(1);
    footer->addWidget(m_skipButton);
    layout->addLayout(footer);

    m_stage->setProgressHandler([this](qreal progress) { m_dots->setProgress(progress); });
    m_stage->showFirst(m_steps[0]);

    connect(&m_account, &AccountService::changed, this, &OnboardingView::accountChanged);
    // The desktop's answer comes in the background: a microphone found goes on as a grant, one
    // found missing shows the way to the settings instead of a request that cannot help.
    connect(&m_microphonePermission, &MicrophonePermission::statusChanged, this, [this] {
        if (!m_polling)
            return;
        if (m_microphonePermission.status() == MicrophonePermission::Status::Denied && !m_micGranted) {
            m_micDenied = true;
            updateFaces();
        } else {
            pollMicrophone();
        }
    });
    updateFaces();
}

OnboardingView::~OnboardingView() = default;

StepLayout* OnboardingView::makeWelcome()
{
    auto* start = new PillButton(QStringLiteral("Get started"), true);
    m_startButton = start;
    connect(start, &QAbstractButton::clicked, this, [this] {
        m_settings.set(SettingsKeys::onboardingCompleted, true);
        advance();
    });
    return new StepLayout(QStringLiteral("waveform"), QStringLiteral("Meetings, remembered"),
        QStringLiteral("Record anywhere. Live transcript while you talk,\nbeautiful notes when you stop —\n"
                       "Vietnamese, English, or both at once."),
        centredColumn(0, { start }));
}

StepLayout* OnboardingView::makeMicrophone()
{
    // Access granted before the step showed does not move on by itself: the way on is here,
    // not only behind "Skip".
    auto* continueButton = new PillButton(QStringLiteral("Continue"), true);
    connect(continueButton, &QAbstractButton::clicked, this, &OnboardingView::advance);
    m_micGrantedFace = centredColumn(12, { doneLabel(QStringLiteral("Granted")), continueButton });

    auto* deniedText
        = new ToneLabel(QStringLiteral("No microphone found. Connect one, or turn it on in the sound settings."),
            Quillet::caption(), Quillet::Tone::secondary);
    deniedText->setAlignment(Qt::AlignHCenter);
    deniedText->setWordWrap(true);
    auto* openSettings = new PillButton(QStringLiteral("Open Settings"), true);
    connect(openSettings, &QAbstractButton::clicked, this,
        [this] { m_desktopSettings.open(DesktopSettingsOpener::Pane::Microphone); });
    m_micDeniedFace = centredColumn(10, { deniedText, openSettings });

    m_micAllowButton = new PillButton(QStringLiteral("Allow microphone"), true);
    connect(m_micAllowButton, &QAbstractButton::clicked, this, &OnboardingView::requestMicrophone);

    return new StepLayout(QStringLiteral("mic"), QStringLiteral("Your side of the conversation"),
        QStringLiteral("Quillet listens through your microphone —\nso it can hear you."),
        centredColumn(0, { m_micGrantedFace, m_micDeniedFace, m_micAllowButton }));
}

StepLayout* OnboardingView::makeSystemAudio()
{
    m_audioReadyFace = doneLabel(QStringLiteral("Ready"));

    auto* allow = new PillButton(QStringLiteral("Allow system audio"), true);
    connect(allow, &QAbstractButton::clicked, this, &OnboardingView::probeSystemAudio);
    m_audioFailure = new ToneLabel(QStringLiteral("Couldn't start system-audio capture — you can grant it later in "
                                                  "Settings. Recording will use the mic only until then."),
        Quillet::caption(), Quillet::Tone::secondary);
    Announcement::marks(*m_audioFailure, QAccessible::AlertMessage);
    m_audioFailure->setAlignment(Qt::AlignHCenter);
    m_audioFailure->setWordWrap(true);
    m_audioAskFace = centredColumn(10, { allow, m_audioFailure });

    return new StepLayout(QStringLiteral("speaker.wave.2"), QStringLiteral("Everyone else, too"),
        QStringLiteral("System audio lets Quillet hear the other side\nof your calls — no bot ever joins a meeting."),
        centredColumn(0, { m_audioReadyFace, m_audioAskFace }));
}

StepLayout* OnboardingView::makeSignIn()
{
    auto* continueButton = new PillButton(QStringLiteral("Continue"), true);
    connect(continueButton, &QAbstractButton::clicked, this, &OnboardingView::advance);
    m_signedInFace = centredColumn(12, { doneLabel(QString(), &m_signedInLabel), continueButton });

    m_ownKeyField = new QLineEdit;
    m_ownKeyField->setEchoMode(QLineEdit::Password);
    m_ownKeyField->setPlaceholderText(QStringLiteral("tq-..."));
    m_ownKeyField->setAccessibleName(QStringLiteral("Tessra key"));
    m_ownKeyField->setFixedWidth(280);
    m_useKeyButton = new PillButton(QStringLiteral("Use this key"), true);
    connect(m_ownKeyField, &QLineEdit::textChanged, this, &OnboardingView::updateFaces);
    // Enter after typing the key is what a person does next.
    connect(m_ownKeyField, &QLineEdit::returnPressed, this, [this] {
        if (m_useKeyButton->isEnabled())
            m_useKeyButton->click();
    });
    // Without a keyring the key still works, but the next start has none: the guide waits on
    // this step until that has been said, and the button then reads "Continue".
    m_ownKeyUnkept = new ToneLabel(QStringLiteral("No keyring could keep this key: it works until Quillet quits."),
        Quillet::caption(), Quillet::Tone::accent);
    Announcement::marks(*m_ownKeyUnkept, QAccessible::AlertMessage);
    m_ownKeyUnkept->setAlignment(Qt::AlignHCenter);
    m_ownKeyUnkept->setWordWrap(true);
    m_ownKeyUnkept->setFixedWidth(280);
    connect(m_useKeyButton, &QAbstractButton::clicked, this, [this] {
        if (!ownKeyToldUnkept()) {
            // As typed: the service keeps the trimmed key in the keychain.
            m_account.setByoKey(m_ownKeyField->text());
            if (ownKeyToldUnkept()) {
                Announcement::say(*this, m_ownKeyUnkept->text());
                return;
            }
        }
        advance();
    });
    auto* backToSignIn = link(QStringLiteral("Back to sign in"));
    connect(backToSignIn, &QAbstractButton::clicked, this, [this] {
        m_showByoKey = false;
        updateFaces();
        // The link that had the focus is gone; the keyboard goes on from the one that comes back.
        m_ownKeyLink->setFocus(Qt::OtherFocusReason);
    });
    m_ownKeyFace = centredColumn(12, { m_ownKeyField, m_ownKeyUnkept, m_useKeyButton, backToSignIn });

    auto* card = new AccountSectionView(m_account, true);
    card->setFixedWidth(300);
    // The first error after a sign-in tried here is this guide's, until another takes its
    // place or it is cleared; any other (Settings' own) is left alone when the guide closes.
    connect(card, &AccountSectionView::attempted, this, [this] { m_attemptedHere = true; });
    connect(&m_account, &AccountService::flowErrorChanged, this, [this] {
        const bool error = m_account.flowError().has_value();
        m_errorIsFromHere = error && m_attemptedHere;
        if (error)
            m_attemptedHere = false;
    });
    auto* ownKey = link(QStringLiteral("Use my own key instead"));
    m_ownKeyLink = ownKey;
    connect(ownKey, &QAbstractButton::clicked, this, [this] {
        m_showByoKey = true;
        updateFaces();
        // What comes next is typing the key.
        m_ownKeyField->setFocus(Qt::OtherFocusReason);
    });
    m_cardFace = centredColumn(12, { centredRow(card), ownKey });

    return new StepLayout(QStringLiteral("person.crop.circle"), QStringLiteral("Sign in"),
        QStringLiteral("One tap with Google — or your email.\nTranscription is free every month, no API key."),
        centredColumn(12, { m_signedInFace, m_ownKeyFace, m_cardFace }));
}

StepLayout* OnboardingView::makeTheme()
{
    auto* tiles = new QWidget;
    // The radio buttons' group.
    AccessibleRole::set(*tiles, QAccessible::Grouping);
    tiles->setAccessibleName(QStringLiteral("Appearance"));
    auto* layout = new QHBoxLayout(tiles);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addStretch(1);
    for (const auto& [name, value] : { std::pair { "System", "system" }, { "Light", "light" }, { "Dark", "dark" } })
        layout->addWidget(new ThemeTile(QString::fromLatin1(name), QString::fromLatin1(value), m_settings));
    layout->addStretch(1);
    return new StepLayout(QStringLiteral("circle.lefthalf.filled"), QStringLiteral("Pick your light"),
        QStringLiteral("Applies instantly — change it any time in Settings."), tiles);
}

StepLayout* OnboardingView::makeReady()
{
    auto* start = new PillButton(QStringLiteral("Start using Quillet"), true);
    connect(start, &QAbstractButton::clicked, this, [this] {
        m_settings.set(SettingsKeys::onboardingCompleted, true);
        if (m_onComplete)
            m_onComplete();
    });
    auto* archive = link(QStringLiteral("Open Archive Folder"));
    // On a first run nothing is archived yet, and the file manager would find no folder. A
    // folder that cannot be made or opened is not worth a message here.
    connect(archive, &QAbstractButton::clicked, this, [this] {
        QDir().mkpath(m_archiveRoot);
        static_cast<void>(m_urlOpener.openFolder(m_archiveRoot));
    });
    return new StepLayout(QStringLiteral("checkmark"), QStringLiteral("You're all set"),
        QStringLiteral("Try it now — play any video and press Record.\nQuillet hears your computer."),
        centredColumn(12, { start, archive }));
}

void OnboardingView::updateFaces()
{
    // A control that goes with its answer hands the keyboard to the face that shows the answer,
    // before it is hidden: Qt would hand it to whatever comes next. An answer with no control
    // ("Ready") keeps it on "Back" until the flow moves on, which takes it to the step that
    // comes.
    const auto replace = [this](QWidget& going, bool goes, QWidget& coming) {
        const QWidget* focused = QApplication::focusWidget();
        if (goes && focused && (focused == &going || going.isAncestorOf(focused))) {
            QWidget* stop = firstStop(coming);
            m_focusWaitsOnBack = !stop;
            (stop ? stop : m_backButton)->setFocus(Qt::OtherFocusReason);
        }
        going.setVisible(!goes);
    };
    m_micGrantedFace->setVisible(m_micGranted);
    m_micDeniedFace->setVisible(!m_micGranted && m_micDenied);
    replace(*m_micAllowButton, m_micGranted || m_micDenied, m_micGranted ? *m_micGrantedFace : *m_micDeniedFace);

    m_audioReadyFace->setVisible(m_systemAudioDone);
    replace(*m_audioAskFace, m_systemAudioDone, *m_audioReadyFace);
    if (m_systemAudioFailed && m_audioFailure->isHidden()) {
        m_audioFailure->setVisible(true);
        Announcement::say(*m_audioFailure, m_audioFailure->text());
    }
    m_audioFailure->setVisible(m_systemAudioFailed);

    const bool signedIn = m_account.isSignedIn();
    const auto& account = m_account.account();
    m_signedInLabel->setText(account && !account->email.isEmpty() ? account->email : QStringLiteral("Signed in"));
    m_signedInFace->setVisible(signedIn);
    m_ownKeyFace->setVisible(!signedIn && m_showByoKey);
    m_cardFace->setVisible(!signedIn && !m_showByoKey);
    m_useKeyButton->setEnabled(!m_ownKeyField->text().trimmed().isEmpty());
    m_ownKeyUnkept->setVisible(ownKeyToldUnkept());
    m_useKeyButton->setText(ownKeyToldUnkept() ? QStringLiteral("Continue") : QStringLiteral("Use this key"));

    m_backButton->setVisible(m_step != Step::welcome);
    m_skipButton->setVisible(m_step != Step::welcome && m_step != Step::ready);
}

bool OnboardingView::ownKeyToldUnkept() const
{
    return m_account.hasByoKey() && m_account.unkeptSecrets().testFlag(AccountService::Secret::ownKey)
        && m_ownKeyField->text() == m_account.byoKey();
}

void OnboardingView::go(Step to)
{
    if (to == m_step)
        return;
    m_stage->finish();
    StepLayout* leaving = m_steps[size_t(m_step)];
    StepLayout* coming = m_steps[size_t(to)];
    m_step = to;
    m_dots->moveTo(int(to));
    // The keyboard leaves a step that goes (or a Skip, Back that goes with it) for the first
    // control of the step that comes, before anything is hidden: it never stops on a control on
    // its way out. That change is made at once, not slid: nothing of the old step is left for a
    // screen reader to find around it. On a Back or Skip that stays, the keyboard stays. Either
    // way the step that comes is said with its number.
    const QWidget* focused = QApplication::focusWidget();
    const bool focusLeaves = focused
        && (leaving->isAncestorOf(focused) || (focused == m_skipButton && to == Step::ready)
            || (focused == m_backButton && (to == Step::welcome || m_focusWaitsOnBack)));
    m_focusWaitsOnBack = false;
    coming->show();
    QWidget* first = focusLeaves ? firstStop(*coming) : nullptr;
    if (first)
        first->setFocus(Qt::TabFocusReason);
    updateFaces();
    if (focusLeaves && !first) {
        for (PlainButton* stays : { m_skipButton, m_backButton }) {
            if (stays->isVisible()) {
                stays->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    // Said once the step that goes has gone: a screen reader reads the window's text around
    // what is said, and would read both steps' while they slide.
    m_stage->change(coming, first ? std::chrono::milliseconds(0) : m_timing.transition,
        [this, said = QStringLiteral("%1. Step %2 of %3.").arg(coming->title()).arg(int(to) + 1).arg(kStepCount)] {
            Announcement::say(*this, said);
        });
}

QWidget* OnboardingView::firstStop(QWidget& step)
{
    for (QWidget* widget = step.nextInFocusChain(); widget != &step; widget = widget->nextInFocusChain()) {
        if (!step.isAncestorOf(widget))
            continue;
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy() && widget->isEnabled()
            && widget->isVisible())
            return widget;
    }
    return nullptr;
}

void OnboardingView::advance()
{
    if (m_step != Step::ready)
        go(Step(int(m_step) + 1));
}

void OnboardingView::back()
{
    go(m_step == Step::welcome ? Step::welcome : Step(int(m_step) - 1));
}

void OnboardingView::advanceAfterBeat()
{
    // Never cancelled, and it moves on from wherever the flow then stands; it dies with the
    // view.
    m_scheduler.schedule(m_timing.beat, this, [this] { advance(); });
}

void OnboardingView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    startPolling();
    // The guide opens on "Get started", which Enter presses: it shows its ring from the start,
    // not only after a first Tab.
    if (m_step == Step::welcome && !event->spontaneous()) {
        m_startButton->setFocus(Qt::OtherFocusReason);
        window()->setAttribute(Qt::WA_KeyboardFocusChange);
    }
}

void OnboardingView::hideEvent(QHideEvent* event)
{
    stopPolling();
    // Closed, not minimised: what went wrong with a sign-in tried here ("No web browser could
    // be opened") was about this attempt, and would otherwise be left on the Settings page.
    if (!event->spontaneous() && m_errorIsFromHere)
        m_account.setFlowError(std::nullopt);
    QWidget::hideEvent(event);
}

void OnboardingView::startPolling()
{
    if (m_polling)
        return;
    const MicrophonePermission::Status status = m_microphonePermission.status();
    m_micGranted = status == MicrophonePermission::Status::Authorized;
    m_micDenied = status == MicrophonePermission::Status::Denied;
    updateFaces();
    m_polling = true;
    schedulePoll(++m_pollRun);
}

void OnboardingView::stopPolling()
{
    m_polling = false;
    ++m_pollRun;
}

void OnboardingView::schedulePoll(quint64 run)
{
    m_scheduler.schedule(m_timing.poll, this, [this, run] {
        // A tick of a poll that was stopped (and perhaps started again since) ends it.
        if (run != m_pollRun)
            return;
        pollMicrophone();
        schedulePoll(run);
    });
}

void OnboardingView::pollMicrophone()
{
    if (m_microphonePermission.status() != MicrophonePermission::Status::Authorized || m_micGranted)
        return;
    m_micGranted = true;
    m_micDenied = false;
    updateFaces();
    if (m_step == Step::microphone)
        advanceAfterBeat();
}

void OnboardingView::requestMicrophone()
{
    m_microphonePermission.requestAccess(this, [this](bool granted) {
        // A tick may have seen the grant before this answer came and moved on already; a
        // second move would skip the system-audio step unseen.
        const bool alreadyGranted = m_micGranted;
        m_micGranted = granted;
        m_micDenied = !granted;
        updateFaces();
        if (granted && !alreadyGranted)
            advanceAfterBeat();
    });
}

void OnboardingView::probeSystemAudio()
{
    // A capture already running (a recording) proves the sound can be had; it is not touched.
    if (m_systemAudio.isRunning()) {
        m_systemAudioDone = true;
        updateFaces();
        advanceAfterBeat();
        return;
    }
    const std::optional<SystemAudioError> error = m_systemAudio.start();
    m_systemAudio.stop();
    if (error) {
        m_systemAudioFailed = true;
        Log::line("[Quillet] System-audio probe failed: %@", error->description());
    } else {
        m_systemAudioDone = true;
        m_systemAudioFailed = false;
        advanceAfterBeat();
    }
    updateFaces();
}

void OnboardingView::accountChanged()
{
    const bool signedIn = m_account.isSignedIn();
    if (signedIn != m_signedIn) {
        m_signedIn = signedIn;
        m_attemptedHere = false;
        if (signedIn && m_step == Step::signIn)
            advanceAfterBeat();
    }
    updateFaces();
}
