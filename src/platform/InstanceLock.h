#pragma once

#include <QLockFile>
#include <QString>

// One process at a time on a store: a lock file beside the store file, held for the life of
// the process, so that a second start never writes the store and the archive beside the
// first. The holder also writes, beside it, the name of the socket it listens on: a later start
// hands over there even when its runtime folder differs (started from a terminal without
// XDG_RUNTIME_DIR, say), since both agree on the store.
class InstanceLock final
{
    Q_DISABLE_COPY_MOVE(InstanceLock)

public:
    enum class Outcome {
        Taken, // this process holds it, also when a process that is gone left it behind
        HeldElsewhere, // a running process holds it
        Unavailable, // no lock file can be made there (see errorString())
    };

    explicit InstanceLock(const QString& storeFile);
    // Releases the lock and forgets the published name.
    ~InstanceLock();

    // Makes the store's folder first, as opening the store would.
    Outcome tryTake();
    QString errorString() const;

    // The holder's socket, for later starts; empty when none has been published.
    void publish(const QString& serverName);
    QString publishedServerName() const;

private:
    const QString m_storeFile;
    QLockFile m_lock;
    bool m_published = false;
};
