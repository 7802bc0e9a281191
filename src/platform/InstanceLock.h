#pragma once

#include <QString>
#include <QtGlobal>

// One process at a time on a store: an advisory lock (flock) on a file beside the store file,
// held for the life of the process, so that a second start never writes the store and the
// archive beside the first. The kernel lets go of it when the process ends, however it ends,
// so there is no stale lock to judge: whatever a dead process left in the file never blocks a
// start. The file itself stays. The holder also writes into it the name of the socket it
// listens on: a later start hands over there even when its runtime folder differs (started
// from a terminal without XDG_RUNTIME_DIR, say), since both agree on the store.
class InstanceLock final
{
    Q_DISABLE_COPY_MOVE(InstanceLock)

public:
    enum class Outcome {
        Taken, // this process holds it
        HeldElsewhere, // a running process holds it
        Unavailable, // the lock file cannot be made or locked there (see errorString())
    };

    explicit InstanceLock(const QString& storeFile);
    // Releases the lock.
    ~InstanceLock();

    // Makes the store's folder first, as opening the store would.
    Outcome tryTake();
    // Why the lock could not be taken, in words for the user ("no permission to create …").
    QString errorString() const { return m_error; }
    QString fileName() const { return m_fileName; }
    // Lets go of the lock early: for a process that will not use the store after all, so that
    // a later start is not kept waiting for it.
    void release();

    // The holder's socket, for later starts; empty when none has been published.
    void publish(const QString& serverName);
    QString publishedServerName() const;

private:
    const QString m_storeFile;
    const QString m_fileName;
    int m_fd = -1;
    QString m_error;
};
