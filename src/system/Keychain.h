#pragma once

#include "platform/SecretStore.h"

#include <QSet>
#include <QString>
#include <mutex>
#include <optional>

// The system's few secrets (session token, own provider key, OAuth key and e-mail, Google
// refresh tokens), one UTF-8 string per account name under the service "com.orvane.quillet".
// Every call goes to the store; the keychain remembers only which accounts' last write failed.
// Safe from any thread.
class Keychain final
{
public:
    static inline const QString kService = QStringLiteral("com.orvane.quillet");

    explicit Keychain(SecretStore& store);

    // The stored string; nothing when absent, unreachable or not valid UTF-8.
    std::optional<QString> string(const QString& account) const;

    // Stores the value; false when the store refuses it. A refusal is logged once, not again
    // for each write that follows it (a key typed into a field is written at every keystroke)
    // until a write of that account succeeds.
    bool set(const QString& value, const QString& account);

    // Removes the item; absent items and failures are silent. Returns true when the store
    // was asked (callers may ignore it).
    bool remove(const QString& account);

private:
    SecretStore& m_store;
    std::mutex m_mutex;
    QSet<QString> m_refused; // accounts whose last write failed
};
