#pragma once

#include "platform/calendar/EdsCalendarStore.h"
#include "platform/calendar/EdsOccurrenceReader.h"

#include <QString>
#include <libecal/libecal.h>

namespace Eds {

inline constexpr int kMaxOccurrencesPerEvent = EdsCalendarStore::kMaxOccurrencesPerEvent;

// The backend's query for the stored objects a read of [start, end) (UTC seconds) expands:
// every repeating event, and the other events in the range. The backend tests a repeating
// event against a range by expanding it from its first occurrence, at a cost that grows with
// the square of their number, so repeating events are not tested there but expanded here.
QString objectsQuery(qint64 start, qint64 end);

// Hands the reader every occurrence in its window [start, end) of the listed objects (one
// calendar's answer to objectsQuery, ICalComponent*): repeating events expanded, at most
// kMaxOccurrencesPerEvent each, and moved occurrences in place of those they replace. An event
// that cannot be expanded is left out; the others are read.
void expandOccurrences(ECalClient* client, GSList* objects, qint64 start, qint64 end, OccurrenceReader& reader);

} // namespace Eds
