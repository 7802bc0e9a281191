#include "ui/settings/SettingsView.h"

#include "account/AccountService.h"
#include "app/SettingsServices.h"
#include "calendar/MeetingReminders.h"
#include "platform/DesktopSettingsOpener.h"
#include "platform/MicrophonePermission.h"
#include "platform/Settings.h"
#include "system/LaunchAtLogin.h"
#include "transcription/TranscriptionLanguage.h"
#include "ui/design/AccessibleRole.h"
#include "ui/design/Announcement.h"
#include "ui/design/EnterKey.h"
#include "ui/design/Quillet.h"
#include "ui/design/ReadingColumn.h"
#include "ui/design/Rule.h"
#include "ui/design/SettingsCard.h"
#include "ui/design/SettingsRow.h"
#include "ui/design/Switch.h"
#include "ui/design/SymbolView.h"
#include "ui/design/ToneLabel.h"
#include "ui/settings/AccountSectionView.h"
#include "ui/settings/CalendarSettingsSection.h"
#include "ui/settings/ThemeTile.h"
#include "ui/settings/VocabularyEditor.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

constexpr int kColumnMaximumWidth = 640;
const QColor kGranted(0x34, 0xc7, 0x59);

QString labelOf(TranscriptionLanguage language)
{
    switch (language.value()) {
    case TranscriptionLanguage::Auto:
        return QStringLiteral("Auto-detect");
    case TranscriptionLanguage::Vi:
        return QStringLiteral("Vietnamese");
    case TranscriptionLanguage::En:
        return QStringLiteral("English");
    }
    return {};
}

// The content of a card that holds a section rather than rows, padded 14 all round.
QWidget* padded(QWidget* content, int spacing = 0)
{
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(spacing);
    layout->addWidget(content);
    return holder;
}

SettingsCard* cardOf(std::initializer_list<QWidget*> parts)
{
    auto* card = new SettingsCard;
    for (QWidget* part : parts)
        card->addWidget(part);
    return card;
}

} // namespace

SettingsView::SettingsView(const SettingsServices& services, QWidget* parent)
    : QWidget(parent)
    , m_settings(services.settings)
    , m_account(services.account)
    , m_microphone(services.microphonePermission)
    , m_opener(services.desktopSettings)
    , m_reminders(services.reminders)
{
    m_scroll = new ReadingColumn(kColumnMaximumWidth, ReadingColumn::Placement::Centred, this);
    QWidget* column = m_scroll->column();
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(40, 32, 40, 48);
    stack->setSpacing(24);

    auto* title = new ToneLabel(
        QStringLiteral("Settings"), Quillet::font(30, QFont::DemiBold, Quillet::Design::serif), Quillet::Tone::primary);
    title->setContentsMargins(0, 0, 0, 2);
    AccessibleRole::set(*title, QAccessible::Heading);
    stack->addWidget(title);

    stack->addWidget(section(QStringLiteral("Account"), cardOf({ padded(new AccountSectionView(m_account, false)) })));
    stack->addWidget(section(QStringLiteral("Transcription"), transcriptionCard()));
    stack->addWidget(section(QStringLiteral("Notifications"), notificationsCard()));
    m_calendarSection = new CalendarSettingsSection(services);
    stack->addWidget(section(QStringLiteral("Calendar"), cardOf({ padded(m_calendarSection) })));
    stack->addWidget(section(QStringLiteral("General"), generalCard()));
    m_vocabulary = new VocabularyEditor(m_settings);
    stack->addWidget(section(QStringLiteral("Dictionary"), cardOf({ padded(m_vocabulary) })));
    stack->addWidget(section(QStringLiteral("Advanced"), advancedCard()));
    stack->addStretch(1);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(m_scroll);

    connect(&m_settings, &Settings::changed, this, &SettingsView::settingChanged);
    // The user may have turned the microphone on in the desktop's settings meanwhile.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            showMicrophone();
    });
    // Whether a microphone is there is found out in the background, after the page is built.
    connect(&m_microphone, &MicrophonePermission::statusChanged, this, &SettingsView::showMicrophone);
    showMicrophone();
}

SettingsView::~SettingsView() = default;

QWidget* SettingsView::section(const QString& title, QWidget* card)
{
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* heading = new ToneLabel(title, Quillet::font(12, QFont::Medium), Quillet::Tone::secondary);
    // A screen reader's way through a long page is by its headings.
    AccessibleRole::set(*heading, QAccessible::Heading);
    heading->setContentsMargins(4, 0, 0, 0);
    layout->addWidget(heading);
    layout->addWidget(card);
    return holder;
}

SettingsRow* SettingsView::switchRow(const QString& icon, const QString& title, const QString& subtitle,
    const SettingsKey<bool>& key, std::function<void(bool)> afterWrite)
{
    auto* control = new Switch(title);
    control->setChecked(m_settings.get(key));
    connect(control, &Switch::toggledByUser, this, [this, &key, afterWrite = std::move(afterWrite)](bool on) {
        m_settings.set(key, on);
        if (afterWrite)
            afterWrite(on);
    });
    m_switches.append({ &key, control });
    return new SettingsRow(icon, title, subtitle, control);
}

Switch* SettingsView::switchFor(const QString& title) const
{
    for (const SwitchBinding& binding : m_switches)
        if (binding.control->accessibleName() == title)
            return binding.control;
    return nullptr;
}

QWidget* SettingsView::transcriptionCard()
{
    m_language = new QComboBox;
    m_language->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_language->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Named by its row's title, its label; the language chosen is read as its text.
    AccessibleRole::readChoiceAsText(*m_language);
    for (const TranscriptionLanguage language : TranscriptionLanguage::allCases())
        m_language->addItem(labelOf(language), language.rawValue());
    showLanguage();
    // activated() is the user's pick alone; showing the stored value emits only currentIndexChanged().
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        m_settings.set(SettingsKeys::transcriptionLanguage, m_language->itemData(index).toString());
    });

    return cardOf({
        new SettingsRow(QStringLiteral("character.bubble"), QStringLiteral("Language"),
            QStringLiteral(
                "Auto-detect handles Vietnamese, English, or mixed meetings. Applies to your next recording."),
            m_language),
        switchRow(QStringLiteral("text.viewfinder"), QStringLiteral("Show words as they're spoken"),
            QStringLiteral("Fills the couple of seconds before the full transcript arrives with a rough guess made on "
                           "your computer — dimmed, and replaced the moment the real text lands. Nothing is sent "
                           "anywhere and nothing rough is ever saved. Still experimental: the guess is noticeably "
                           "weaker for Vietnamese."),
            SettingsKeys::liveDraftEnabled),
        switchRow(QStringLiteral("waveform.badge.exclamationmark"), QStringLiteral("Remove duplicated speech"),
            QStringLiteral("On speakers, other people's voices reach your microphone as well, so the same sentence can "
                           "be written down twice — once as them, once as you. This drops the microphone copy and "
                           "keeps the clearer one. Turn it off only if lines are disappearing that shouldn't."),
            SettingsKeys::echoSuppressionEnabled),
    });
}

QWidget* SettingsView::notificationsCard()
{
    return cardOf({
        switchRow(QStringLiteral("bell"), QStringLiteral("Meeting reminders"),
            QStringLiteral("A nudge one minute before meetings with participants or a call link."),
            SettingsKeys::meetingRemindersEnabled, [this](bool) { m_reminders.reschedule(); }),
    });
}

QWidget* SettingsView::generalCard()
{
    auto* micControl = new QWidget;
    auto* micLayout = new QHBoxLayout(micControl);
    micLayout->setContentsMargins(0, 0, 0, 0);
    m_microphoneGranted = new SymbolView(QStringLiteral("checkmark.circle.fill"), 14, Quillet::Tone::primary);
    m_microphoneGranted->setColor(kGranted);
    m_microphoneOpen = new QPushButton(QStringLiteral("Open Settings"));
    m_microphoneOpen->setFont(Quillet::font(11));
    EnterKey::pressesButton(*m_microphoneOpen);
    micLayout->addWidget(m_microphoneGranted);
    micLayout->addWidget(m_microphoneOpen);
    // Opens the desktop's pane and nothing else: only the user can turn the microphone on there.
    connect(m_microphoneOpen, &QPushButton::clicked, this,
        [this] { m_opener.open(DesktopSettingsOpener::Pane::Microphone); });
    // Any status but granted reads the same; the text is replaced as soon as the status is read.
    m_microphoneRow = new SettingsRow(QStringLiteral("mic"), QStringLiteral("Microphone"),
        QStringLiteral("No microphone found — connect one to record"), micControl);

    // The same tiles as the welcome guide's, which promises that the choice can be changed here.
    // They sit under the row's title rather than beside it: three tiles beside a title are wider
    // than the page at the window's smallest size.
    auto* themes = new QWidget;
    themes->setObjectName(QStringLiteral("themeTiles"));
    // The radio buttons' group, named by the row above it.
    AccessibleRole::set(*themes, QAccessible::Grouping);
    themes->setAccessibleName(QStringLiteral("Appearance"));
    auto* themeLayout = new QHBoxLayout(themes);
    themeLayout->setContentsMargins(56, 0, 14, 11);
    themeLayout->setSpacing(10);
    for (const auto& [name, value] : { std::pair { "System", "system" }, { "Light", "light" }, { "Dark", "dark" } })
        themeLayout->addWidget(new ThemeTile(QString::fromLatin1(name), QString::fromLatin1(value), m_settings));
    themeLayout->addStretch(1);

    return cardOf({
        new SettingsRow(QStringLiteral("circle.lefthalf.filled"), QStringLiteral("Appearance"), {}, nullptr),
        themes,
        Rule::betweenRows(),
        switchRow(QStringLiteral("speaker.wave.2"), QStringLiteral("Sound feedback"), {}, SettingsKeys::soundEnabled),
        Rule::betweenRows(),
        // The entry is written or removed whatever becomes of it: the switch keeps the user's choice.
        switchRow(QStringLiteral("power"), QStringLiteral("Launch at login"), {}, SettingsKeys::launchAtLogin,
            [](bool on) { LaunchAtLogin::set(on); }),
        Rule::betweenRows(),
        m_microphoneRow,
    });
}

QWidget* SettingsView::advancedCard()
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(8);
    m_ownKey = new QLineEdit(m_account.byoKey());
    m_ownKey->setEchoMode(QLineEdit::Password);
    m_ownKey->setPlaceholderText(QStringLiteral("Use my own Tessra key (tq-…)"));
    m_ownKey->setAccessibleName(QStringLiteral("Use my own Tessra key"));
    m_ownKeyCaption = new ToneLabel(QString(), Quillet::caption(), Quillet::Tone::secondary);
    m_ownKeyCaption->setWordWrap(true);
    // Without a keyring the key still works, but the next start has none.
    m_ownKeyUnkept = new ToneLabel(QStringLiteral("No keyring could keep this key: it works until Quillet quits."),
        Quillet::caption(), Quillet::Tone::accent);
    m_ownKeyUnkept->setWordWrap(true);
    column->addWidget(m_ownKey);
    column->addWidget(m_ownKeyCaption);
    column->addWidget(m_ownKeyUnkept);
    // The last card: reached by Tab at the page's foot, its caption and message would stay
    // below the fold.
    ReadingColumn::revealWith(*m_ownKey, *content);
    showOwnKeyCaption();

    // textEdited() is the user's typing alone: showing the stored key writes nothing back.
    connect(m_ownKey, &QLineEdit::textEdited, this, [this](const QString& text) { m_account.setByoKey(text); });
    connect(&m_account, &AccountService::changed, this, &SettingsView::showOwnKeyCaption);
    connect(&m_account, &AccountService::byoKeyChanged, this, [this] {
        if (m_ownKey->text() != m_account.byoKey())
            m_ownKey->setText(m_account.byoKey());
    });
    return cardOf({ content });
}

void SettingsView::settingChanged(const QString& key)
{
    for (const SwitchBinding& binding : std::as_const(m_switches))
        if (binding.key->is(key))
            binding.control->setChecked(m_settings.get(*binding.key));
    if (SettingsKeys::transcriptionLanguage.is(key))
        showLanguage();
}

void SettingsView::showLanguage()
{
    // A stored value that is none of the choices is what the next recording treats as
    // automatic; it is shown so, and stays stored until the user picks.
    const TranscriptionLanguage language
        = TranscriptionLanguage::fromRawValue(m_settings.get(SettingsKeys::transcriptionLanguage))
              .value_or(TranscriptionLanguage::Auto);
    m_language->setCurrentIndex(m_language->findData(language.rawValue()));
}

void SettingsView::showMicrophone()
{
    const bool granted = m_microphone.status() == MicrophonePermission::Status::Authorized;
    m_microphoneRow->subtitleLabel()->setText(
        granted ? QStringLiteral("Access granted") : QStringLiteral("No microphone found — connect one to record"));
    m_microphoneGranted->setVisible(granted);
    m_microphoneOpen->setVisible(!granted);
}

void SettingsView::showOwnKeyCaption()
{
    m_ownKeyCaption->setText(m_account.hasByoKey()
            ? QStringLiteral("Using your own Tessra key — the free allowance isn't used.")
            : QStringLiteral("Optional. With a key, calls go straight to Tessra instead of your Quillet account."));
    const bool unkept = m_account.hasByoKey() && m_account.unkeptSecrets().testFlag(AccountService::Secret::ownKey);
    if (unkept == !m_ownKeyUnkept->isHidden())
        return;
    m_ownKeyUnkept->setVisible(unkept);
    if (unkept)
        Announcement::say(*this, m_ownKeyUnkept->text());
    // A message that comes while the field is being typed in shows beside it, once laid out.
    if (unkept && m_ownKey->hasFocus())
        QMetaObject::invokeMethod(
            m_ownKey,
            [field = m_ownKey] {
                QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
                ReadingColumn::reveal(*field);
            },
            Qt::QueuedConnection);
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    showMicrophone();
}
