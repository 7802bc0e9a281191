#pragma once

#include "platform/SecretStore.h"

#include <QString>
#include <optional>

// The system's few secrets (session token, own provider key, OAuth key and e-mail, Google
// refresh tokens), one UTF-8 string per account name under the service "com.orvane.quillet".
// No state of its own: every call goes to the store. Safe from any thread.
class Keychain final
{
public:
    static inline const QString kService = QStringLiteral("com.orvane.quillet");

    explicit Keychain(SecretStore& store);

    // The stored string; nothing when absent, unreachable or not valid UTF-8.
    std::optional<QString> string(const QString& account) const;

    // Stores the value; false (and one log line) when the store refuses it.
    bool set(const QString& value, const QString& account);

    // Removes the item; absent items and failures are silent. Returns true when the store
    // was asked (callers may ignore it).
    bool remove(const QString& account);

private:
    SecretStore& m_store;
};
