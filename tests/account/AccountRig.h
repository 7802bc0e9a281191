#pragma once

// Everything an AccountService needs, real except the two outside servers: a real keyring
// (kept apart from other test programs by its service name), a settings file, the URL router,
// and a browser stand-in that follows the provider's redirect back into the router.

#include "account/AccountService.h"
#include "platform/LibsecretStore.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "platform/UrlOpener.h"
#include "platform/UrlRouter.h"
#include "support/FakeClock.h"
#include "support/FakeHttpServer.h"
#include "system/Keychain.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

class IsolatedKeyring final : public SecretStore
{
public:
    ~IsolatedKeyring() override
    {
        for (const QString& account : std::as_const(m_touched))
            m_real.remove(m_service, account);
    }
    std::optional<QByteArray> read(const QString&, const QString& account) override
    {
        return m_real.read(m_service, account);
    }
    qint32 write(const QString&, const QString& account, const QByteArray& data) override
    {
        m_touched.insert(account);
        return refuseWrites ? qint32(Failed) : m_real.write(m_service, account, data);
    }
    void remove(const QString&, const QString& account) override { m_real.remove(m_service, account); }

    bool refuseWrites = false;

private:
    LibsecretStore m_real;
    const QString m_service
        = Keychain::kService + QStringLiteral(".account-test-%1").arg(QCoreApplication::applicationPid());
    QSet<QString> m_touched;
};

// The user's browser: notes each page it is asked to open and, when following, loads it and
// hands a redirect to a "quillet:" address to the router, as the desktop would.
class BrowserStandIn final : public UrlOpener
{
public:
    BrowserStandIn(QNetworkAccessManager& network, UrlRouter& router)
        : m_network(network)
        , m_router(router)
    { }

    bool open(const QUrl& url) override
    {
        opened.append(url);
        if (follow) {
            QNetworkRequest request(url);
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
            QNetworkReply* reply = m_network.get(request);
            QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
                reply->deleteLater();
                const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location"));
                if (location.scheme() == UrlRouter::kScheme)
                    m_router.route(location);
            });
        }
        return true;
    }

    QList<QUrl> opened;
    bool follow = true;

private:
    QNetworkAccessManager& m_network;
    UrlRouter& m_router;
};

struct AccountRig
{
    FakeHttpServer cloudServer;
    FakeHttpServer providerServer;
    FakeClock clock;
    QTemporaryDir dir;
    Settings settings { dir.filePath(QStringLiteral("settings.ini")) };
    IsolatedKeyring keyring;
    Keychain keychain { keyring };
    QNetworkAccessManager network;
    UrlRouter router;
    BrowserStandIn browser { network, router };
    AccountEndpoints endpoints { cloudServer.url(), QUrl(QStringLiteral("https://api.provider.test")),
        providerServer.url() };
    QuilletCloud cloud { settings, network, endpoints.cloudBase };
    TessraOAuth oauth { network, browser, clock, endpoints.providerWeb };
    std::unique_ptr<AccountService> account;

    AccountRig()
    {
        oauth.setLimitCheckInterval(std::chrono::milliseconds(5));
        router.setOAuthCallbackHandler([this](const QUrl& url) { oauth.handleCallback(url); });
        router.setOpenUrlHandler([this](const QUrl& url) {
            if (account)
                account->handleOpenURL(url);
        });
    }

    AccountService& start()
    {
        account
            = std::make_unique<AccountService>(keychain, settings, cloud, oauth, browser, network, clock, endpoints);
        account->setCountdownTickInterval(std::chrono::milliseconds(5));
        return *account;
    }

    std::optional<QString> stored(const QString& keychainAccount) const { return keychain.string(keychainAccount); }
};

// Runs an operation that takes a completion and waits for it.
template <typename Operation> bool finishes(Operation operation)
{
    bool done = false;
    operation([&done] { done = true; });
    return QTest::qWaitFor([&] { return done; }, 15000);
}
