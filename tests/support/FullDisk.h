#pragma once

// A file system of its own, a few hundred KB, that a test fills to the last block: writes on
// it then fail with "No space left on device", as on a full disk, and the rest of the machine
// is untouched. It needs the right to mount (tests run as root in CI); without it isMounted()
// is false and the test skips with skipReason().
//
//   FullDisk disk;
//   if (!disk.isMounted()) QSKIP(qPrintable(disk.skipReason()));
//   ... write files under disk.path() ...
//   QVERIFY(disk.fill());     // now every write fails
//   disk.makeRoom();          // and now they go through again
//
// Given a number of inodes, fill() takes the free ones too, so that no file or folder can be
// made there either.

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

class FullDisk final
{
public:
    static constexpr qint64 kBlock = 4096;

    explicit FullDisk(qint64 bytes = 512 * 1024, qint64 inodes = 0)
    {
        QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
        if (inodes > 0)
            options += ",nr_inodes=" + QByteArray::number(inodes);
        m_inodesLimited = inodes > 0;
        if (::mount("tmpfs", qPrintable(m_dir.path()), "tmpfs", 0, options.constData()) == 0)
            m_mounted = true;
        else
            m_skipReason = QStringLiteral("a small file system could not be mounted to fill (%1); it needs root")
                               .arg(QString::fromLocal8Bit(std::strerror(errno)));
    }

    ~FullDisk()
    {
        // Lazily: a file a failed test left open must not keep it mounted.
        if (m_mounted)
            ::umount2(qPrintable(m_dir.path()), MNT_DETACH);
    }

    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    bool isMounted() const { return m_mounted; }
    QString skipReason() const { return m_skipReason; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // Takes every free block into a filler file. True when the disk ended up full.
    bool fill()
    {
        const int fd = ::open(qPrintable(fillerPath()), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd < 0)
            return false;
        const QByteArray block(kBlock, 'x');
        while (::write(fd, block.constData(), size_t(block.size())) > 0) { }
        const bool full = errno == ENOSPC;
        ::close(fd);
        if (!full || !m_inodesLimited)
            return full;
        for (int i = 0;; ++i) {
            const int empty = ::open(
                qPrintable(m_dir.filePath(QStringLiteral(".inode-%1").arg(i))), O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (empty < 0)
                return errno == ENOSPC;
            ::close(empty);
        }
    }

    // Gives `bytes` (whole blocks) of the filler back; everything when negative.
    void makeRoom(qint64 bytes = -1)
    {
        struct stat info;
        if (::stat(qPrintable(fillerPath()), &info) != 0)
            return;
        const qint64 keep = bytes < 0 ? 0 : std::max<qint64>(0, qint64(info.st_size) - bytes);
        if (::truncate(qPrintable(fillerPath()), off_t(keep)) != 0)
            ::unlink(qPrintable(fillerPath()));
    }

private:
    QString fillerPath() const { return m_dir.filePath(QStringLiteral(".filler")); }

    QTemporaryDir m_dir;
    bool m_mounted = false;
    bool m_inodesLimited = false;
    QString m_skipReason;
};
