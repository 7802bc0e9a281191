#include "archive/ArchiveWriter.h"

#include "archive/ArchiveFileParser.h"
#include "archive/ArchiveIndex.h"
#include "archive/ArchiveMarkdown.h"
#include "platform/FileReplace.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace {

constexpr int kBackfillSaveInterval = 100;
// Larger files are never the writer's text to compare (the import skips them too).
constexpr qint64 kMaxComparedBytes = 64 * 1024 * 1024;
const QString kIndexFileName = QStringLiteral("index.json");
const QRegularExpression kYearFolder(QStringLiteral("^[0-9]+$"));

// "2026/2026-03-14-0905-x.md" -> "2026/2026-03-14-0905-x-1a2b3c4d.md"
QString withIdSuffix(const QString& relativePath, const QUuid& id)
{
    const QString hex = id.toString(QUuid::Id128).left(ArchiveMarkdown::kIdSuffixBytes - 1).toLower();
    QString path = relativePath;
    path.insert(path.size() - 3, u'-' + hex);
    return path;
}

// Size and times of the file, or nothing when it is missing: a file replaced or edited since
// differs in one of them.
QString fileStamp(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return QStringLiteral("%1/%2/%3/%4/%5")
        .arg(info.size())
        .arg(info.lastModified().toMSecsSinceEpoch())
        .arg(info.metadataChangeTime().toMSecsSinceEpoch())
        .arg(info.birthTime().toMSecsSinceEpoch())
        .arg(info.isDir());
}

// What the index lists of a meeting whose file is at the path.
ArchiveIndexEntry indexEntry(const MeetingSnapshot& snapshot, const QString& path, bool keepsPath)
{
    ArchiveIndexEntry entry;
    entry.title = snapshot.title;
    entry.date = snapshot.date;
    entry.durationMinutes = ArchiveMarkdown::wholeMinutes(snapshot.duration);
    entry.path = path;
    entry.hasSummary = snapshot.summary && !snapshot.summary->isEmpty();
    entry.keepsPath = keepsPath;
    return entry;
}

bool samePath(const QString& a, const QString& b)
{
    const QString normalised = ArchiveIndex::normalisedPath(a);
    return !normalised.isEmpty() && normalised == ArchiveIndex::normalisedPath(b);
}

// True when the index lists the path as the meeting's file, or as the one it replaces.
bool listedFor(const std::optional<ArchiveIndexEntry>& entry, const QString& path)
{
    return entry && (samePath(entry->path, path) || (entry->replaces && samePath(*entry->replaces, path)));
}

QByteArray readAtMost(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > limit)
        return {};
    return file.readAll();
}

} // namespace

ArchiveWriter::ArchiveWriter(QString root)
    : m_root(QDir::cleanPath(std::move(root)))
{ }

QString ArchiveWriter::indexFilePath() const
{
    return m_root + u'/' + kIndexFileName;
}

void ArchiveWriter::step(Step step) const
{
    if (m_stepHook)
        m_stepHook(step);
}

ArchiveIndex& ArchiveWriter::index()
{
    // Read before the file is, so that a change made while it is read is seen next time.
    const QString seen = fileStamp(indexFilePath());
    if (m_index && seen == m_indexSeen)
        return *m_index;
    QString unreadable;
    m_index = ArchiveIndex::load(indexFilePath(), unreadable);
    m_indexSeen = seen;
    bool changed = false;
    if (m_index) {
        m_toldUnreadable.clear();
    } else {
        // Never "no files": an index taken as empty would leave every file it listed behind at
        // the meeting's next rename or removal.
        m_index = rebuiltIndex();
        const bool wasMissing = unreadable.isEmpty();
        if (wasMissing && m_index->size() > 0)
            unreadable = QStringLiteral("%1 was missing").arg(kIndexFileName);
        // Said once for as long as the index stays so: one that cannot be written (a folder)
        // is rebuilt again at each change.
        if (!unreadable.isEmpty() && unreadable != m_toldUnreadable) {
            Log::line("[Quillet] Archive index rebuilt from the folder: %@", unreadable);
            if (m_indexRebuilt)
                m_indexRebuilt(unreadable);
        }
        m_toldUnreadable = unreadable;
        changed = m_index->size() > 0 || !wasMissing;
    }
    changed = settle(*m_index) || changed;
    if (changed && !unsafeWriteTarget(kIndexFileName)) {
        // Kept in memory when it cannot be written (an index that is a folder): the next change
        // that needs the index fails with that reason.
        if (const auto error = m_index->save(indexFilePath()))
            Log::line("[Quillet] Archive failed: could not write %@", *error);
        m_indexSeen = fileStamp(indexFilePath());
    }
    return *m_index;
}

ArchiveIndex ArchiveWriter::rebuiltIndex() const
{
    // A file is listed only where the writer itself would have put it, holding exactly the
    // writer's text: a person's copy, renamed or edited, is never handed back to the writer.
    ArchiveIndex rebuilt;
    const QDir root(m_root);
    for (const QString& year : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name)) {
        if (!kYearFolder.match(year).hasMatch())
            continue;
        const QDir folder(root.filePath(year));
        for (const QString& name :
            folder.entryList({ QStringLiteral("*.md") }, QDir::Files | QDir::NoSymLinks, QDir::Name)) {
            const QString path = year + u'/' + name;
            const QByteArray bytes = readAtMost(folder.filePath(name), kMaxComparedBytes);
            if (!ArchiveFileParser::isWritersText(bytes))
                continue;
            const auto snapshot
                = ArchiveFileParser::writersSnapshot(*ArchiveFileParser::parse(QString::fromUtf8(bytes)));
            const QString id = ArchiveMarkdown::idString(snapshot->id);
            const QString own = ownPath(*snapshot);
            if (rebuilt.contains(id) || rebuilt.pathTakenByOther(path, id)
                || (path != own && path != withIdSuffix(own, snapshot->id)))
                continue;
            rebuilt.put(id, indexEntry(*snapshot, path, false));
        }
    }
    return rebuilt;
}

bool ArchiveWriter::settle(ArchiveIndex& index) const
{
    QList<QPair<QString, ArchiveIndexEntry>> unconfirmed;
    for (auto it = index.entries().begin(); it != index.entries().end(); ++it) {
        if (it.value().replaces)
            unconfirmed.append({ it.key(), it.value() });
    }
    for (auto [id, entry] : std::as_const(unconfirmed)) {
        const QString earlier = *std::exchange(entry.replaces, std::nullopt);
        const QUuid uuid = QUuid::fromString(id);
        const bool written = QFileInfo(m_root + u'/' + ArchiveIndex::normalisedPath(entry.path)).isFile()
            && !notOwnFile(entry.path, uuid, true);
        if (written) {
            index.put(id, entry);
            if (!earlier.isEmpty() && !samePath(earlier, entry.path))
                removeOwnFile(earlier, index, id);
        } else if (!earlier.isEmpty()) {
            // Ended before the new file was written: the meeting's file is still the earlier one.
            entry.path = earlier;
            index.put(id, entry);
        } else {
            index.take(id);
        }
    }
    return !unconfirmed.isEmpty();
}

std::optional<QString> ArchiveWriter::writeIndex()
{
    if (auto error = m_index->save(indexFilePath())) {
        m_index.reset();
        return error;
    }
    m_indexSeen = fileStamp(indexFilePath());
    return std::nullopt;
}

std::optional<QString> ArchiveWriter::target(
    const MeetingSnapshot& snapshot, const ArchiveIndex& index, QString& path, bool& keepsPath) const
{
    const QString id = ArchiveMarkdown::idString(snapshot.id);
    const std::optional<ArchiveIndexEntry> previous = index.entry(id);
    // A file someone else named stays where it is while it is the meeting's own.
    if (previous && previous->keepsPath && !index.pathTakenByOther(previous->path, id)
        && !notOwnFile(previous->path, snapshot.id, true)) {
        path = ArchiveIndex::normalisedPath(previous->path);
        keepsPath = true;
        return std::nullopt;
    }
    keepsPath = false;
    const QString own = ownPath(snapshot);
    std::optional<Refusal> refused;
    // Two meetings in the same minute with the same title would otherwise share one file, and a
    // person's file under the writer's name stays as it is.
    for (const QString& candidate : { own, withIdSuffix(own, snapshot.id) }) {
        if (index.pathTakenByOther(candidate, id))
            continue;
        refused = notOwnFile(candidate, snapshot.id, listedFor(previous, candidate));
        if (!refused) {
            path = candidate;
            return std::nullopt;
        }
        if (refused->unsafe)
            break;
    }
    return refused ? refused->why : QStringLiteral("Refused to write %1: another meeting's file").arg(own);
}

std::optional<QString> ArchiveWriter::archive(const MeetingSnapshot& snapshot)
{
    if (auto refused = unsafeWriteTarget(kIndexFileName))
        return refused;
    ArchiveIndex& index = this->index();
    const QString id = ArchiveMarkdown::idString(snapshot.id);
    const std::optional<ArchiveIndexEntry> previous = index.entry(id);
    QString path;
    bool keepsPath = false;
    if (auto refused = target(snapshot, index, path, keepsPath))
        return refused;
    const QString filePath = m_root + u'/' + path;
    const QString folderPath = QFileInfo(filePath).path();
    if (!QDir().mkpath(folderPath))
        return QStringLiteral("Could not create the folder %1").arg(folderPath);
    ArchiveIndexEntry entry = indexEntry(snapshot, path, keepsPath);

    if (previous && samePath(previous->path, path)) {
        if (const auto error = replaceFileContents(filePath, ArchiveMarkdown::markdown(snapshot)))
            return QStringLiteral("Could not write %1").arg(*error);
        step(Step::fileWritten);
        // An edit inside the file leaves its entry as it was.
        entry.path = previous->path;
        if (entry == previous)
            return std::nullopt;
        index.put(id, entry);
        if (auto error = writeIndex())
            return QStringLiteral("Could not write %1").arg(*error);
        return std::nullopt;
    }

    // A new file: listed before it is written, with the file it replaces, so that a process
    // ended at any step leaves no file of the meeting unlisted. (A first file needs no more:
    // an entry whose file was never written is written by the write the store still owes.)
    const bool earlierIsOwn = previous && !notOwnFile(previous->path, snapshot.id, true);
    if (earlierIsOwn)
        entry.replaces = ArchiveIndex::normalisedPath(previous->path);
    index.put(id, entry);
    if (auto error = writeIndex())
        return QStringLiteral("Could not write %1").arg(*error);
    step(Step::indexWritten);
    if (const auto error = replaceFileContents(filePath, ArchiveMarkdown::markdown(snapshot))) {
        if (previous)
            this->index().put(id, *previous);
        else
            this->index().take(id);
        // Left to the next reader of the index when this fails as well: it finds no new file.
        writeIndex();
        return QStringLiteral("Could not write %1").arg(*error);
    }
    step(Step::fileWritten);
    if (earlierIsOwn) {
        removeOwnFile(previous->path, index, id);
        step(Step::fileRemoved);
    }
    // Written to the index file with its next change; until then a reader finds both done.
    entry.replaces.reset();
    index.put(id, entry);
    return std::nullopt;
}

int ArchiveWriter::backfill(const QList<MeetingSnapshot>& snapshots)
{
    if (unsafeWriteTarget(kIndexFileName))
        return 0;
    int written = 0;
    bool listed = false;
    qsizetype next = 0;
    while (next < snapshots.size()) {
        // Looked up again for each batch: a failed save of the index has it read from the file.
        ArchiveIndex& index = this->index();
        QList<QPair<const MeetingSnapshot*, ArchiveIndexEntry>> batch;
        for (; next < snapshots.size() && batch.size() < kBackfillSaveInterval; ++next) {
            const MeetingSnapshot& snapshot = snapshots.at(next);
            const QString id = ArchiveMarkdown::idString(snapshot.id);
            QString path;
            bool keepsPath = false;
            if (index.contains(id) || target(snapshot, index, path, keepsPath)
                || !QDir().mkpath(QFileInfo(m_root + u'/' + path).path()))
                continue;
            // Marked as not yet written: no write is owed for a meeting the back-fill found
            // missing, so a file never written must not stay listed.
            ArchiveIndexEntry entry = indexEntry(snapshot, path, keepsPath);
            entry.replaces = QString();
            index.put(id, entry);
            batch.append({ &snapshot, entry });
        }
        if (batch.isEmpty())
            break;
        listed = true;
        if (!saveIndex())
            return written;
        step(Step::indexWritten);
        for (auto& [snapshot, entry] : batch) {
            const QString id = ArchiveMarkdown::idString(snapshot->id);
            if (replaceFileContents(m_root + u'/' + entry.path, ArchiveMarkdown::markdown(*snapshot))) {
                index.take(id);
                continue;
            }
            step(Step::fileWritten);
            entry.replaces.reset();
            index.put(id, entry);
            ++written;
        }
    }
    // Clears the marks, and drops the entries of the files that failed.
    if (listed && m_index)
        saveIndex();
    return written;
}

std::optional<QString> ArchiveWriter::remove(const QUuid& meetingId)
{
    if (auto refused = unsafeWriteTarget(kIndexFileName))
        return refused;
    ArchiveIndex& index = this->index();
    const QString id = ArchiveMarkdown::idString(meetingId);
    const auto entry = index.take(id);
    if (!entry)
        return std::nullopt;
    // The file goes first: an entry left over for a missing file is dropped by the next
    // removal or prune, while a file left over without its entry would never be found again.
    removeOwnFile(entry->path, index, id);
    if (entry->replaces && !entry->replaces->isEmpty())
        removeOwnFile(*entry->replaces, index, id);
    step(Step::fileRemoved);
    if (auto error = writeIndex())
        return QStringLiteral("Could not write %1").arg(*error);
    step(Step::indexWritten);
    return std::nullopt;
}

std::optional<QString> ArchiveWriter::adopt(const QList<QPair<MeetingSnapshot, QString>>& files)
{
    if (auto refused = unsafeWriteTarget(kIndexFileName))
        return refused;
    ArchiveIndex& index = this->index();
    bool changed = false;
    for (const auto& [snapshot, given] : files) {
        const QString id = ArchiveMarkdown::idString(snapshot.id);
        const QString path = ArchiveIndex::normalisedPath(given);
        // Only a file of the writer's own text: the one it would write there, absent an edit.
        if (path.isEmpty() || index.pathTakenByOther(path, id) || notOwnFile(path, snapshot.id, false)
            || !QFileInfo(m_root + u'/' + path).isFile())
            continue;
        const QString own = ownPath(snapshot);
        const ArchiveIndexEntry entry
            = indexEntry(snapshot, path, path != own && path != withIdSuffix(own, snapshot.id));
        if (index.entry(id) == entry)
            continue;
        // An entry of the same meeting at another path gives way: the file the import read is
        // the one the meeting's writes and its deletion go to.
        index.put(id, entry);
        changed = true;
    }
    if (!changed)
        return std::nullopt;
    if (auto error = writeIndex())
        return QStringLiteral("Could not write %1").arg(*error);
    return std::nullopt;
}

QSet<QUuid> ArchiveWriter::indexedIds()
{
    const ArchiveIndex& index = this->index();
    QSet<QUuid> ids;
    ids.reserve(index.size());
    for (auto it = index.entries().begin(); it != index.entries().end(); ++it) {
        const QUuid id = QUuid::fromString(it.key());
        if (!id.isNull())
            ids.insert(id);
    }
    return ids;
}

int ArchiveWriter::prune(const QSet<QUuid>& storedIds)
{
    if (storedIds.isEmpty() || unsafeWriteTarget(kIndexFileName))
        return 0;
    ArchiveIndex& index = this->index();
    QStringList gone;
    for (auto it = index.entries().begin(); it != index.entries().end(); ++it) {
        if (!storedIds.contains(QUuid::fromString(it.key())))
            gone.append(it.key());
    }
    for (const QString& id : std::as_const(gone)) {
        const auto entry = index.take(id);
        removeOwnFile(entry->path, index, id);
        if (entry->replaces && !entry->replaces->isEmpty())
            removeOwnFile(*entry->replaces, index, id);
    }
    if (!gone.isEmpty())
        saveIndex();
    return int(gone.size());
}

void ArchiveWriter::start()
{
    // QSaveFile's temporary file is "<name>.XXXXXX" (six letters) beside the file, renamed
    // over it at commit. Only names that our own files would give are taken: the index's, and
    // those of markdown files (named from their date) in year folders.
    static const QRegularExpression indexTemporary(QStringLiteral("^index\\.json\\.[A-Za-z]{6}$"));
    static const QRegularExpression markdownTemporary(QStringLiteral("^[0-9].*\\.md\\.[A-Za-z]{6}$"));
    if (unsafeWriteTarget(kIndexFileName))
        return;
    const auto removeMatching = [](const QString& folder, const QRegularExpression& pattern) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
            if (pattern.match(name).hasMatch())
                QFile::remove(dir.filePath(name));
        }
    };
    removeMatching(m_root, indexTemporary);
    for (const QString& name : QDir(m_root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        if (kYearFolder.match(name).hasMatch())
            removeMatching(m_root + u'/' + name, markdownTemporary);
    }
    index();
}

QString ArchiveWriter::ownPath(const MeetingSnapshot& snapshot) const
{
    return ArchiveMarkdown::yearFolder(snapshot.date) + u'/' + ArchiveMarkdown::fileName(snapshot);
}

std::optional<QString> ArchiveWriter::unsafeWriteTarget(const QString& relativePath) const
{
    // QSaveFile writes the target of a symbolic link, and a linked folder takes the file
    // elsewhere: no link may stand anywhere from the archive folder down to the file.
    QString path = m_root;
    const QStringList parts = relativePath.split(u'/');
    for (qsizetype i = 0; i <= parts.size(); ++i) {
        if (QFileInfo(path).isSymLink())
            return QStringLiteral("Refused to write through the symbolic link %1").arg(path);
        if (i < parts.size())
            path += u'/' + parts.at(i);
    }
    if (!QDir::cleanPath(path).startsWith(m_root + u'/'))
        return QStringLiteral("Refused to write outside the archive folder: %1").arg(path);
    return std::nullopt;
}

std::optional<ArchiveWriter::Refusal> ArchiveWriter::notOwnFile(
    const QString& relativePath, const QUuid& id, bool listed) const
{
    const QString path = ArchiveIndex::normalisedPath(relativePath);
    if (path.isEmpty() || !path.endsWith(QLatin1String(".md")))
        return Refusal { QStringLiteral("Refused to write outside the archive folder: %1").arg(relativePath), true };
    if (auto unsafe = unsafeWriteTarget(path))
        return Refusal { *unsafe, true };
    const QString filePath = m_root + u'/' + path;
    const QFileInfo info(filePath);
    if (!info.exists())
        return std::nullopt;
    const Refusal foreign { QStringLiteral("Refused to write over %1: it is not this meeting's file").arg(filePath) };
    if (!info.isFile() || ArchiveFileParser::idOfFile(filePath) != id)
        return foreign;
    // A file the index does not list for the meeting may be a person's copy of it.
    if (!listed && !ArchiveFileParser::isWritersText(readAtMost(filePath, kMaxComparedBytes)))
        return foreign;
    return std::nullopt;
}

bool ArchiveWriter::saveIndex()
{
    const auto error = writeIndex();
    if (error)
        Log::line("[Quillet] Archive failed: could not write %@", *error);
    return !error;
}

void ArchiveWriter::removeOwnFile(const QString& relativePath, const ArchiveIndex& index, const QString& id) const
{
    // Another meeting still listed at this path owns the file.
    if (index.pathTakenByOther(relativePath, id) || notOwnFile(relativePath, QUuid::fromString(id), true))
        return;
    QFile::remove(m_root + u'/' + ArchiveIndex::normalisedPath(relativePath));
}
