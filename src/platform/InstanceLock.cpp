#include "platform/InstanceLock.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

// The room the file keeps for the socket name (a socket path has at most 107 bytes). It is
// written while the file is new and then only overwritten in place, so that a disk that has
// filled up since cannot keep the name out. A name counts only up to its line end: a write
// cut short is no name.
constexpr qsizetype kNameRoom = 512;

QString permissionOr(int error, const QString& what, const QString& path)
{
    const QString cause = QString::fromLocal8Bit(std::strerror(error));
    if (error == EACCES || error == EPERM || error == EROFS)
        return QStringLiteral("no permission to create %1 %2 (%3)").arg(what, path, cause);
    return QStringLiteral("%1 %2 can't be created (%3)").arg(what, path, cause);
}

} // namespace

InstanceLock::InstanceLock(const QString& storeFile)
    : m_storeFile(storeFile)
    , m_fileName(storeFile + QStringLiteral(".lock"))
{ }

InstanceLock::~InstanceLock()
{
    release();
}

InstanceLock::Outcome InstanceLock::tryTake()
{
    if (m_held)
        return Outcome::Taken;
    m_error.clear();
    const QString folder = QFileInfo(m_storeFile).absolutePath();
    std::error_code folderError;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), folderError);
    if (folderError) {
        m_error = permissionOr(folderError.value(), QStringLiteral("the folder"), folder);
        return Outcome::Unavailable;
    }

    // Read-only and without blocking: nothing here may change the store, and a store path that
    // names something odd (a FIFO) must not hang the start; SQLite says what is wrong with it.
    const QByteArray storePath = QFile::encodeName(m_storeFile);
    constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    m_storeFd = ::open(storePath.constData(), kReadFlags);
    int storeError = errno;
    const bool missing = m_storeFd < 0 && storeError == ENOENT;
    if (missing) {
        m_storeFd = ::open(storePath.constData(), kReadFlags | O_CREAT, 0600);
        storeError = errno;
    }
    if (m_storeFd < 0) {
        m_error = missing ? permissionOr(storeError, QStringLiteral("the data file"), m_storeFile)
                          : QStringLiteral("the data file %1 can't be opened (%2)")
                                .arg(m_storeFile, QString::fromLocal8Bit(std::strerror(storeError)));
        return Outcome::Unavailable;
    }
    using FileStatus = struct stat;
    FileStatus identity {};
    if (::fstat(m_storeFd, &identity) != 0) {
        m_error = QStringLiteral("the data file %1 can't be read (%2)")
                      .arg(m_storeFile, QString::fromLocal8Bit(std::strerror(errno)));
        closeFiles();
        return Outcome::Unavailable;
    }
    m_storeKey = QStringLiteral("%1-%2").arg(quint64(identity.st_dev), 0, 16).arg(quint64(identity.st_ino), 0, 16);

    // Beside the real path, so that a start through a linked folder reads the same name.
    const QString realPath = QFileInfo(m_storeFile).canonicalFilePath();
    m_fileName = (realPath.isEmpty() ? m_storeFile : realPath) + QStringLiteral(".lock");
    const QByteArray namePath = QFile::encodeName(m_fileName);
    m_nameFd = ::open(namePath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const int openError = errno;
    // A name file that exists but cannot be written (a file system mounted read-only since)
    // still lets the lock be taken; only the name cannot be published then.
    if (m_nameFd < 0 && (openError == EACCES || openError == EROFS))
        m_nameFd = ::open(namePath.constData(), O_RDONLY | O_CLOEXEC);
    if (m_nameFd < 0) {
        m_error = permissionOr(openError, QStringLiteral("the lock file"), m_fileName);
        closeFiles();
        return Outcome::Unavailable;
    }

    int locked = 0;
    while ((locked = ::flock(m_storeFd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
    if (locked != 0) {
        const int lockError = errno;
        closeFiles();
        if (lockError == EWOULDBLOCK)
            return Outcome::HeldElsewhere;
        m_error = QStringLiteral("the data file %1 can't be locked (%2)")
                      .arg(m_storeFile, QString::fromLocal8Bit(std::strerror(lockError)));
        return Outcome::Unavailable;
    }
    m_held = true;
    // A name a process that is gone left behind would send later starts to nobody, or to
    // another instance listening under the same name.
    const QByteArray room(kNameRoom, '\0');
    if (::pwrite(m_nameFd, room.constData(), size_t(room.size()), 0) != room.size())
        static_cast<void>(::ftruncate(m_nameFd, 0));
    // Where earlier versions published the name.
    QFile::remove(m_storeFile + QStringLiteral(".instance"));
    return Outcome::Taken;
}

void InstanceLock::closeFiles()
{
    // Closing the store's descriptor ends this process's POSIX locks on the file as well, so it
    // is closed only once nothing in the process uses the store any more.
    for (int* fd : { &m_nameFd, &m_storeFd }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_held = false;
}

void InstanceLock::release()
{
    if (!m_held)
        return;
    const QByteArray room(kNameRoom, '\0');
    static_cast<void>(::pwrite(m_nameFd, room.constData(), size_t(room.size()), 0));
    closeFiles();
}

void InstanceLock::publish(const QString& serverName)
{
    const QByteArray line = serverName.toUtf8() + '\n';
    if (!m_held || line.size() > kNameRoom || serverName.contains(u'\n'))
        return;
    static_cast<void>(::pwrite(m_nameFd, line.constData(), size_t(line.size()), 0));
}

QString InstanceLock::publishedServerName() const
{
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(kNameRoom);
    const qsizetype end = bytes.indexOf('\n');
    if (end <= 0)
        return {};
    return QString::fromUtf8(bytes.left(end));
}
