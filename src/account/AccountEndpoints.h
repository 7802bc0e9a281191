#pragma once

#include <QUrl>

// The three outside origins the account talks to. The application uses the built-in ones,
// fixed when the program is built; tests point all three at a local server.
struct AccountEndpoints
{
    // The cloud account server ("/v1/me", "/v1/auth/…"); the setting "quilletCloudBase" may
    // replace it at run time.
    QUrl cloudBase;
    // The provider's API origin, below which the model calls hang ("v1/audio/transcriptions").
    QUrl providerApi;
    // The provider's web site: OAuth sign-in, credit balance and the top-up page.
    QUrl providerWeb;

    static AccountEndpoints builtIn();
};
