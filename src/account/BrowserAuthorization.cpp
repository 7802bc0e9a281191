#include "account/BrowserAuthorization.h"

#include "platform/Clock.h"
#include "platform/UrlOpener.h"

#include <QPointer>

BrowserAuthorization::BrowserAuthorization(UrlOpener& browser, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_browser(browser)
    , m_clock(clock)
{
    m_limitTimer.setInterval(1000);
    connect(&m_limitTimer, &QTimer::timeout, this, &BrowserAuthorization::checkLimit);
}

BrowserAuthorization::~BrowserAuthorization() = default;

void BrowserAuthorization::setLimitCheckInterval(std::chrono::milliseconds interval)
{
    m_limitTimer.setInterval(int(interval.count()));
}

void BrowserAuthorization::start(const QUrl& page, Completion done)
{
    cancel();
    const quint64 number = ++m_waitCount;
    m_waiting = std::make_unique<Waiting>(Waiting { number, m_clock.now(), std::move(done) });
    m_limitTimer.start();
    emit waitingChanged();
    // The browser may hand the redirect back before open() returns, and a browser that fails
    // later does so when another wait may have started: only a wait that is still this one
    // fails.
    const QPointer<BrowserAuthorization> self(this);
    const auto failIfStillWaiting = [self, number] {
        if (self && self->m_waiting && self->m_waiting->number == number)
            self->finish(Failure::CannotStart);
    };
    if (!m_browser.open(page, failIfStillWaiting))
        failIfStillWaiting();
}

void BrowserAuthorization::redirected(const QUrl& url)
{
    if (m_waiting)
        finish(url);
}

void BrowserAuthorization::cancel()
{
    if (m_waiting)
        finish(Failure::Cancelled);
}

void BrowserAuthorization::checkLimit()
{
    if (m_waiting && m_clock.now() >= m_waiting->startedAt.addSecs(std::chrono::seconds(kRedirectLimit).count()))
        finish(Failure::Cancelled);
}

void BrowserAuthorization::finish(const Outcome& outcome)
{
    // Taken out first: the completion may start the next wait.
    const std::unique_ptr<Waiting> waiting = std::move(m_waiting);
    m_limitTimer.stop();
    emit waitingChanged();
    if (waiting->done)
        waiting->done(outcome);
}
