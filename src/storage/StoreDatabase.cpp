#include "storage/StoreDatabase.h"

#include "platform/Log.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unistd.h>

namespace {

QString describe(const QSqlError& error)
{
    return StoreDatabase::describe(error);
}

using Done = Result<void, StoreError>;

StoreError storeError(const QSqlError& error)
{
    return StoreError { describe(error) };
}

Done run(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery query(db);
    if (query.exec(sql))
        return Done::success();
    return storeError(query.lastError());
}

// A version 4 UUID per row, for records that were stored without an identifier.
const char* const kRandomUuidSql
    = "lower(hex(randomblob(4))) || '-' || lower(hex(randomblob(2))) || '-4' || "
      "substr(lower(hex(randomblob(2))), 2) || '-' || substr('89ab', 1 + abs(random() % 4), 1) || "
      "substr(lower(hex(randomblob(2))), 2) || '-' || lower(hex(randomblob(6)))";

// The first schema: the four record types in the order they are registered. Each field is a
// column under its own name with its default; rowKey is ours and never leaves the store.
// Dates are UTC milliseconds since 1970; attendeeNames is a JSON array.
const char* const kSchemaV1[] = {
    R"(CREATE TABLE "Meeting" (
        "rowKey" INTEGER PRIMARY KEY,
        "id" TEXT NOT NULL DEFAULT (%uuid%),
        "title" TEXT NOT NULL DEFAULT '',
        "summary" TEXT,
        "userNotes" TEXT NOT NULL DEFAULT '',
        "date" INTEGER NOT NULL DEFAULT (%now%),
        "duration" REAL NOT NULL DEFAULT 0,
        "isRecording" INTEGER NOT NULL DEFAULT 0,
        "calendarEventId" TEXT,
        "attendeeNames" TEXT NOT NULL DEFAULT '[]',
        "organizer" TEXT,
        "calendarName" TEXT,
        "scheduledStart" INTEGER,
        "scheduledEnd" INTEGER,
        "source" TEXT NOT NULL DEFAULT 'quick-note',
        "titleIsUserEdited" INTEGER NOT NULL DEFAULT 0,
        "autoStartEnabled" INTEGER NOT NULL DEFAULT 0,
        "autoStartFired" INTEGER NOT NULL DEFAULT 0,
        "linkBannerDismissed" INTEGER NOT NULL DEFAULT 0,
        "folder" INTEGER REFERENCES "Folder"("rowKey") ON DELETE SET NULL
    ))",
    R"(CREATE TABLE "TranscriptSegment" (
        "rowKey" INTEGER PRIMARY KEY,
        "id" TEXT NOT NULL DEFAULT (%uuid%),
        "text" TEXT NOT NULL DEFAULT '',
        "speakerRaw" TEXT NOT NULL DEFAULT 'Me',
        "timestamp" REAL NOT NULL DEFAULT 0,
        "isFinal" INTEGER NOT NULL DEFAULT 0,
        "meeting" INTEGER REFERENCES "Meeting"("rowKey") ON DELETE CASCADE
    ))",
    R"(CREATE TABLE "Folder" (
        "rowKey" INTEGER PRIMARY KEY,
        "id" TEXT NOT NULL DEFAULT (%uuid%),
        "name" TEXT NOT NULL DEFAULT '',
        "icon" TEXT NOT NULL DEFAULT 'folder',
        "detail" TEXT NOT NULL DEFAULT '',
        "createdAt" INTEGER NOT NULL DEFAULT (%now%)
    ))",
    R"(CREATE TABLE "ChatMessage" (
        "rowKey" INTEGER PRIMARY KEY,
        "id" TEXT NOT NULL DEFAULT (%uuid%),
        "roleRaw" TEXT NOT NULL DEFAULT 'user',
        "text" TEXT NOT NULL DEFAULT '',
        "modelId" TEXT,
        "createdAt" INTEGER NOT NULL DEFAULT (%now%),
        "meeting" INTEGER REFERENCES "Meeting"("rowKey") ON DELETE CASCADE
    ))",
    // Not fields: they serve the lazy per-meeting reads and the cascades.
    R"(CREATE INDEX "TranscriptSegment_meeting" ON "TranscriptSegment"("meeting"))",
    R"(CREATE INDEX "ChatMessage_meeting" ON "ChatMessage"("meeting"))",
    R"(CREATE INDEX "Meeting_folder" ON "Meeting"("folder"))",
};

// The tables of the record types, present since the first schema step.
const char* const kRecordTables[] = { "Meeting", "TranscriptSegment", "Folder", "ChatMessage" };
// Every table any schema step this build knows creates.
const char* const kStoreTables[]
    = { "Meeting", "TranscriptSegment", "Folder", "ChatMessage", "ArchiveRemoval", "StoreFlag", "ArchiveWrite" };

using Migration = Done (*)(QSqlDatabase&);

// Column defaults that are expressions: a new random UUID, and the current time.
QString withDefaults(const char* sql)
{
    return QString::fromUtf8(sql)
        .replace(QLatin1String("%uuid%"), QString::fromLatin1(kRandomUuidSql))
        .replace(QLatin1String("%now%"), QLatin1String("CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)"));
}

const std::array<Migration, 3> kMigrations = {
    [](QSqlDatabase& db) {
        for (const char* sql : kSchemaV1) {
            if (Done created = run(db, withDefaults(sql)); !created.ok())
                return created;
        }
        return Done::success();
    },
    // Deleted meetings whose archive file may still exist, written in the transaction that
    // deletes them; and flags of the store's history ("meetingsDeleted").
    [](QSqlDatabase& db) {
        Done created
            = run(db, QStringLiteral(R"(CREATE TABLE "ArchiveRemoval" ("meetingId" TEXT PRIMARY KEY NOT NULL))"));
        if (!created.ok())
            return created;
        return run(db, QStringLiteral(R"(CREATE TABLE "StoreFlag" ("name" TEXT PRIMARY KEY NOT NULL))"));
    },
    // Meetings whose archive file may not show what the store holds: written when a write is
    // handed to the archive, cleared once it is through.
    [](QSqlDatabase& db) {
        return run(db, QStringLiteral(R"(CREATE TABLE "ArchiveWrite" ("meetingId" TEXT PRIMARY KEY NOT NULL))"));
    },
};

// Every field of every record with the column definition it gets when a file lacks it. A
// file from a build that predates a field (or was written by another tool) then reads the
// field's default. Defaults here must be constants; "now" is taken at the moment the
// column is added.
struct FieldColumn
{
    const char* table;
    const char* name;
    const char* definition;
};

const FieldColumn kFieldColumns[] = {
    { "Meeting", "id", "TEXT NOT NULL DEFAULT ''" },
    { "Meeting", "title", "TEXT NOT NULL DEFAULT ''" },
    { "Meeting", "summary", "TEXT" },
    { "Meeting", "userNotes", "TEXT NOT NULL DEFAULT ''" },
    { "Meeting", "date", "INTEGER NOT NULL DEFAULT %now%" },
    { "Meeting", "duration", "REAL NOT NULL DEFAULT 0" },
    { "Meeting", "isRecording", "INTEGER NOT NULL DEFAULT 0" },
    { "Meeting", "calendarEventId", "TEXT" },
    { "Meeting", "attendeeNames", "TEXT NOT NULL DEFAULT '[]'" },
    { "Meeting", "organizer", "TEXT" },
    { "Meeting", "calendarName", "TEXT" },
    { "Meeting", "scheduledStart", "INTEGER" },
    { "Meeting", "scheduledEnd", "INTEGER" },
    { "Meeting", "source", "TEXT NOT NULL DEFAULT 'quick-note'" },
    { "Meeting", "titleIsUserEdited", "INTEGER NOT NULL DEFAULT 0" },
    { "Meeting", "autoStartEnabled", "INTEGER NOT NULL DEFAULT 0" },
    { "Meeting", "autoStartFired", "INTEGER NOT NULL DEFAULT 0" },
    { "Meeting", "linkBannerDismissed", "INTEGER NOT NULL DEFAULT 0" },
    { "Meeting", "folder", "INTEGER REFERENCES \"Folder\"(\"rowKey\") ON DELETE SET NULL" },
    { "TranscriptSegment", "id", "TEXT NOT NULL DEFAULT ''" },
    { "TranscriptSegment", "text", "TEXT NOT NULL DEFAULT ''" },
    { "TranscriptSegment", "speakerRaw", "TEXT NOT NULL DEFAULT 'Me'" },
    { "TranscriptSegment", "timestamp", "REAL NOT NULL DEFAULT 0" },
    { "TranscriptSegment", "isFinal", "INTEGER NOT NULL DEFAULT 0" },
    { "TranscriptSegment", "meeting", "INTEGER REFERENCES \"Meeting\"(\"rowKey\") ON DELETE CASCADE" },
    { "Folder", "id", "TEXT NOT NULL DEFAULT ''" },
    { "Folder", "name", "TEXT NOT NULL DEFAULT ''" },
    { "Folder", "icon", "TEXT NOT NULL DEFAULT 'folder'" },
    { "Folder", "detail", "TEXT NOT NULL DEFAULT ''" },
    { "Folder", "createdAt", "INTEGER NOT NULL DEFAULT %now%" },
    { "ChatMessage", "id", "TEXT NOT NULL DEFAULT ''" },
    { "ChatMessage", "roleRaw", "TEXT NOT NULL DEFAULT 'user'" },
    { "ChatMessage", "text", "TEXT NOT NULL DEFAULT ''" },
    { "ChatMessage", "modelId", "TEXT" },
    { "ChatMessage", "createdAt", "INTEGER NOT NULL DEFAULT %now%" },
    { "ChatMessage", "meeting", "INTEGER REFERENCES \"Meeting\"(\"rowKey\") ON DELETE CASCADE" },
};

QAtomicInteger<quint64> connectionCounter;

} // namespace

StoreDatabase::StoreDatabase(const QString& filePath, const QString& connectionName)
    : m_filePath(filePath)
    , m_connectionName(connectionName)
    , m_db(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName))
{ }

StoreDatabase::~StoreDatabase()
{
    m_checkpointer.reset();
    m_statements.clear();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
}

QString StoreDatabase::describe(const QSqlError& error)
{
    // SQLite's own words ("file is not a database") say more than Qt's ("Unable to fetch row").
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

int StoreDatabase::schemaVersion()
{
    return int(kMigrations.size());
}

Done StoreDatabase::inspect(const QString& filePath)
{
    const QFileInfo info(filePath);
    // A missing or zero-length file becomes a new store; anything that is not a file fails to
    // open below with SQLite's own words.
    if (!info.isFile() || info.size() == 0)
        return Done::success();

    // Read-only, so nothing is written; and immutable while the file has no journal files
    // beside it, since even a read-only look at a WAL database would leave its -wal and -shm.
    const bool hasSideFiles
        = QFileInfo::exists(filePath + QLatin1String("-wal")) || QFileInfo::exists(filePath + QLatin1String("-shm"));
    QString connectOptions = QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000");
    QString databaseName = filePath;
    if (!hasSideFiles) {
        connectOptions += QLatin1String(";QSQLITE_OPEN_URI");
        QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
        url.setQuery(QStringLiteral("immutable=1"));
        databaseName = url.toString(QUrl::FullyEncoded);
    }

    const QString name = QStringLiteral("quillet-store-look-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    std::optional<StoreError> failure;
    QStringList tables;
    bool hasObjects = false;
    int version = 0;
    int applicationId = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(databaseName);
        db.setConnectOptions(connectOptions);
        if (!db.open()) {
            failure = storeError(db.lastError());
        } else {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("SELECT type, name FROM sqlite_schema"))) {
                while (query.next()) {
                    const QString objectName = query.value(1).toString();
                    if (objectName.startsWith(QLatin1String("sqlite_")))
                        continue;
                    hasObjects = true;
                    if (query.value(0).toString() == QLatin1String("table"))
                        tables.append(objectName);
                }
            }
            if (!query.lastError().isValid() && query.exec(QStringLiteral("PRAGMA user_version")) && query.next())
                version = query.value(0).toInt();
            if (!query.lastError().isValid() && query.exec(QStringLiteral("PRAGMA application_id")) && query.next())
                applicationId = query.value(0).toInt();
            if (query.lastError().isValid())
                failure = storeError(query.lastError());
            query.finish();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (failure)
        return *failure;

    if (!hasObjects && version == 0 && applicationId == 0)
        return Done::success();
    // Every schema step this build knows keeps the four record tables, so a file with them,
    // no application id of another program and a version number is one of ours.
    const bool hasRecordTables = std::all_of(std::begin(kRecordTables), std::end(kRecordTables),
        [&tables](const char* table) { return tables.contains(QLatin1String(table)); });
    const bool looksOurs = hasRecordTables && applicationId == 0 && version >= 1;
    if (looksOurs && version > schemaVersion()) {
        return StoreError { QStringLiteral(
            "the file was written by a newer version of Quillet (store version %1; this version reads up to %2)")
                                .arg(version)
                                .arg(schemaVersion()) };
    }
    const bool onlyOurTables = std::all_of(tables.cbegin(), tables.cend(), [](const QString& table) {
        return std::any_of(std::begin(kStoreTables), std::end(kStoreTables),
            [&table](const char* ours) { return table == QLatin1String(ours); });
    });
    if (!looksOurs || !onlyOurTables)
        return StoreError { QStringLiteral("the file is another program's database, not a Quillet store") };
    return Done::success();
}

Result<std::unique_ptr<StoreDatabase>, StoreError> StoreDatabase::open(const QString& filePath)
{
    // Nothing is changed in a file until it is known to be an empty database or a store this
    // build can read: switching the journal mode alone rewrites its header.
    if (Done inspected = inspect(filePath); !inspected.ok())
        return inspected.error();
    if (Done writable = checkWritable(filePath); !writable.ok())
        return writable.error();

    const QString name = QStringLiteral("quillet-store-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    std::unique_ptr<StoreDatabase> database(new StoreDatabase(filePath, name));
    QSqlDatabase& db = database->m_db;
    db.setDatabaseName(filePath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open())
        return storeError(db.lastError());
    Done ready = database->configure();
    if (ready.ok())
        ready = database->migrate();
    if (ready.ok())
        ready = database->addMissingColumns();
    if (!ready.ok())
        return ready.error();
    return database;
}

Done StoreDatabase::checkWritable(const QString& filePath)
{
    // SQLite's words for a folder it cannot write its journal files in, "unable to open
    // database file", name neither the folder nor the cause (a home mounted read-only, say).
    const QString folder = QFileInfo(filePath).absolutePath();
    const QString shownFolder = QDir::toNativeSeparators(folder);
    const QByteArray encodedFolder = QFile::encodeName(folder);
    std::error_code made;
    std::filesystem::create_directories(encodedFolder.toStdString(), made);
    if (made) {
        return StoreError { QStringLiteral("the folder %1 can't be created (%2)")
                                .arg(shownFolder, QString::fromLocal8Bit(std::strerror(made.value()))) };
    }
    const auto cause = [] { return QString::fromLocal8Bit(std::strerror(errno)); };
    if (::access(encodedFolder.constData(), W_OK | X_OK) != 0)
        return StoreError { QStringLiteral("the folder %1 can't be written (%2)").arg(shownFolder, cause()) };
    const QByteArray encodedFile = QFile::encodeName(filePath);
    if (QFileInfo(filePath).isFile() && ::access(encodedFile.constData(), W_OK) != 0)
        return StoreError { QStringLiteral("the file can't be written (%1)").arg(cause()) };
    return Done::success();
}

Done StoreDatabase::configure()
{
    // Read before anything is written: a file that is not a database fails here untouched.
    QSqlQuery probe(m_db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_schema")) || !probe.next())
        return storeError(probe.lastError());
    probe.finish();

    QSqlQuery journal(m_db);
    if (!journal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !journal.next())
        return storeError(journal.lastError());
    const QString mode = journal.value(0).toString();
    journal.finish();
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        Log::line("[Quillet] Store journal mode is %@ instead of WAL", mode);
    } else {
        // The log file is cut back to this (four times the checkpoint's mark at 4 KiB pages)
        // when it starts over, and deleted at the close.
        if (Done limited = run(m_db, QStringLiteral("PRAGMA journal_size_limit=16777216")); !limited.ok())
            return limited;
        const QVariant handle = m_db.driver()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
            if (auto* connection = *static_cast<sqlite3* const*>(handle.constData()))
                m_checkpointer = std::make_unique<StoreCheckpointer>(m_filePath, connection);
        }
    }

    QSqlQuery encoding(m_db);
    if (!encoding.exec(QStringLiteral("PRAGMA encoding")) || !encoding.next())
        return storeError(encoding.lastError());
    const std::optional<StoredText::Encoding> known = StoredText::encodingNamed(encoding.value(0).toString());
    encoding.finish();
    if (!known)
        return StoreError { QStringLiteral("the file's text encoding is not one SQLite names") };
    m_encoding = *known;

    if (Done foreignKeys = run(m_db, QStringLiteral("PRAGMA foreign_keys=ON")); !foreignKeys.ok())
        return foreignKeys;
    return run(m_db, QStringLiteral("PRAGMA synchronous=NORMAL"));
}

Done StoreDatabase::migrate()
{
    QSqlQuery versionQuery(m_db);
    if (!versionQuery.exec(QStringLiteral("PRAGMA user_version")) || !versionQuery.next())
        return storeError(versionQuery.lastError());
    const int applied = versionQuery.value(0).toInt();
    versionQuery.finish();

    for (int step = applied; step < schemaVersion(); ++step) {
        StoreTransaction transaction(m_db);
        if (!transaction.isActive())
            return storeError(m_db.lastError());
        Done stepped = kMigrations[size_t(step)](m_db);
        // PRAGMA takes no bound values; the number is ours.
        if (stepped.ok())
            stepped = run(m_db, QStringLiteral("PRAGMA user_version=%1").arg(step + 1));
        if (!stepped.ok())
            return stepped;
        if (!transaction.commit())
            return storeError(m_db.lastError());
    }
    return Done::success();
}

Done StoreDatabase::addMissingColumns()
{
    QHash<QString, QStringList> existing;
    for (const char* table : kRecordTables) {
        const QSqlRecord record = m_db.record(QString::fromLatin1(table));
        QStringList names;
        for (int i = 0; i < record.count(); ++i)
            names.append(record.fieldName(i));
        existing.insert(QString::fromLatin1(table), names);
    }

    StoreTransaction transaction(m_db);
    bool added = false;
    const QString now = QString::number(QDateTime::currentMSecsSinceEpoch());
    for (const FieldColumn& column : kFieldColumns) {
        const QString table = QString::fromLatin1(column.table);
        const QString name = QString::fromLatin1(column.name);
        if (existing.value(table).contains(name))
            continue;
        if (!transaction.isActive())
            return storeError(m_db.lastError());
        const QString definition = QString::fromLatin1(column.definition).replace(QLatin1String("%now%"), now);
        const QString alter = QStringLiteral(R"(ALTER TABLE "%1" ADD COLUMN "%2" %3)").arg(table, name, definition);
        if (Done altered = run(m_db, alter); !altered.ok())
            return altered;
        if (name == QLatin1String("id")) {
            Done filled = run(
                m_db, QStringLiteral(R"(UPDATE "%1" SET "id" = %2)").arg(table, QString::fromLatin1(kRandomUuidSql)));
            if (!filled.ok())
                return filled;
        }
        added = true;
    }
    if (added && !transaction.commit())
        return storeError(m_db.lastError());
    return Done::success();
}

QSqlQuery& StoreDatabase::statement(const QString& sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        query.prepare(sql);
        it = m_statements.insert(sql, query);
    }
    return it.value();
}

void StoreDatabase::bind(QSqlQuery& query, const QVariantList& values) const
{
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values.at(i);
        // SQLite drops the last byte of a UTF-8 blob of odd length cast to TEXT in a UTF-16
        // file, so a file another tool made in UTF-16 gets its texts as before.
        if (value.typeId() == QMetaType::QString && !value.isNull() && m_encoding == StoredText::Encoding::Utf8)
            query.bindValue(i, StoredText::encode(value.toString()));
        else
            query.bindValue(i, value);
    }
}

QVariant StoreDatabase::textOf(const QVariant& bytes) const
{
    if (bytes.typeId() != QMetaType::QByteArray)
        return bytes;
    return StoredText::decode(bytes.toByteArray(), m_encoding);
}

StoreTransaction::StoreTransaction(QSqlDatabase& db)
    : m_db(db)
    , m_active(db.transaction())
{ }

StoreTransaction::~StoreTransaction()
{
    if (m_active)
        m_db.rollback();
}

bool StoreTransaction::commit()
{
    if (!m_active || !m_db.commit())
        return false;
    m_active = false;
    return true;
}

bool StoreDatabase::readTexts(const QString& filePath, const TextReader& reader, const std::atomic_bool& cancelled)
{
    const QString name = QStringLiteral("texts-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool read = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(filePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open() && db.transaction()) {
            QSqlQuery rows(db);
            rows.setForwardOnly(true);
            read = rows.exec(QStringLiteral("PRAGMA encoding")) && rows.next();
            const std::optional<StoredText::Encoding> encoding
                = read ? StoredText::encodingNamed(rows.value(0).toString()) : std::nullopt;
            read = read && encoding;
            const auto text
                = [&](int column) { return StoredText::decode(rows.value(column).toByteArray(), *encoding); };
            rows.finish();
            read = read
                && rows.exec(QStringLiteral(
                    R"(SELECT "rowKey", CAST("title" AS BLOB), CAST("userNotes" AS BLOB) FROM "Meeting")"));
            while (read && rows.next() && !cancelled.load(std::memory_order_relaxed))
                reader.meeting(rows.value(0).toLongLong(), text(1), text(2));
            rows.finish();
            read = read
                && rows.exec(QStringLiteral(R"(SELECT "meeting", CAST("text" AS BLOB) FROM "TranscriptSegment" )"
                                            R"(WHERE "meeting" IS NOT NULL ORDER BY "meeting")"));
            while (read && rows.next() && !cancelled.load(std::memory_order_relaxed))
                reader.segment(rows.value(0).toLongLong(), text(1));
            rows.finish();
            db.rollback();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return read;
}
