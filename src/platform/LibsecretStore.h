#pragma once

#include "platform/SecretStore.h"

#include <atomic>
#include <chrono>

// SecretStore over the desktop's Secret Service (libsecret, D-Bus). Items are stored in the
// default collection with the attributes "service" and "account". A service that holds its
// bus name but never answers would block a call for up to a minute, so every call runs on a
// worker thread and is cancelled after the time limit; the caller then sees the store as
// unreachable (read: nothing, write: TimedOut). After a call timed out, further calls fail at
// once for a while, so start-up reading several items waits for one time limit, not for each.
class LibsecretStore final : public SecretStore
{
public:
    static constexpr std::chrono::milliseconds kDefaultTimeLimit { 5000 };
    static constexpr std::chrono::seconds kRestAfterTimeout { 30 };

    explicit LibsecretStore(std::chrono::milliseconds timeLimit = kDefaultTimeLimit);

    std::optional<QByteArray> read(const QString& service, const QString& account) override;
    qint32 write(const QString& service, const QString& account, const QByteArray& data) override;
    void remove(const QString& service, const QString& account) override;

private:
    bool isResting() const;
    void noteTimeout();

    std::chrono::milliseconds m_timeLimit;
    std::atomic<std::chrono::steady_clock::rep> m_restUntil { 0 };
};
