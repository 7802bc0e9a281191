#include "platform/Log.h"
#include "storage/ModelContext.h"
#include "storage/StoreDatabase.h"
#include "storage/StoreRows.h"

#include <QSqlError>

using namespace StoreRows;

namespace {

// Runs `sql` once per identifier, all in one transaction.
bool runForEach(StoreDatabase& database, const QString& sql, const QSet<QUuid>& ids)
{
    QString error;
    StoreTransaction transaction(database.connection());
    bool ok = transaction.isActive();
    QSqlQuery& statement = database.statement(sql);
    for (auto it = ids.cbegin(); ok && it != ids.cend(); ++it) {
        statement.bindValue(0, fromUuid(*it));
        ok = execute(statement, &error);
    }
    if (ok && transaction.commit())
        return true;
    if (error.isEmpty())
        error = StoreDatabase::describe(database.connection().lastError());
    Log::line("[Quillet] Store save failed: %@", error);
    return false;
}

} // namespace

QSet<QUuid> ModelContext::archiveWritesOwed() const
{
    QSet<QUuid> ids;
    QString error;
    QSqlQuery& owed = m_database->statement(QStringLiteral(R"(SELECT "meetingId" FROM "ArchiveWrite")"));
    if (!execute(owed, &error)) {
        Log::line("[Quillet] Store read failed: %@", error);
        return ids;
    }
    while (owed.next())
        ids.insert(toUuid(owed.value(0)));
    owed.finish();
    return ids;
}

bool ModelContext::recordArchiveWritesOwed(const QSet<QUuid>& ids)
{
    return runForEach(
        *m_database, QStringLiteral(R"(INSERT OR IGNORE INTO "ArchiveWrite" ("meetingId") VALUES (?))"), ids);
}

bool ModelContext::clearArchiveWritesOwed(const QSet<QUuid>& ids)
{
    return runForEach(*m_database, QStringLiteral(R"(DELETE FROM "ArchiveWrite" WHERE "meetingId" = ?)"), ids);
}
