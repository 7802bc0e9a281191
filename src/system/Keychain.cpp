#include "system/Keychain.h"

#include "platform/Log.h"

#include <QStringDecoder>

Keychain::Keychain(SecretStore& store)
    : m_store(store)
{ }

std::optional<QString> Keychain::string(const QString& account) const
{
    const std::optional<QByteArray> data = m_store.read(kService, account);
    if (!data)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(*data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool Keychain::set(const QString& value, const QString& account)
{
    const qint32 status = m_store.write(kService, account, value.toUtf8());
    const bool written = status == SecretStore::Success;
    bool newlyRefused = false;
    {
        std::lock_guard lock(m_mutex);
        if (written) {
            m_refused.remove(account);
        } else {
            newlyRefused = !m_refused.contains(account);
            m_refused.insert(account);
        }
    }
    if (newlyRefused)
        Log::line("[Quillet] Keychain write failed for %@: %d", account, status);
    return written;
}

bool Keychain::remove(const QString& account)
{
    m_store.remove(kService, account);
    return true;
}
