#include "archive/MeetingImporter.h"

#include "archive/ArchiveFileParser.h"
#include "archive/ArchiveIndex.h"
#include "archive/ArchiveMarkdown.h"
#include "archive/MeetingArchiver.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "storage/ChatMessage.h"
#include "storage/ChatRole.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/Speaker.h"
#include "storage/TranscriptSegment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>

namespace MeetingImporter {

namespace {

Speaker speakerForLabel(const QString& label)
{
    if (label == QLatin1String("Speaker A"))
        return Speaker::me();
    if (label == QLatin1String("Speaker B"))
        return Speaker::them();
    return Speaker::fromRawValue(label).value_or(Speaker::other(QString()));
}

// A file's text and the meeting parsed from it each take up to twice the file's size in
// memory: a larger file is passed over rather than let it end the import at every launch.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;
constexpr qint64 kReadChunkBytes = 1024 * 1024;

struct FileText
{
    std::optional<QString> text; // absent: unreadable, not UTF-8 or too large
    bool tooLarge = false;
};

// Decodes while it reads, so that the bytes of the file are never held beside its text.
FileText readUtf8(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (file.size() > kMaxFileBytes)
        return { std::nullopt, true };
    QStringDecoder decoder(QStringConverter::Utf8);
    QString text;
    text.reserve(decoder.requiredSpace(file.size()));
    QByteArray chunk(kReadChunkBytes, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 read = file.read(chunk.data(), chunk.size());
        if (read < 0)
            return {};
        if (read == 0)
            break;
        // The file may have grown since its size was read.
        total += read;
        if (total > kMaxFileBytes)
            return { std::nullopt, true };
        text.append(decoder(QByteArrayView(chunk.constData(), read)));
        if (decoder.hasError())
            return {};
    }
    return { std::move(text) };
}

Meeting* makeMeeting(const ArchiveFileParser::ParsedFile& file, const QDateTime& now)
{
    auto* meeting = new Meeting(file.title, file.date.value_or(now));
    if (file.id)
        meeting->setId(*file.id);
    meeting->setDuration(file.duration);
    meeting->setSource(QStringLiteral("imported"));
    meeting->setSummary(file.summary);
    // The file may be the only copy of what was typed: the archive writes it again from the
    // store at the next edit.
    meeting->setUserNotes(file.notes);
    return meeting;
}

// In the file's order, which the archive keeps by their creation times.
void appendChat(Meeting& meeting, const QList<ArchiveFileParser::ChatEntry>& chat, const QDateTime& now)
{
    for (qsizetype i = 0; i < chat.size(); ++i) {
        const ArchiveFileParser::ChatEntry& entry = chat[i];
        auto* message
            = new ChatMessage(entry.fromUser ? ChatRole::User : ChatRole::Assistant, entry.text, std::nullopt);
        message->setCreatedAt(now.addMSecs(i));
        meeting.appendChatMessage(message);
    }
}

// Of the files that carry one identifier, the one the folder's index lists for it, else the
// newest, else the first in byte order: a file the writer meant to remove (a process ended
// first) or a person's older copy does not win over the meeting's file.
QSet<QString> chosenFiles(const QString& folder, const QStringList& files)
{
    QString unreadable;
    const std::optional<ArchiveIndex> index = ArchiveIndex::load(folder + QStringLiteral("/index.json"), unreadable);
    QHash<QUuid, QString> best;
    QSet<QString> chosen;
    for (const QString& path : files) {
        const std::optional<QUuid> id = ArchiveFileParser::idOfFile(folder + u'/' + path);
        if (!id) {
            chosen.insert(path);
            continue;
        }
        const auto it = best.constFind(*id);
        if (it == best.constEnd()) {
            best.insert(*id, path);
            continue;
        }
        const auto listed = [&](const QString& candidate) {
            const auto entry = index ? index->entry(ArchiveMarkdown::idString(*id)) : std::nullopt;
            return entry && ArchiveIndex::normalisedPath(entry->path) == candidate;
        };
        const auto modified
            = [&](const QString& candidate) { return QFileInfo(folder + u'/' + candidate).lastModified(); };
        if (!listed(*it) && (listed(path) || modified(path) > modified(*it)))
            best.insert(*id, path);
    }
    for (const QString& path : std::as_const(best))
        chosen.insert(path);
    return chosen;
}

} // namespace

QString archiveFolder()
{
    return QDir::homePath() + QStringLiteral("/QuilletNotes");
}

QStringList markdownFiles(const QString& folder)
{
    QStringList files;
    const QDir root(folder);
    if (!root.exists())
        return files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        // The extension is exactly "md": "Notes.MD" is not taken, nor a file named just ".md".
        if (name.size() > 3 && name.endsWith(QLatin1String(".md")) && it.fileInfo().isFile())
            files.append(root.relativeFilePath(it.filePath()));
    }
    // Byte order of the UTF-8 paths, so that which of two files with one identifier wins does
    // not depend on the order in which the file system lists them.
    std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) { return a.toUtf8() < b.toUtf8(); });
    return files;
}

void runIfNeeded(ModelContext& context)
{
    runIfNeeded(context, Clock::system());
}

void runIfNeeded(ModelContext& context, const Clock& clock)
{
    runIfNeeded(context, clock, archiveFolder());
}

void runIfNeeded(ModelContext& context, const Clock& clock, const QString& folder, MeetingArchiver* folderArchive)
{
    // A store the user emptied stays empty: the archive would bring back what was deleted.
    if (context.meetingCount() > 0 || context.hasDeletedMeetings())
        return;
    const QStringList files = markdownFiles(folder);
    if (files.isEmpty())
        return;

    const QDateTime now = clock.now();
    const QSet<QString> chosen = chosenFiles(folder, files);
    QSet<QUuid> seenIds;
    MeetingArchiver::ImportedFiles origins;
    int imported = 0;
    for (const QString& relativePath : files) {
        if (!chosen.contains(relativePath)) {
            Log::line("[Quillet] Skipped archive file with duplicate id: %@", relativePath);
            continue;
        }
        const FileText contents = readUtf8(folder + u'/' + relativePath);
        if (contents.tooLarge)
            Log::line("[Quillet] Skipped archive file over 64 MB: %@", relativePath);
        if (!contents.text)
            continue;
        const auto file = ArchiveFileParser::parse(*contents.text);
        if (!file)
            continue;
        if (file->id) {
            if (seenIds.contains(*file->id)) {
                Log::line("[Quillet] Skipped archive file with duplicate id: %@", relativePath);
                continue;
            }
            seenIds.insert(*file->id);
        }

        Meeting* meeting = makeMeeting(*file, now);
        context.insert(meeting);
        // Only a file that is exactly the writer's text goes on being written in place: any
        // other (edited by hand, another application's note) stays as it is, and the meeting
        // gets a file of its own beside it. Before its transcript and chat: the index needs
        // only what its entry shows.
        if (folderArchive && ArchiveFileParser::isWritersText(contents.text->toUtf8()))
            origins.append({ MeetingArchiver::Snapshot(*meeting), relativePath });
        for (const auto& turn : file->turns)
            meeting->appendSegment(new TranscriptSegment(turn.text, speakerForLabel(turn.label), turn.timestamp));
        appendChat(*meeting, file->chat, now);
        ++imported;
    }

    if (imported == 0)
        return;
    if (folderArchive)
        folderArchive->adopt(origins);
    context.save();
    Log::line("[Quillet] Recovered %d meeting(s) from QuilletNotes archive", imported);
}

} // namespace MeetingImporter
