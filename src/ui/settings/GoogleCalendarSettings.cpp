#include "ui/settings/GoogleCalendarSettings.h"

#include "app/SettingsServices.h"
#include "calendar/GoogleCalendarAPI.h"
#include "calendar/GoogleColor.h"
#include "platform/Settings.h"
#include "ui/design/Announcement.h"
#include "ui/design/Availability.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/EnterKey.h"
#include "ui/design/PlainButton.h"
#include "ui/design/Quillet.h"
#include "ui/design/Spinner.h"
#include "ui/design/SymbolView.h"
#include "ui/design/Symbols.h"
#include "ui/design/ToneLabel.h"
#include "ui/settings/CalendarRow.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// The platform's spinner is 32 across; the header shows it at 0.55 of that.
constexpr int kSpinnerDiameter = 18;
} // namespace

GoogleCalendarSettings::GoogleCalendarSettings(const SettingsServices& services, QWidget* parent)
    : QWidget(parent)
    , m_google(services.google)
    , m_calendar(services.calendar)
    , m_api(services.googleAPI)
    , m_settings(services.settings)
    , m_spinner(new Spinner(kSpinnerDiameter, this))
    , m_accounts(new QWidget(this))
    , m_accountsLayout(new QVBoxLayout(m_accounts))
    , m_noAccounts(new ToneLabel(QStringLiteral("Connect a Google account to pull its calendars into Quillet — pick "
                                                "exactly which ones to show."),
          Quillet::caption(), Quillet::Tone::secondary, this))
    , m_error(new ToneLabel(QString(), Quillet::caption(), Quillet::Tone::accent, this))
    , m_connect(new QPushButton(Symbols::icon(QStringLiteral("plus")), QString(), this))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->addWidget(new EditorialLabel(QStringLiteral("Google Calendar"), Quillet::Tone::secondary, this));
    header->addSpacing(4);
    header->addWidget(m_spinner);
    header->addStretch(1);
    column->addLayout(header);

    m_accountsLayout->setContentsMargins(0, 0, 0, 0);
    m_accountsLayout->setSpacing(10);
    column->addWidget(m_accounts);
    m_noAccounts->setWordWrap(true);
    column->addWidget(m_noAccounts);
    m_error->setWordWrap(true);
    column->addWidget(m_error);
    m_connect->setIconSize(QSize(12, 12));
    EnterKey::pressesButton(*m_connect);
    column->addWidget(m_connect, 0, Qt::AlignLeading);
    if (services.googleClientId.isEmpty()) {
        auto* note = new ToneLabel(QStringLiteral("Google sign-in isn’t configured in this build yet."),
            Quillet::caption2(), Quillet::Tone::tertiary, this);
        note->setWordWrap(true);
        column->addWidget(note);
    }

    connect(m_connect, &QPushButton::clicked, this, [this] {
        if (m_google.isWaitingForBrowser())
            m_google.cancelConnect();
        else
            m_google.connect();
    });
    connect(&m_google, &GoogleCalendarService::accountsChanged, this, &GoogleCalendarSettings::redraw);
    connect(&m_google, &GoogleCalendarService::calendarsByAccountChanged, this, &GoogleCalendarSettings::redraw);
    connect(&m_google, &GoogleCalendarService::isConnectingChanged, this, &GoogleCalendarSettings::redraw);
    connect(&m_google, &GoogleCalendarService::isWaitingForBrowserChanged, this, &GoogleCalendarSettings::redraw);
    connect(&m_google, &GoogleCalendarService::lastErrorChanged, this, &GoogleCalendarSettings::redraw);
    // One Google calendar may be listed under two accounts: every row reads the one list.
    connect(&m_calendar, &CalendarService::alwaysRecordVersionChanged, this, &GoogleCalendarSettings::showAlwaysRecord);
    connect(&m_settings, &Settings::changed, this, [this](const QString& key) {
        if (SettingsKeys::alwaysRecordCalendars.is(key))
            showAlwaysRecord();
    });
    redraw();
}

void GoogleCalendarSettings::redraw()
{
    const QList<GoogleCalendarService::ConnectedAccount> accounts = m_google.accounts();
    const bool connecting = m_google.isConnecting();
    m_spinner->setVisible(connecting);
    m_noAccounts->setVisible(accounts.isEmpty());
    const std::optional<QString> error = m_google.lastError();
    Announcement::setText(*m_error, error.value_or(QString()));
    m_error->setVisible(error.has_value());
    // Nothing tells when the user leaves the sign-in page unfinished, so while the browser is
    // out the button offers to stop waiting for it.
    const bool waitingForBrowser = m_google.isWaitingForBrowser();
    if (waitingForBrowser)
        m_connect->setText(QStringLiteral("Cancel"));
    else
        m_connect->setText(
            accounts.isEmpty() ? QStringLiteral("Connect Google Calendar") : QStringLiteral("Add another account"));
    m_connect->setIcon(waitingForBrowser ? QIcon() : Symbols::icon(QStringLiteral("plus")));
    Availability::set(*m_connect, waitingForBrowser || !connecting);
    redrawAccounts();
}

void GoogleCalendarSettings::redrawAccounts()
{
    Shape shape;
    const QList<GoogleCalendarService::ConnectedAccount> accounts = m_google.accounts();
    for (const auto& account : accounts)
        shape.append({ account.sub, account.email });
    const GoogleCalendarService::CalendarsByAccount calendars = m_google.calendarsByAccount();
    if (!m_drawn || shape != m_shownShape || calendars != m_shownCalendars) {
        m_drawn = true;
        m_shownShape = shape;
        m_shownCalendars = calendars;
        // A block's own button may be what changed the accounts: old blocks go once its click is over.
        while (QLayoutItem* item = m_accountsLayout->takeAt(0)) {
            if (QWidget* block = item->widget()) {
                block->hide();
                block->deleteLater();
            }
            delete item;
        }
        m_rows.clear();
        for (const auto& account : accounts)
            m_accountsLayout->addWidget(makeAccountBlock(account));
        m_accounts->setVisible(!accounts.isEmpty());
    }
    showStates();
    showAlwaysRecord();
}

QWidget* GoogleCalendarSettings::makeAccountBlock(const GoogleCalendarService::ConnectedAccount& account)
{
    auto* block = new QWidget(m_accounts);
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(0, 4, 0, 4);
    column->setSpacing(4);

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(new SymbolView(QStringLiteral("person.crop.circle"), 13, Quillet::Tone::secondary, block));
    header->addWidget(
        new ToneLabel(account.email, Quillet::font(12.5, QFont::Medium), Quillet::Tone::primary, block), 0);
    header->addStretch(1);
    auto* disconnect
        = new PlainButton(QStringLiteral("Disconnect"), Quillet::caption(), Quillet::Tone::secondary, block);
    header->addWidget(disconnect);
    column->addLayout(header);
    connect(disconnect, &QAbstractButton::clicked, this, [this, account] { m_google.disconnect(account); });

    const QList<GoogleCalendarAPI::CalendarEntry> calendars = m_shownCalendars.value(account.sub);
    for (const GoogleCalendarAPI::CalendarEntry& entry : calendars) {
        auto* row = new CalendarRow(
            entry.summary.value_or(entry.id), googleColor(entry.backgroundColor), entry.id, m_calendar, block);
        connect(row, &CalendarRow::toggledByUser, this,
            [this, sub = account.sub, id = entry.id](bool selected) { select(sub, id, selected); });
        column->addWidget(row);
        m_rows.append({ row, account.sub });
    }
    if (calendars.isEmpty()) {
        auto* choose
            = new PlainButton(QStringLiteral("Choose calendars…"), Quillet::caption(), Quillet::Tone::accent, block);
        column->addWidget(choose, 0, Qt::AlignLeading);
        connect(choose, &QAbstractButton::clicked, this, [this, sub = account.sub] { chooseCalendars(sub); });
    }
    block->show();
    return block;
}

QList<CalendarRow*> GoogleCalendarSettings::rows() const
{
    QList<CalendarRow*> rows;
    for (const ShownRow& shown : m_rows)
        rows.append(shown.row);
    return rows;
}

void GoogleCalendarSettings::showStates()
{
    for (const ShownRow& shown : std::as_const(m_rows))
        shown.row->setChecked(m_google.isSelected(shown.row->recordId(), shown.sub));
}

void GoogleCalendarSettings::showAlwaysRecord()
{
    const QStringList alwaysRecorded = m_settings.get(SettingsKeys::alwaysRecordCalendars);
    for (const ShownRow& shown : std::as_const(m_rows))
        shown.row->setAlwaysRecord(alwaysRecorded.contains(shown.row->recordId()));
}

void GoogleCalendarSettings::select(const QString& sub, const QString& calendarId, bool selected)
{
    QStringList ids;
    const QList<GoogleCalendarService::ConnectedAccount> accounts = m_google.accounts();
    for (const auto& account : accounts) {
        if (account.sub == sub) {
            ids = account.selectedCalendarIds;
            break;
        }
    }
    if (!selected)
        ids.removeAll(calendarId);
    else if (!ids.contains(calendarId))
        ids.append(calendarId);
    m_google.setSelected(ids, sub);
}

void GoogleCalendarSettings::chooseCalendars(const QString& sub)
{
    // The fetch belongs to the Google service, not to this page: a list that arrives after the
    // page was closed is still kept. Failures leave everything as it was; the user may click again.
    GoogleCalendarService& google = m_google;
    const GoogleCalendarAPI& api = m_api;
    google.validAccessToken(sub, &google, [&google, &api, sub](const GoogleCalendarService::TokenResult& token) {
        if (!token.ok())
            return;
        api.calendarList(token.value(), &google,
            [&google, sub](const Result<QList<GoogleCalendarAPI::CalendarEntry>, GoogleCalendarAPI::APIError>& listed) {
                if (!listed.ok())
                    return;
                GoogleCalendarService::CalendarsByAccount calendars = google.calendarsByAccount();
                calendars.insert(sub, listed.value());
                google.setCalendarsByAccount(calendars);
            });
    });
}
