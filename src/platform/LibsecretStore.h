#pragma once

#include "platform/SecretStore.h"

#include <chrono>

// SecretStore over the desktop's Secret Service (libsecret, D-Bus). Items are stored in the
// default collection with the attributes "service" and "account". A service that holds its
// bus name but never answers would block a call for up to a minute, so every call runs on a
// worker thread and is cancelled after the time limit; the caller then sees the store as
// unreachable (read: nothing, write: TimedOut).
class LibsecretStore final : public SecretStore
{
public:
    static constexpr std::chrono::milliseconds kDefaultTimeLimit { 5000 };

    explicit LibsecretStore(std::chrono::milliseconds timeLimit = kDefaultTimeLimit);

    std::optional<QByteArray> read(const QString& service, const QString& account) override;
    qint32 write(const QString& service, const QString& account, const QByteArray& data) override;
    void remove(const QString& service, const QString& account) override;

private:
    std::chrono::milliseconds m_timeLimit;
};
