#include "platform/InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString serverNameFile(const QString& storeFile)
{
    return storeFile + QStringLiteral(".instance");
}

} // namespace

InstanceLock::InstanceLock(const QString& storeFile)
    : m_storeFile(storeFile)
    , m_lock(storeFile + QStringLiteral(".lock"))
{
    // Held for the whole life of the process: never stale by age, only when its process is
    // gone (QLockFile checks the process id and its program).
    m_lock.setStaleLockTime(0);
}

InstanceLock::~InstanceLock()
{
    if (m_published)
        QFile::remove(serverNameFile(m_storeFile));
}

InstanceLock::Outcome InstanceLock::tryTake()
{
    if (m_lock.isLocked())
        return Outcome::Taken;
    QDir().mkpath(QFileInfo(m_storeFile).absolutePath());
    if (m_lock.tryLock(0))
        return Outcome::Taken;
    return m_lock.error() == QLockFile::LockFailedError ? Outcome::HeldElsewhere : Outcome::Unavailable;
}

QString InstanceLock::errorString() const
{
    switch (m_lock.error()) {
    case QLockFile::NoError:
        return {};
    case QLockFile::LockFailedError:
        return QStringLiteral("held by another process");
    case QLockFile::PermissionError:
        return QStringLiteral("no permission to create %1").arg(m_lock.fileName());
    case QLockFile::UnknownError:
        break;
    }
    return QStringLiteral("cannot create %1").arg(m_lock.fileName());
}

void InstanceLock::publish(const QString& serverName)
{
    QSaveFile file(serverNameFile(m_storeFile));
    const QByteArray bytes = serverName.toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush()) {
        m_published = file.commit();
        return;
    }
    file.cancelWriting();
}

QString InstanceLock::publishedServerName() const
{
    QFile file(serverNameFile(m_storeFile));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // A socket path; anything longer is not one of ours.
    return QString::fromUtf8(file.read(4096));
}
