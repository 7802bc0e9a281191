#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

class Meeting;

// A plain copy of a meeting as its archive file shows it, safe to hand to another thread.
struct MeetingSnapshot
{
    struct Turn
    {
        QString label;
        double timestamp = 0;
        QString text;
        bool operator==(const Turn&) const = default;
    };
    struct ChatEntry
    {
        QString role;
        QString text;
        bool operator==(const ChatEntry&) const = default;
    };

    QUuid id;
    QString title;
    QDateTime date;
    double duration = 0;
    std::optional<QString> summary;
    QString userNotes;
    QList<Turn> turns;
    QList<ChatEntry> chat;

    MeetingSnapshot() = default;
    // Main thread only: reads the meeting and its segments and chat messages.
    explicit MeetingSnapshot(const Meeting& meeting);

    bool operator==(const MeetingSnapshot&) const = default;
};
