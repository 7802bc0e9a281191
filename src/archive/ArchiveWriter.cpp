#include "archive/ArchiveWriter.h"

#include "platform/FileReplace.h"
#include "platform/Log.h"
#include "archive/ArchiveIndex.h"
#include "archive/ArchiveMarkdown.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace {

constexpr int kBackfillSaveInterval = 100;
const QString kIndexFileName = QStringLiteral("index.json");

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
    return QStringLiteral("%1/%2/%3/%4")
        .arg(info.size())
        .arg(info.lastModified().toMSecsSinceEpoch())
        .arg(info.metadataChangeTime().toMSecsSinceEpoch())
        .arg(info.birthTime().toMSecsSinceEpoch());
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

} // namespace

ArchiveWriter::ArchiveWriter(QString root)
    : m_root(QDir::cleanPath(std::move(root)))
{ }

QString ArchiveWriter::indexFilePath() const
{
    return m_root + u'/' + kIndexFileName;
}

ArchiveIndex& ArchiveWriter::index()
{
    // Read before the file is, so that a change made while it is read is seen next time.
    const QString seen = fileStamp(indexFilePath());
    if (!m_index || seen != m_indexSeen) {
        m_index = ArchiveIndex::load(indexFilePath());
        m_indexSeen = seen;
    }
    return *m_index;
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

std::optional<QString> ArchiveWriter::archive(const MeetingSnapshot& snapshot)
{
    if (auto refused = unsafeWriteTarget(kIndexFileName))
        return refused;
    ArchiveIndex& index = this->index();
    const QString id = ArchiveMarkdown::idString(snapshot.id);
    const std::optional<ArchiveIndexEntry> previous = index.entry(id);
    if (auto error = archiveInto(snapshot, index))
        return error;
    // An edit inside the file leaves its entry as it was.
    if (index.entry(id) == previous)
        return std::nullopt;
    const QString path = index.entry(id)->path;
    const bool renamed = previous && previous->path != path;
    if (auto error = writeIndex()) {
        // The index still lists the old file, if any, which is kept; a file it does not list
        // would stay behind unseen by every later removal.
        if (!previous || renamed)
            QFile::remove(m_root + u'/' + path);
        return QStringLiteral("Could not write %1").arg(*error);
    }
    // Only once the index lists the new file may the one under the old name go: a process
    // ended in between leaves a file the index still lists, never one it has lost.
    if (renamed)
        deleteFile(previous->path, index, id);
    return std::nullopt;
}

int ArchiveWriter::backfill(const QList<MeetingSnapshot>& snapshots)
{
    if (unsafeWriteTarget(kIndexFileName))
        return 0;
    int written = 0;
    int unsaved = 0;
    for (const auto& snapshot : snapshots) {
        // Looked up again for each: a failed save of the index has it read from the file.
        ArchiveIndex& index = this->index();
        if (index.contains(ArchiveMarkdown::idString(snapshot.id)))
            continue;
        if (archiveInto(snapshot, index))
            continue;
        ++written;
        if (++unsaved == kBackfillSaveInterval) {
            saveIndex();
            unsaved = 0;
        }
    }
    if (unsaved > 0)
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
    deleteFile(entry->path, index, id);
    if (auto error = writeIndex())
        return QStringLiteral("Could not write %1").arg(*error);
    return std::nullopt;
}

std::optional<QString> ArchiveWriter::adopt(const QList<QPair<MeetingSnapshot, QString>>& files)
{
    if (auto refused = unsafeWriteTarget(kIndexFileName))
        return refused;
    ArchiveIndex& index = this->index();
    bool changed = false;
    for (const auto& [snapshot, path] : files) {
        const QString id = ArchiveMarkdown::idString(snapshot.id);
        if (!isArchiveMarkdownPath(path) || unsafeWriteTarget(path) || index.pathTakenByOther(path, id))
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
        deleteFile(entry->path, index, id);
    }
    if (!gone.isEmpty())
        saveIndex();
    return int(gone.size());
}

void ArchiveWriter::removeLeftoverTemporaryFiles() const
{
    // QSaveFile's temporary file is "<name>.XXXXXX" (six letters) beside the file, renamed
    // over it at commit. Only names that our own files would give are taken: the index's, and
    // those of markdown files (named from their date) in year folders.
    static const QRegularExpression indexTemporary(QStringLiteral("^index\\.json\\.[A-Za-z]{6}$"));
    static const QRegularExpression yearFolder(QStringLiteral("^[0-9]+$"));
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
        if (yearFolder.match(name).hasMatch())
            removeMatching(m_root + u'/' + name, markdownTemporary);
    }
}

QString ArchiveWriter::ownPath(const MeetingSnapshot& snapshot) const
{
    return ArchiveMarkdown::yearFolder(snapshot.date) + u'/' + ArchiveMarkdown::fileName(snapshot);
}

std::optional<QString> ArchiveWriter::archiveInto(const MeetingSnapshot& snapshot, ArchiveIndex& index) const
{
    const QString id = ArchiveMarkdown::idString(snapshot.id);
    const std::optional<ArchiveIndexEntry> previous = index.entry(id);
    // A file someone else named stays where it is while it is safe to write.
    const bool keepsPath = previous && previous->keepsPath && isArchiveMarkdownPath(previous->path)
        && !index.pathTakenByOther(previous->path, id) && !unsafeWriteTarget(previous->path);
    QString relativePath = keepsPath ? previous->path : ownPath(snapshot);
    // Two meetings in the same minute with the same title would otherwise share one file.
    if (!keepsPath && index.pathTakenByOther(relativePath, id))
        relativePath = withIdSuffix(relativePath, snapshot.id);
    if (auto refused = unsafeWriteTarget(relativePath))
        return refused;

    const QString folderPath = QFileInfo(m_root + u'/' + relativePath).path();
    if (!QDir().mkpath(folderPath))
        return QStringLiteral("Could not create the folder %1").arg(folderPath);

    const QString filePath = m_root + u'/' + relativePath;
    if (const auto error = replaceFileContents(filePath, ArchiveMarkdown::markdown(snapshot)))
        return QStringLiteral("Could not write %1").arg(*error);

    index.put(id, indexEntry(snapshot, relativePath, keepsPath));
    return std::nullopt;
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

bool ArchiveWriter::isArchiveMarkdownPath(const QString& relativePath) const
{
    if (relativePath.isEmpty() || QDir::isAbsolutePath(relativePath) || !relativePath.endsWith(QLatin1String(".md")))
        return false;
    const QString cleaned = QDir::cleanPath(m_root + u'/' + relativePath);
    if (!cleaned.startsWith(m_root + u'/'))
        return false;
    // The lexical check is not enough when a folder inside the archive is a symbolic link.
    const QString canonicalRoot = QFileInfo(m_root).canonicalFilePath();
    const QString canonicalFolder = QFileInfo(QFileInfo(cleaned).path()).canonicalFilePath();
    if (canonicalRoot.isEmpty() || canonicalFolder.isEmpty())
        return false;
    return canonicalFolder == canonicalRoot || canonicalFolder.startsWith(canonicalRoot + u'/');
}

bool ArchiveWriter::saveIndex()
{
    const auto error = writeIndex();
    if (error)
        Log::line("[Quillet] Archive failed: could not write %@", *error);
    return !error;
}

void ArchiveWriter::deleteFile(const QString& relativePath, const ArchiveIndex& index, const QString& id) const
{
    // Another meeting still listed at this path owns the file.
    if (!isArchiveMarkdownPath(relativePath) || index.pathTakenByOther(relativePath, id))
        return;
    QFile::remove(m_root + u'/' + relativePath);
}
