#include "account/BrowserAuthorization.h"

#include "platform/Clock.h"
#include "platform/UrlOpener.h"

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
    m_waiting = std::make_unique<Waiting>(Waiting { m_clock.now(), std::move(done) });
    const Waiting* const started = m_waiting.get();
    m_limitTimer.start();
    emit waitingChanged();
    // The browser may hand the redirect back before open() returns; only a wait that is still
    // this one may fail here.
    if (!m_browser.open(page) && m_waiting.get() == started)
        finish(Failure::CannotStart);
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
