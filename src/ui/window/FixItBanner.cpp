#include "ui/window/FixItBanner.h"

#include "account/AccountService.h"
#include "platform/DesktopSettingsOpener.h"
#include "platform/MicrophonePermission.h"
#include "ui/design/EnterKey.h"
#include "ui/design/Quillet.h"
#include "ui/design/SymbolView.h"
#include "ui/design/ToneLabel.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QPainter>
#include <QPushButton>

namespace {
constexpr QMargins kPadding { 14, 8, 14, 8 };
} // namespace

FixItBanner::FixItBanner(AccountService& account, MicrophonePermission& microphone,
    DesktopSettingsOpener& desktopSettings, std::function<void()> onSignIn, QWidget* parent)
    : QWidget(parent)
    , m_account(account)
    , m_microphone(microphone)
    , m_desktopSettings(desktopSettings)
    , m_onSignIn(std::move(onSignIn))
    , m_content(new QWidget(this))
    , m_message(new ToneLabel({}, Quillet::font(12.5), Quillet::Tone::primary))
    , m_button(new QPushButton)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // Narrower than its text (a small window, a large font), the sentence goes on on the next
    // line: cut short, it would not say what is wrong.
    m_message->setWordWrap(true);
    m_button->setFont(Quillet::font(11.5));
    m_button->setAutoDefault(false);
    EnterKey::pressesButton(*m_button);
    auto* row = new QHBoxLayout(m_content);
    row->setContentsMargins(kPadding);
    row->setSpacing(10);
    row->addWidget(new SymbolView(QStringLiteral("exclamationmark.circle"), 12.5, Quillet::Tone::accent));
    row->addWidget(m_message, 1);
    row->addWidget(m_button);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_content);

    // Without a strip nothing of it shows, and nothing of it takes the focus.
    m_content->setVisible(false);

    connect(m_button, &QPushButton::clicked, this, &FixItBanner::fix);
    connect(&m_account, &AccountService::changed, this, &FixItBanner::evaluate);
    // The desktop's answer comes in the background, some time after the banner shows.
    connect(&m_microphone, &MicrophonePermission::statusChanged, this, [this] {
        if (isVisible())
            recheckMicrophone();
    });
    evaluate();
}

QString FixItBanner::message() const
{
    return m_strip == Strip::none ? QString() : m_message->text();
}

QSize FixItBanner::sizeHint() const
{
    if (m_strip == Strip::none)
        return { 0, 0 };
    return { 0, width() > 0 ? heightForWidth(width()) : m_content->sizeHint().height() };
}

bool FixItBanner::hasHeightForWidth() const
{
    return m_strip != Strip::none;
}

int FixItBanner::heightForWidth(int width) const
{
    if (m_strip == Strip::none)
        return 0;
    return m_content->layout()->totalHeightForWidth(width);
}

void FixItBanner::recheckMicrophone()
{
    m_micMissing = m_microphone.status() == MicrophonePermission::Status::Denied;
    evaluate();
}

void FixItBanner::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    recheckMicrophone();
}

void FixItBanner::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Not every layout asks for the height at the given width; as a minimum, every layout
    // keeps to it, and a sentence wrapped onto another line is not cut.
    setMinimumHeight(heightForWidth(width()));
}

void FixItBanner::hideEvent(QHideEvent* event)
{
    // Put back in place later (leaving the settings page), it starts from nothing again.
    if (!event->spontaneous())
        m_micMissing = false;
    QWidget::hideEvent(event);
}

void FixItBanner::evaluate()
{
    Strip strip = Strip::none;
    if (m_micMissing)
        strip = Strip::microphone;
    else if (!m_account.isSignedIn() && !m_account.hasByoKey())
        strip = Strip::signIn;
    if (strip == m_strip)
        return;
    m_strip = strip;
    switch (strip) {
    case Strip::microphone:
        m_message->setText(QStringLiteral("No microphone found — connect one, or turn it on in the sound settings."));
        m_button->setText(QStringLiteral("Open Settings"));
        break;
    case Strip::signIn:
        m_message->setText(QStringLiteral("Sign in to start transcribing — your free minutes are waiting."));
        m_button->setText(QStringLiteral("Sign in"));
        break;
    case Strip::none:
        break;
    }
    m_content->setVisible(strip != Strip::none);
    setMinimumHeight(heightForWidth(width()));
    updateGeometry();
    update();
}

void FixItBanner::fix()
{
    if (m_strip == Strip::microphone)
        m_desktopSettings.open(DesktopSettingsOpener::Pane::Microphone);
    else if (m_strip == Strip::signIn && m_onSignIn)
        m_onSignIn();
}

void FixItBanner::paintEvent(QPaintEvent*)
{
    if (m_strip == Strip::none)
        return;
    QPainter painter(this);
    Quillet::fillRect(painter, rect(), Quillet::withOpacity(Quillet::accent(), 0.08));
    Quillet::fillRect(painter, QRectF(0, height() - 1, width(), 1), Quillet::cardStroke(palette()));
}
