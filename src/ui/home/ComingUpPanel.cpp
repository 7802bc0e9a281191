#include "ui/home/ComingUpPanel.h"

#include "app/JoinCall.h"
#include "library/ComingUpText.h"
#include "library/MinuteTicker.h"
#include "platform/Clock.h"
#include "platform/UrlOpener.h"
#include "ui/design/Alert.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/EnterKey.h"
#include "ui/design/Quillet.h"
#include "ui/design/ToneLabel.h"
#include "ui/home/ComingUpParts.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

using EventInfo = CalendarService::EventInfo;
using namespace ComingUp;

namespace {

QFont headingFont()
{
    return Quillet::font(19, QFont::Medium, Quillet::Design::serif);
}

} // namespace

ComingUpPanel::ComingUpPanel(const HomeServices& services, OpenAction onOpen, QWidget* parent)
    : QWidget(parent)
    , m_services(services)
    , m_onOpen(std::move(onOpen))
    , m_ticker(new MinuteTicker(services.clock, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_cardPart = new QWidget(this);
    auto* card = new QVBoxLayout(m_cardPart);
    card->setContentsMargins(0, 0, 0, 0);
    card->setSpacing(8);
    card->addWidget(new ToneLabel(tr("Coming up"), headingFont(), Quillet::Tone::primary, m_cardPart));
    m_cardMessage = new ToneLabel({}, Quillet::caption(), Quillet::Tone::secondary, m_cardPart);
    m_cardMessage->setWordWrap(true);
    card->addWidget(m_cardMessage);
    m_cardProblem = new ToneLabel({}, Quillet::caption(), Quillet::Tone::accent, m_cardPart);
    m_cardProblem->setWordWrap(true);
    m_cardProblem->hide();
    card->addWidget(m_cardProblem);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    m_cardButton = new QPushButton(m_cardPart);
    m_googleButton = new QPushButton(tr("Connect Google Calendar"), m_cardPart);
    for (QPushButton* button : { m_cardButton, m_googleButton }) {
        button->setFont(Quillet::font(11));
        EnterKey::pressesButton(*button);
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    card->addLayout(buttons);
    layout->addWidget(m_cardPart);

    m_listPart = new QWidget(this);
    m_listLayout = new QVBoxLayout(m_listPart);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(12);
    m_listLayout->addWidget(new ToneLabel(tr("Coming up"), headingFont(), Quillet::Tone::primary, m_listPart));
    m_nothing
        = new ToneLabel(tr("No meetings in the next 7 days"), Quillet::body(), Quillet::Tone::secondary, m_listPart);
    m_listLayout->addWidget(m_nothing);
    m_hero = new HeroCard([this] { openEvent(m_hero->shownEvent(), true); },
        [this] {
            if (const std::optional<QUrl> link = m_hero->shownEvent().conferenceURL)
                joinCall(m_services.urlOpener, *link, this, [this](const QString& why) { showJoinFailure(why); });
        },
        m_listPart);
    m_listLayout->addWidget(m_hero);
    m_days = new DayList(m_listPart);
    m_listLayout->addWidget(m_days);
    connect(m_days, &DayList::chosen, this, [this](const EventInfo& event) { openEvent(event, false); });
    m_hidden = new ToneLabel({}, Quillet::caption(), Quillet::Tone::tertiary, m_listPart);
    m_listLayout->addWidget(m_hidden);
    layout->addWidget(m_listPart);

    connect(m_cardButton, &QPushButton::clicked, this, [this] {
        if (m_card == Card::connect)
            m_services.calendar.requestAccess();
    });
    connect(m_googleButton, &QPushButton::clicked, this, [this] {
        if (m_services.connectGoogle)
            m_services.connectGoogle();
    });
    CalendarService* calendar = &m_services.calendar;
    connect(calendar, &CalendarService::authorizationChanged, this, &ComingUpPanel::evaluate);
    connect(calendar, &CalendarService::eventsChanged, this, &ComingUpPanel::evaluate);
    connect(calendar, &CalendarService::skippedEventsChanged, this, &ComingUpPanel::evaluate);
    connect(m_ticker, &MinuteTicker::tick, this, &ComingUpPanel::evaluate);
    evaluate();
}

ComingUpPanel::~ComingUpPanel() = default;

bool ComingUpPanel::isTicking() const
{
    return m_ticker->isRunning();
}

void ComingUpPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_ticker->start();
}

void ComingUpPanel::hideEvent(QHideEvent* event)
{
    m_ticker->stop();
    QWidget::hideEvent(event);
}

void ComingUpPanel::evaluate()
{
    ++m_evaluations;
    const CalendarService& calendar = m_services.calendar;
    const CalendarService::Authorization authorization = calendar.authorization();
    const QList<EventInfo> events = calendar.events();
    // Events known without desktop access (from Google) are listed all the same.
    if (authorization == CalendarService::Authorization::Granted || !events.isEmpty()) {
        showList(ComingUpAgenda::evaluate(events, calendar.skippedEvents(), m_services.clock.now()));
        return;
    }
    switch (authorization) {
    case CalendarService::Authorization::NoAccounts:
        showCard(Card::noAccounts);
        break;
    case CalendarService::Authorization::NotRequested:
    case CalendarService::Authorization::Granted:
        showCard(Card::connect);
        break;
    }
    showAccessProblem();
}

void ComingUpPanel::showCard(Card card)
{
    m_listShown = false;
    m_listPart->hide();
    m_cardPart->show();
    const bool google = !m_services.googleClientId.isEmpty();
    if (card == m_card && google == m_cardGoogle)
        return;
    m_card = card;
    m_cardGoogle = google;
    switch (card) {
    case Card::noAccounts:
        m_cardMessage->setText(tr("No calendar accounts on this computer \u2014 or connect Google below."));
        break;
    case Card::connect:
        m_cardMessage->setText(tr("See your week's meetings here \u2014 and record any of them in one click."));
        m_cardButton->setText(tr("Connect your calendar"));
        break;
    case Card::none:
        break;
    }
    m_cardButton->setVisible(card == Card::connect);
    m_googleButton->setVisible(google);
}

void ComingUpPanel::showAccessProblem()
{
    const std::optional<QString> problem = m_services.calendar.accessProblem();
    const bool shown = m_card == Card::connect && problem.has_value();
    m_cardProblem->setText(shown ? *problem : QString());
    m_cardProblem->setVisible(shown);
}

void ComingUpPanel::showList(const ComingUpAgenda& agenda)
{
    m_card = Card::none;
    m_cardPart->hide();
    m_listPart->show();
    if (m_listShown && agenda == m_agenda)
        return;
    const bool groupsChanged = !m_listShown || agenda.groups != m_agenda.groups;
    m_agenda = agenda;
    m_listShown = true;

    m_nothing->setVisible(agenda.upcoming.isEmpty());
    if (agenda.hero)
        m_hero->set(*agenda.hero, agenda.heroRunning, agenda.heroStatus);
    m_hero->setVisible(agenda.hero.has_value());
    if (groupsChanged) {
        m_days->setGroups(m_agenda.groups);
        m_days->setVisible(!m_agenda.groups.isEmpty());
    }
    const std::optional<QString> hidden = ComingUpText::hiddenCount(agenda.hiddenCount);
    m_hidden->setText(hidden.value_or(QString()));
    m_hidden->setVisible(hidden.has_value());
}

void ComingUpPanel::openEvent(const CalendarService::EventInfo& event, bool record)
{
    if (!m_services.noteForEvent)
        return;
    const EventInfo chosen = event; // the row or card that holds it may go with what follows
    Meeting* meeting = m_services.noteForEvent(chosen, m_services.store);
    if (meeting && m_onOpen)
        m_onOpen(meeting, record);
}

void ComingUpPanel::showJoinFailure(const QString& why)
{
    if (m_joinAlert)
        m_joinAlert->deleteLater();
    m_joinAlert = openAlert(this, tr("Couldn't join"), why);
}

QString ComingUpPanel::cardMessage() const
{
    return m_cardPart->isHidden() ? QString() : m_cardMessage->text();
}

QPushButton* ComingUpPanel::cardButton() const
{
    return m_cardPart->isHidden() || m_cardButton->isHidden() ? nullptr : m_cardButton;
}

QPushButton* ComingUpPanel::googleButton() const
{
    return m_cardPart->isHidden() || m_googleButton->isHidden() ? nullptr : m_googleButton;
}

bool ComingUpPanel::showsNothingThisWeek() const
{
    return !m_listPart->isHidden() && !m_nothing->isHidden();
}

HeroCard* ComingUpPanel::hero() const
{
    return m_listPart->isHidden() || m_hero->isHidden() ? nullptr : m_hero;
}

QStringList ComingUpPanel::groupTitles() const
{
    QStringList titles;
    if (m_listShown) {
        for (const ComingUpAgenda::DayGroup& group : m_agenda.groups)
            titles.append(group.title);
    }
    return titles;
}

QString ComingUpPanel::hiddenCountText() const
{
    return m_listPart->isHidden() || m_hidden->isHidden() ? QString() : m_hidden->text();
}
