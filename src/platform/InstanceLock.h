#pragma once

#include <QString>
#include <QtGlobal>

// One process at a time on a store: an advisory lock (flock) on the store file itself, held for
// the life of the process, so that a second start never writes the store and the archive beside
// the first. The lock belongs to the file, not to a path: a start that reaches the same file
// through a linked folder or a hard link meets it, and no file beside the store can be deleted
// to let a second writer in. SQLite's own locks are POSIX record locks, which the kernel keeps
// apart from flock, so neither disturbs the other. The kernel lets go of the lock when the
// process ends, however it ends, so there is no stale lock to judge.
//
// Beside the store's real path a small file tells later starts where the holder listens: a
// later start hands over there even when its runtime folder differs (started from a terminal
// without XDG_RUNTIME_DIR, say), since both agree on the store. Whatever a process that is gone
// left in it never blocks a start; the file itself stays.
class InstanceLock final
{
    Q_DISABLE_COPY_MOVE(InstanceLock)

public:
    enum class Outcome {
        Taken, // this process holds it
        HeldElsewhere, // a running process holds it
        Unavailable, // the store or the file beside it cannot be made or locked there (see errorString())
    };

    explicit InstanceLock(const QString& storeFile);
    // Releases the lock.
    ~InstanceLock();

    // Makes the store's folder first, as opening the store would, and the store file itself as
    // an empty file (which opens as a new store) when there is none.
    Outcome tryTake();
    // Why the lock could not be taken, in words for the user ("no permission to create …").
    QString errorString() const { return m_error; }
    // The file beside the store's real path that holds the holder's socket name.
    QString fileName() const { return m_fileName; }
    // The store file's identity (its device and inode), the same through every path that
    // reaches it; empty until tryTake() has opened the file.
    QString storeKey() const { return m_storeKey; }
    // Lets go of the lock early: for a process that will not use the store after all, so that
    // a later start is not kept waiting for it.
    void release();

    // The holder's socket, for later starts; empty when none has been published.
    void publish(const QString& serverName);
    QString publishedServerName() const;

private:
    void closeFiles();

    const QString m_storeFile;
    QString m_fileName;
    QString m_storeKey;
    int m_storeFd = -1;
    int m_nameFd = -1;
    bool m_held = false;
    QString m_error;
};
