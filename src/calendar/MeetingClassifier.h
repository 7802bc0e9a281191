#pragma once

#include "calendar/EventKind.h"

#include <QString>

struct Classification
{
    EventKind kind = EventKind::Skip;
    // False when the guess rests on the title alone, or the title names a break.
    bool highConfidence = false;

    friend bool operator==(const Classification&, const Classification&) = default;
};

// The one rule that classifies calendar events, whichever calendar they come from.
namespace MeetingClassifier {

// participantCount counts everyone invited, rooms and resources too. alwaysRecord: the event's
// calendar is one the user always records. title: "" when the event has none.
Classification classify(bool hasCallLink, int participantCount, bool alwaysRecord, const QString& title);

} // namespace MeetingClassifier
