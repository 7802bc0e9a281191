#pragma once

#include <QString>
#include <QUrl>

// What every model call needs: where to send it, the bearer token, and which of the user's
// credentials that token is.
struct ModelCredentials
{
    enum class Kind {
        ownKey, // the provider key the user typed in
        providerSignIn, // the provider key of the provider's own sign-in
        account, // the cloud account's session, through the cloud server
    };

    QUrl baseUrl;
    QString token;
    Kind kind = Kind::ownKey;

    // Through the cloud account, whose free allowance then counts.
    bool viaAccount() const { return kind == Kind::account; }

    // What the user is told when the service refuses a token of this kind: the credential to
    // put right, since signing in again cannot mend a key the user typed, nor a key a sign-in.
    static QString refusedText(Kind kind)
    {
        switch (kind) {
        case Kind::ownKey:
            return QStringLiteral("Tessra refused your own API key. Check the key in Settings.");
        case Kind::providerSignIn:
            return QStringLiteral("Tessra refused your Tessra sign-in. Sign in again in Settings.");
        case Kind::account:
            break;
        }
        return QStringLiteral("Quillet Cloud refused your account's sign-in. Sign in again in Settings.");
    }

    friend bool operator==(const ModelCredentials&, const ModelCredentials&) = default;
};
