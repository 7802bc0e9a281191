#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class Meeting;

// One date section of a meeting list: "Today", "Yesterday", "This Week" or "Earlier", with its
// meetings in the order they were given. The title is also the group's identity.
struct MeetingDateGroup
{
    QString title;
    QList<Meeting*> meetings;

    friend bool operator==(const MeetingDateGroup&, const MeetingDateGroup&) = default;
};

// Buckets meetings by their date as seen from now in the user's time zone: today and
// yesterday are calendar days; "This Week" is anything later than now moved back seven
// calendar days at the same clock time (and anything after today); the rest is "Earlier".
// Groups come in that fixed order, empty ones left out, each keeping the input's order.
QList<MeetingDateGroup> groupMeetingsByDate(const QList<Meeting*>& meetings, const QDateTime& now);
