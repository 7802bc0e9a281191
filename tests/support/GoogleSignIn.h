#pragma once

// Google accounts for tests over AppRig: accounts as an earlier run left them, and a sign-in
// that goes through against the rig's fake Google.

#include "support/AppRig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace GoogleSignIn {

inline const QString kScheme = QStringLiteral("com.googleusercontent.apps.1234-quillettest");

inline QString itemValue(const QList<std::pair<QString, QString>>& items, const QString& name)
{
    for (const auto& [key, value] : items)
        if (key == name)
            return value;
    return {};
}

// Accounts as an earlier run left them: listed in the settings, refresh tokens in the keychain.
// Restarts the rig's services so that they read them.
inline void seed(AppRig& rig, const QList<GoogleCalendarService::ConnectedAccount>& accounts,
    const QMap<QString, QString>& refreshTokens)
{
    QJsonArray array;
    for (const GoogleCalendarService::ConnectedAccount& account : accounts)
        array.append(QJsonObject { { "sub", account.sub }, { "email", account.email },
            { "selectedCalendarIds", QJsonArray::fromStringList(account.selectedCalendarIds) } });
    rig->settings().set(SettingsKeys::googleAccounts, QString::fromUtf8(QJsonDocument(array).toJson()));
    for (auto it = refreshTokens.begin(); it != refreshTokens.end(); ++it)
        rig->keychain().set(it.value(), QStringLiteral("google-refresh-") + it.key());
    rig.restart();
}

// The consent page and the user information of a sign-in that goes through.
inline void serveSignIn(AppRig& rig, const QByteArray& tokenReply, const QByteArray& user)
{
    using Reply = FakeHttpServer::Reply;
    rig.browser.follow = true;
    rig.google.on("GET", "/o/oauth2/v2/auth", [](const FakeHttpServer::Request& request) {
        return Reply::redirect(QUrl(kScheme + QStringLiteral(":/oauth2redirect?code=c&state=")
            + itemValue(request.queryItems(), QStringLiteral("state"))));
    });
    rig.google.on("POST", "/token", Reply::json(200, tokenReply));
    rig.google.on("GET", "/v1/userinfo", Reply::json(200, user));
}

// Connects through the service and waits for the end of the attempt.
inline bool connects(AppRig& rig)
{
    bool done = false;
    rig->google().connect([&done] { done = true; });
    return QTest::qWaitFor([&done] { return done; }, 20000);
}

} // namespace GoogleSignIn
