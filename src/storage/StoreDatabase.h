#pragma once

#include "format/Result.h"
#include "storage/StoreCheckpointer.h"
#include "storage/StoreError.h"
#include "storage/StoredText.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

// The store file's SQLite connection: pragmas, schema steps and cached prepared statements.
// Belongs to the thread that opened it (the main thread); its checkpoints run on a thread of
// their own (StoreCheckpointer).
class StoreDatabase final
{
    Q_DISABLE_COPY_MOVE(StoreDatabase)

public:
    static Result<std::unique_ptr<StoreDatabase>, StoreError> open(const QString& filePath);
    ~StoreDatabase();

    QString filePath() const { return m_filePath; }
    QSqlDatabase& connection() { return m_db; }

    // A statement prepared once per connection and reused; bind and exec it.
    QSqlQuery& statement(const QString& sql);
    // Binds a row's values in order, each text as its UTF-8 bytes, for a statement that casts
    // them (StoreRows::Column).
    void bind(QSqlQuery& query, const QVariantList& values) const;
    // The text of a column selected as its bytes (StoreRows::selectSql); NULL stays NULL.
    QVariant textOf(const QVariant& bytes) const;

    static QString describe(const QSqlError& error);

    // The number of schema steps this build knows; PRAGMA user_version holds the last applied.
    static int schemaVersion();

    // What a read of the searchable texts hands over, row by row, keyed by the meeting's row key.
    struct TextReader
    {
        std::function<void(qint64 meeting, const QString& title, const QString& userNotes)> meeting;
        // Every meeting's segments come together, one meeting after the other.
        std::function<void(qint64 meeting, const QString& text)> segment;
    };
    // Reads every meeting's title and notes, then every segment's text, through a read-only
    // connection of its own, so it may run on any thread while the main one saves; one
    // transaction gives it one view of the file. Stops at the next row once cancelled is set.
    // False when the file could not be read.
    static bool readTexts(const QString& filePath, const TextReader& reader, const std::atomic_bool& cancelled);

private:
    StoreDatabase(const QString& filePath, const QString& connectionName);

    // Fails with the reason when the file at filePath is neither an empty database nor a store
    // this build can read (another program's database, a newer store); looks without writing.
    static Result<void, StoreError> inspect(const QString& filePath);
    // Fails, naming the folder, when the store's folder cannot be made or written, or the
    // file written: SQLite would tell only that it was "unable to open database file".
    static Result<void, StoreError> checkWritable(const QString& filePath);

    Result<void, StoreError> configure();
    Result<void, StoreError> migrate();
    Result<void, StoreError> addMissingColumns();

    QString m_filePath;
    QString m_connectionName;
    QSqlDatabase m_db;
    StoredText::Encoding m_encoding = StoredText::Encoding::Utf8;
    QHash<QString, QSqlQuery> m_statements;
    std::unique_ptr<StoreCheckpointer> m_checkpointer;
};

// Holds one transaction and rolls it back unless it was committed.
class StoreTransaction final
{
    Q_DISABLE_COPY_MOVE(StoreTransaction)

public:
    explicit StoreTransaction(QSqlDatabase& db);
    ~StoreTransaction();

    bool isActive() const { return m_active; }
    bool commit();

private:
    QSqlDatabase& m_db;
    bool m_active = false;
};
