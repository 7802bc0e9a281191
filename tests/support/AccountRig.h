#pragma once

// Everything an AccountService needs, real except the two outside servers: a real keyring
// (kept apart from other test programs by its service name), a settings file, the URL router,
// and a browser stand-in that follows the provider's redirect back into the router.

#include "account/AccountService.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "platform/UrlRouter.h"
#include "support/BrowserStandIn.h"
#include "support/FakeClock.h"
#include "support/FakeHttpServer.h"
#include "support/IsolatedKeyring.h"
#include "system/Keychain.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

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
    BrowserStandIn browser { router };
    // What the services open pages with: the stand-in, or the desktop's opener a test passes.
    UrlOpener& opener;
    AccountEndpoints endpoints { cloudServer.url(), QUrl(QStringLiteral("https://api.provider.test")),
        providerServer.url() };
    QuilletCloud cloud { settings, network, endpoints.cloudBase };
    TessraOAuth oauth { network, opener, clock, endpoints.providerWeb };
    std::unique_ptr<AccountService> account;

    explicit AccountRig(UrlOpener* desktopOpener = nullptr)
        : opener(desktopOpener ? *desktopOpener : browser)
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
        account = std::make_unique<AccountService>(keychain, settings, cloud, oauth, opener, network, clock, endpoints);
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
