#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QString>
#include <optional>

// The record of one meeting in "index.json".
struct ArchiveIndexEntry
{
    QString title;
    QDateTime date;
    qint64 durationMinutes = 0;
    QString path; // relative to the archive folder: "<year>/<file name>"
    bool hasSummary = false;
    // The file was named by someone else (a file the import read under a name of its own):
    // the meeting is written to it whatever its title and date. Stored only when true.
    bool keepsPath = false;
    // Present while the write of the file at `path` is not known to have finished: the index
    // names a file before it is written, so that a process ended at any step leaves nothing
    // unlisted. The value is the meeting's earlier file, to be removed once `path` holds the
    // meeting, or empty. The next reader of the index settles it. Stored only when present.
    std::optional<QString> replaces;

    bool operator==(const ArchiveIndexEntry&) const = default;
};

// "index.json": meeting identifier (upper case) to its entry. Reading is strict: one entry
// that lacks a key or has a value of the wrong type makes the whole file unreadable (the
// optional "keepsPath" apart).
class ArchiveIndex final
{
public:
    // std::nullopt when the text is not a well-formed index.
    static std::optional<ArchiveIndex> decode(const QByteArray& json);
    // std::nullopt when the file is missing (`unreadable` left empty) or cannot be read as an
    // index (`unreadable` says why, in words for the person).
    static std::optional<ArchiveIndex> load(const QString& filePath, QString& unreadable);
    // For tools and tests: a missing or unreadable file gives an empty index.
    static ArchiveIndex load(const QString& filePath)
    {
        QString unreadable;
        return load(filePath, unreadable).value_or(ArchiveIndex {});
    }

    // The path in one spelling ("./2026//a/../x.md" is "2026/x.md"), or empty when it does not
    // name something inside the archive folder.
    static QString normalisedPath(const QString& relativePath);

    // Pretty-printed, member names in ascending order, final line feed.
    QByteArray encode() const;
    // Atomic replace; the failure, when the file could not be written (the old file is kept).
    std::optional<QString> save(const QString& filePath) const;

    bool contains(const QString& id) const { return m_entries.contains(id); }
    std::optional<ArchiveIndexEntry> entry(const QString& id) const;
    // True when some meeting other than `id` is recorded at `path`, in any spelling.
    bool pathTakenByOther(const QString& path, const QString& id) const;
    void put(const QString& id, const ArchiveIndexEntry& entry);
    std::optional<ArchiveIndexEntry> take(const QString& id);
    qsizetype size() const { return m_entries.size(); }
    const QMap<QString, ArchiveIndexEntry>& entries() const { return m_entries; }

private:
    QMap<QString, ArchiveIndexEntry> m_entries;
    QMultiHash<QString, QString> m_idsByPath;
};
