#include "storage/StoreCheckpointer.h"

#include "platform/Log.h"
#include "storage/StoreDatabase.h"

#include <QAtomicInteger>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <sqlite3.h>
#include <utility>

namespace {

QAtomicInteger<quint64> checkpointerCounter;

} // namespace

StoreCheckpointer::StoreCheckpointer(const QString& filePath, sqlite3* mainConnection)
    : m_filePath(filePath)
    , m_mainConnection(mainConnection)
{
    m_thread = std::thread([this] { run(); });
    sqlite3_wal_hook(m_mainConnection, &StoreCheckpointer::committed, this);
}

StoreCheckpointer::~StoreCheckpointer()
{
    sqlite3_wal_hook(m_mainConnection, nullptr, nullptr);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

// On the committing thread, inside its commit: only hands the length over.
int StoreCheckpointer::committed(void* checkpointer, sqlite3*, const char*, int pages)
{
    auto* self = static_cast<StoreCheckpointer*>(checkpointer);
    {
        std::lock_guard lock(self->m_mutex);
        self->m_pages = pages;
    }
    if (pages >= kPages)
        self->m_wake.notify_one();
    return SQLITE_OK;
}

void StoreCheckpointer::run()
{
    const QString name = QStringLiteral("quillet-checkpoint-%1").arg(checkpointerCounter.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db;
        bool failed = false;
        bool added = false;
        int pages = 0;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || m_pages >= kPages; });
                if (m_stopping)
                    break;
                pages = std::exchange(m_pages, 0); // the next commit tells the length again
            }
            if (!db.isValid()) {
                added = true;
                db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                db.setDatabaseName(m_filePath);
                // A restart waits this long for a reader still on the log (the search's copy at
                // launch) and then gives up, since commits wait while it does.
                db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=250"));
            }
            // A log that only grows is one whose commits never let a checkpoint finish before
            // the next began, so none could start it over: past the cap, commits wait (on their
            // busy timeout) while this one finishes.
            const QString sql = pages >= kCapPages ? QStringLiteral("PRAGMA wal_checkpoint(RESTART)")
                                                   : QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)");
            QSqlQuery checkpoint(db);
            const bool done = (db.isOpen() || db.open()) && checkpoint.exec(sql);
            if (!done && !failed) {
                const QSqlError error = db.isOpen() ? checkpoint.lastError() : db.lastError();
                Log::line("[Quillet] Store checkpoint failed: %@", StoreDatabase::describe(error));
            }
            failed = !done;
        }
        if (db.isValid())
            db.close();
        if (!added)
            return;
    }
    QSqlDatabase::removeDatabase(name);
}
