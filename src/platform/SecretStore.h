#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// A per-user store of small secrets, addressed by a service name and an account name.
// Implementations: LibsecretStore (the desktop's secret service) and InMemorySecretStore
// (tests). Calls are synchronous and may be made from any thread; an implementation that
// talks to another process bounds how long a call can take.
class SecretStore
{
public:
    // Write results. Failures from the backend may carry its own (positive) error code.
    enum Status : qint32 {
        Success = 0,
        Unavailable = -1, // no store answers (no bus, no service, locked collection)
        TimedOut = -2, // the store did not answer within the time limit
        Failed = -3, // the store answered with an error
    };

    virtual ~SecretStore() = default;

    // The stored bytes, or nothing when there is no item or the store cannot be reached.
    virtual std::optional<QByteArray> read(const QString& service, const QString& account) = 0;

    // Creates the item or replaces its data. Returns Success or a failure code.
    virtual qint32 write(const QString& service, const QString& account, const QByteArray& data) = 0;

    // Removes every item of that service and account; an absent item is not an error.
    virtual void remove(const QString& service, const QString& account) = 0;
};
