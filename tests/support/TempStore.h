#pragma once

// A model context on a fresh store file in its own temporary folder, for tests that need real
// records. reopen() closes the context and opens the same file again, which shows what was
// really saved; rowCount() reads the file through a separate connection.

#include "storage/ModelContext.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>
#include <memory>

class TempStore final
{
public:
    TempStore() { open(); }

    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    ModelContext& context() { return *m_context; }
    ModelContext* operator->() { return m_context.get(); }
    QString filePath() const { return m_dir.filePath(QStringLiteral("Quillet.store")); }
    QString folderPath() const { return m_dir.path(); }

    // Drops the context (and every record object of it) and opens the file again.
    ModelContext& reopen()
    {
        m_context.reset();
        open();
        return *m_context;
    }

    // Rows of one table ("Meeting", "TranscriptSegment", "Folder", "ChatMessage") in the file;
    // -1 when the file cannot be read.
    qint64 rowCount(const QString& table) const
    {
        const QString name = QStringLiteral("temp-store-count-") + QUuid::createUuid().toString();
        qint64 count = -1;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(filePath());
            if (db.open()) {
                QSqlQuery query(db);
                if (query.exec(QStringLiteral("SELECT count(*) FROM \"%1\"").arg(table)) && query.next())
                    count = query.value(0).toLongLong();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        return count;
    }

private:
    void open()
    {
        Result<std::unique_ptr<ModelContext>, StoreError> opened = ModelContext::open(filePath());
        if (!opened.ok())
            qFatal("TempStore could not open %s: %s", qPrintable(filePath()), qPrintable(opened.error().message));
        m_context = std::move(opened).value();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ModelContext> m_context;
};

// What a failed open of a store says, for QVERIFY2, which builds its message even when the open
// worked: QVERIFY2(opened.ok(), qPrintable(openFailure(opened))).
inline QString openFailure(const Result<std::unique_ptr<ModelContext>, StoreError>& opened)
{
    return opened.ok() ? QString() : opened.error().message;
}

// The turn of the event loop at which a context that commits each turn writes what changed.
inline void letTheLoopTurn(ModelContext& context)
{
    QCoreApplication::sendPostedEvents(&context, QEvent::MetaCall);
}

inline QString saveFailure(const Result<void, StoreError>& saved)
{
    return saved.ok() ? QString() : saved.error().message;
}
