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

} // namespace

ArchiveWriter::ArchiveWriter(QString root)
    : m_root(QDir::cleanPath(std::move(root)))
{ }

QString ArchiveWriter::indexFilePath() const
{
    return m_root + u'/' + kIndexFileName;
}

std::optional<QString> ArchiveWriter::archive(const MeetingSnapshot& snapshot) const
{
    if (auto refused = unsafeWriteTarget(kIndexFileName))
        return refused;
    ArchiveIndex index = ArchiveIndex::load(indexFilePath());
    const QString id = ArchiveMarkdown::idString(snapshot.id);
    const std::optional<ArchiveIndexEntry> previous = index.entry(id);
    if (auto error = archiveInto(snapshot, index))
        return error;
    const QString path = index.entry(id)->path;
    const bool renamed = previous && previous->path != path;
    if (auto error = index.save(indexFilePath())) {
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

int ArchiveWriter::backfill(const QList<MeetingSnapshot>& snapshots) const
{
    if (unsafeWriteTarget(kIndexFileName))
        return 0;
    ArchiveIndex index = ArchiveIndex::load(indexFilePath());
    QSet<QString> known;
    for (auto it = index.entries().begin(); it != index.entries().end(); ++it)
        known.insert(it.key());

    int written = 0;
    int unsaved = 0;
    for (const auto& snapshot : snapshots) {
        if (known.contains(ArchiveMarkdown::idString(snapshot.id)))
            continue;
        if (archiveInto(snapshot, index))
            continue;
        ++written;
        if (++unsaved == kBackfillSaveInterval) {
            saveIndex(index);
            unsaved = 0;
        }
    }
    if (unsaved > 0)
        saveIndex(index);
    return written;
}

std::optional<QString> ArchiveWriter::remove(const QUuid& meetingId) const
{
    if (auto refused = unsafeWriteTarget(kIndexFileName))
        return refused;
    ArchiveIndex index = ArchiveIndex::load(indexFilePath());
    const QString id = ArchiveMarkdown::idString(meetingId);
    const auto entry = index.take(id);
    if (!entry)
        return std::nullopt;
    // The file goes first: an entry left over for a missing file is dropped by the next
    // removal or prune, while a file left over without its entry would never be found again.
    deleteFile(entry->path, index, id);
    if (auto error = index.save(indexFilePath()))
        return QStringLiteral("Could not write %1").arg(*error);
    return std::nullopt;
}

QSet<QUuid> ArchiveWriter::indexedIds() const
{
    const ArchiveIndex index = ArchiveIndex::load(indexFilePath());
    QSet<QUuid> ids;
    ids.reserve(index.size());
    for (auto it = index.entries().begin(); it != index.entries().end(); ++it) {
        const QUuid id = QUuid::fromString(it.key());
        if (!id.isNull())
            ids.insert(id);
    }
    return ids;
}

int ArchiveWriter::prune(const QSet<QUuid>& storedIds) const
{
    if (storedIds.isEmpty() || unsafeWriteTarget(kIndexFileName))
        return 0;
    ArchiveIndex index = ArchiveIndex::load(indexFilePath());
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
        saveIndex(index);
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

std::optional<QString> ArchiveWriter::archiveInto(const MeetingSnapshot& snapshot, ArchiveIndex& index) const
{
    const QString year = ArchiveMarkdown::yearFolder(snapshot.date);
    const QString id = ArchiveMarkdown::idString(snapshot.id);
    QString relativePath = year + u'/' + ArchiveMarkdown::fileName(snapshot);
    // Two meetings in the same minute with the same title would otherwise share one file.
    if (index.pathTakenByOther(relativePath, id))
        relativePath = withIdSuffix(relativePath, snapshot.id);
    if (auto refused = unsafeWriteTarget(relativePath))
        return refused;

    const QString yearPath = m_root + u'/' + year;
    if (!QDir().mkpath(yearPath))
        return QStringLiteral("Could not create the folder %1").arg(yearPath);

    const QString filePath = m_root + u'/' + relativePath;
    if (const auto error = replaceFileContents(filePath, ArchiveMarkdown::markdown(snapshot)))
        return QStringLiteral("Could not write %1").arg(*error);

    ArchiveIndexEntry entry;
    entry.title = snapshot.title;
    entry.date = snapshot.date;
    entry.durationMinutes = ArchiveMarkdown::wholeMinutes(snapshot.duration);
    entry.path = relativePath;
    entry.hasSummary = snapshot.summary && !snapshot.summary->isEmpty();
    index.put(id, entry);
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

bool ArchiveWriter::saveIndex(const ArchiveIndex& index) const
{
    const auto error = index.save(indexFilePath());
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
