#pragma once

#include "format/Result.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>

class Clock;
class UrlOpener;

// The browser half of an OAuth sign-in: opens the authorisation page in the user's browser and
// waits for the redirect that brings the answer back (the URL router hands it to redirected()).
//
// No window here tells that the user gave up: a wait whose browser tab is simply closed would
// last for ever. So a wait ends as cancelled after ten minutes, as soon as another one starts,
// or when the user calls it off (cancel()); one wait at a time. Main thread only.
class BrowserAuthorization final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BrowserAuthorization)

public:
    enum class Failure {
        CannotStart, // the browser could not be asked to open the page, or failed to
        Cancelled, // no redirect within the limit, or another wait started, or cancel()
    };
    // The redirect's URL, or why none came.
    using Outcome = Result<QUrl, Failure>;
    using Completion = std::function<void(const Outcome&)>;

    static constexpr std::chrono::minutes kRedirectLimit { 10 };

    BrowserAuthorization(UrlOpener& browser, const Clock& clock, QObject* parent = nullptr);
    // A wait still running ends without its completion.
    ~BrowserAuthorization() override;

    // Ends the waiting one as cancelled, then opens the page. done runs exactly once.
    void start(const QUrl& page, Completion done);
    // The redirect back; ignored while nothing waits.
    void redirected(const QUrl& url);
    // Ends the waiting one, if any, as cancelled.
    void cancel();
    bool isWaiting() const { return m_waiting != nullptr; }

    // How often the limit is checked against the clock; tests shorten it.
    void setLimitCheckInterval(std::chrono::milliseconds interval);

signals:
    // isWaiting() changed; sent before the completion of a wait that ends runs.
    void waitingChanged();

private:
    struct Waiting
    {
        quint64 number = 0;
        QDateTime startedAt;
        Completion done;
    };

    void checkLimit();
    void finish(const Outcome& outcome);

    UrlOpener& m_browser;
    const Clock& m_clock;
    QTimer m_limitTimer;
    std::unique_ptr<Waiting> m_waiting;
    quint64 m_waitCount = 0;
};
