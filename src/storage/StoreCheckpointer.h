#pragma once

#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>

struct sqlite3;

// Moves the store's write-ahead log into the file from a thread and a connection of its own.
// SQLite's automatic checkpoint runs inside the commit that fills the log, on the main thread,
// where a key at the end of long notes (committed at once, so that nothing typed is lost) then
// waits for megabytes to be copied and synced. Here the main connection's automatic checkpoint
// is off; after each of its commits it reports the log's length, and once that passes
// SQLite's own mark the thread runs a passive checkpoint, which never waits for the main
// connection nor makes it wait. The first commit after a complete one starts the log over, and
// cuts its file back to a limit (journal_size_limit).
class StoreCheckpointer final
{
    Q_DISABLE_COPY_MOVE(StoreCheckpointer)

public:
    // The pages in the log at which a checkpoint starts: SQLite's own default.
    static constexpr int kPages = 1000;
    // The pages past which the log is made to start over, the main connection's commits
    // waiting meanwhile: only commits that follow each other without a pause (not typing) fill
    // it faster than checkpoints empty it.
    static constexpr int kCapPages = 8 * kPages;

    // Hooks onto the main connection, whose automatic checkpoint it replaces.
    StoreCheckpointer(const QString& filePath, sqlite3* mainConnection);
    // Unhooks, lets a running checkpoint end and closes the thread's connection, so that the
    // main connection, closed after it, is the last and moves the whole log into the file.
    ~StoreCheckpointer();

private:
    static int committed(void* checkpointer, sqlite3* connection, const char* database, int pages);
    void run();

    QString m_filePath;
    sqlite3* m_mainConnection;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_pages = 0;
    bool m_stopping = false;
    std::thread m_thread;
};
