#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

class ArchiveDebouncer;
class Meeting;
class MeetingArchiver;
class ModelContext;

// Keeps the archive in step with the store by following the store's own change signals, so
// that no view or service has to archive what it changed. A change to what a meeting's file
// holds (its title, date, duration, summary, notes, transcript or chat, or the end of its
// recording) becomes a pending write in the debouncer, which every save() hands over at once:
// "save, then archive" wherever the save comes from, while typing, which the store commits at
// every key, writes the file once it pauses. Of a meeting being recorded, what the user writes (its title,
// notes, summary) and its chat are written as they change, its transcript and the rest when the
// recording ends; other changes (scheduled times, the automatic start, a new meeting from the
// calendar) leave its file alone. A meeting's removal reaches the archive through
// ArchiveRemovals, once the store has saved it. Main thread only.
class ArchiveSync final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveSync)

public:
    ArchiveSync(ModelContext& store, MeetingArchiver& archiver, ArchiveDebouncer& debouncer, QObject* parent = nullptr);

    // Hands the archive every finished meeting its index lacks. The index is read on the
    // archive's thread; the snapshots are taken when its answer is back, of the meetings that
    // are finished then.
    void backfill();

private:
    // The part of a meeting's fields that its archive file shows.
    struct FileFields
    {
        QString title;
        std::optional<QString> summary;
        QString userNotes;
        QDateTime date;
        double duration = 0;
        bool isRecording = false;

        explicit FileFields(const Meeting& meeting);
        bool operator==(const FileFields&) const = default;
    };

    void meetingUpdated(Meeting* meeting);
    void contentChanged(Meeting* meeting);

    QPointer<ModelContext> m_store;
    MeetingArchiver& m_archiver;
    ArchiveDebouncer& m_debouncer;
    // As last seen, to tell a change the file shows from one it does not.
    QHash<const Meeting*, FileFields> m_fileFields;
};
