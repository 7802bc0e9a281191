#pragma once

#include <QString>
#include <QUrl>

// What every model call needs: where to send it, the bearer token, and whether it goes
// through the cloud account (whose free allowance then counts).
struct ModelCredentials
{
    QUrl baseUrl;
    QString token;
    bool viaAccount = false;

    friend bool operator==(const ModelCredentials&, const ModelCredentials&) = default;
};
