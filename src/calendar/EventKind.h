#pragma once

#include <QString>

// What an upcoming event is to Quillet. Skipped events are not meetings and are listed apart.
enum class EventKind {
    Meeting,
    OneOnOne, // no call link, exactly two participants
    Webinar, // a call link and five or more participants
    Session, // a class: alone, in a calendar the user always records
    Skip,
};

// "Meeting", "1:1", "Webinar", "Class", and "" for Skip.
QString rawValue(EventKind kind);
