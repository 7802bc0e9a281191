#include "platform/InstanceLock.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
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
    if (m_fd >= 0)
        return Outcome::Taken;
    m_error.clear();
    const QString folder = QFileInfo(m_storeFile).absolutePath();
    std::error_code folderError;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), folderError);
    if (folderError) {
        m_error = permissionOr(folderError.value(), QStringLiteral("the folder"), folder);
        return Outcome::Unavailable;
    }
    const QByteArray path = QFile::encodeName(m_fileName);
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const int openError = errno;
    // A lock file that exists but cannot be written (a file system mounted read-only since)
    // still locks; only the name cannot be published then.
    if (fd < 0 && (openError == EACCES || openError == EROFS))
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_error = permissionOr(openError, QStringLiteral("the lock file"), m_fileName);
        return Outcome::Unavailable;
    }
    int locked = 0;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
    if (locked != 0) {
        const int lockError = errno;
        ::close(fd);
        if (lockError == EWOULDBLOCK)
            return Outcome::HeldElsewhere;
        m_error = QStringLiteral("the lock file %1 can't be locked (%2)")
                      .arg(m_fileName, QString::fromLocal8Bit(std::strerror(lockError)));
        return Outcome::Unavailable;
    }
    m_fd = fd;
    // A name a process that is gone left behind would send later starts to nobody, or to
    // another instance listening under the same name.
    const QByteArray room(kNameRoom, '\0');
    if (::pwrite(m_fd, room.constData(), size_t(room.size()), 0) != room.size())
        static_cast<void>(::ftruncate(m_fd, 0));
    // Where earlier versions published the name.
    QFile::remove(m_storeFile + QStringLiteral(".instance"));
    return Outcome::Taken;
}

void InstanceLock::release()
{
    if (m_fd < 0)
        return;
    const QByteArray room(kNameRoom, '\0');
    static_cast<void>(::pwrite(m_fd, room.constData(), size_t(room.size()), 0));
    ::close(m_fd);
    m_fd = -1;
}

void InstanceLock::publish(const QString& serverName)
{
    const QByteArray line = serverName.toUtf8() + '\n';
    if (m_fd < 0 || line.size() > kNameRoom || serverName.contains(u'\n'))
        return;
    static_cast<void>(::pwrite(m_fd, line.constData(), size_t(line.size()), 0));
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
