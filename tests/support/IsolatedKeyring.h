#pragma once

// The desktop's real keyring, kept apart from other test programs by a service name of this
// process's own; every item it wrote is removed when it goes. refuseWrites makes writes fail.

#include "platform/LibsecretStore.h"
#include "system/Keychain.h"

#include <QCoreApplication>
#include <QSet>

class IsolatedKeyring final : public SecretStore
{
public:
    ~IsolatedKeyring() override
    {
        for (const QString& account : std::as_const(m_touched))
            m_real.remove(m_service, account);
    }
    std::optional<QByteArray> read(const QString&, const QString& account) override
    {
        return m_real.read(m_service, account);
    }
    qint32 write(const QString&, const QString& account, const QByteArray& data) override
    {
        m_touched.insert(account);
        return refuseWrites ? qint32(Failed) : m_real.write(m_service, account, data);
    }
    void remove(const QString&, const QString& account) override { m_real.remove(m_service, account); }

    bool refuseWrites = false;

private:
    LibsecretStore m_real;
    const QString m_service
        = Keychain::kService + QStringLiteral(".account-test-%1").arg(QCoreApplication::applicationPid());
    QSet<QString> m_touched;
};
