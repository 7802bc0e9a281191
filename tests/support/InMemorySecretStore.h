#pragma once

#include "platform/SecretStore.h"

#include <QHash>
#include <QPair>
#include <mutex>

// A SecretStore kept in memory, for tests. setFailure() makes writes fail with a given code;
// writeCount() counts every write asked for, failed ones included.
class InMemorySecretStore final : public SecretStore
{
public:
    std::optional<QByteArray> read(const QString& service, const QString& account) override
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_items.constFind({ service, account });
        if (it == m_items.constEnd())
            return std::nullopt;
        return *it;
    }

    qint32 write(const QString& service, const QString& account, const QByteArray& data) override
    {
        std::lock_guard lock(m_mutex);
        ++m_writes;
        if (m_failure != Success)
            return m_failure;
        m_items.insert({ service, account }, data);
        return Success;
    }

    void remove(const QString& service, const QString& account) override
    {
        std::lock_guard lock(m_mutex);
        m_items.remove({ service, account });
    }

    void setFailure(qint32 status)
    {
        std::lock_guard lock(m_mutex);
        m_failure = status;
    }

    int writeCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_writes;
    }

    int itemCount() const
    {
        std::lock_guard lock(m_mutex);
        return int(m_items.size());
    }

private:
    mutable std::mutex m_mutex;
    QHash<QPair<QString, QString>, QByteArray> m_items;
    qint32 m_failure = Success;
    int m_writes = 0;
};
