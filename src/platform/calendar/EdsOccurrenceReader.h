#pragma once

#include "platform/calendar/CalendarStore.h"

#include <QHash>
#include <QSet>
#include <QTimeZone>
#include <libecal/libecal.h>

namespace Eds {

inline QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QString();
}

// The library's object for a libical-glib wrapper. Occurrences are read through libical itself:
// each getter of the wrapper makes a GObject, which made up most of a big week's read.
template <typename Native> Native* nativeOf(gpointer wrapper)
{
    return static_cast<Native*>(i_cal_object_get_native(I_CAL_OBJECT(wrapper)));
}

inline const QString kUtcFormat = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");

// The zone floating times are read in: the user's own.
ICalTimezone* localZone();

// An address as the current user's addresses are kept: lower case, without "mailto:".
QString bareAddress(QString address);

// The zone a TZID names for the calendar: its own definitions, the library's built-in zones,
// or a Windows zone name's usual location; nothing when none fits.
ICalTimezone* zoneForTzid(ECalClient* client, const char* tzid);

// One calendar's read of a window: turns the occurrences that libecal hands over into records.
class OccurrenceReader
{
public:
    OccurrenceReader(QString calendarId, QSet<QString> userAddresses, const QDateTime& start, const QDateTime& end)
        : m_calendarId(std::move(calendarId))
        , m_userAddresses(std::move(userAddresses))
        , m_windowStart(start.toSecsSinceEpoch())
        , m_windowEnd(end.toSecsSinceEpoch())
    { }

    // By start: moved occurrences come in their original slot.
    QList<StoreEvent> takeEvents();

    // One occurrence of the component from start to end; occurrence tells the occurrences of
    // a repeating event apart (the UTC time or the day of the slot it fills), empty for an
    // event that does not repeat. Occurrences outside the window are left out.
    void add(icalcomponent* component, const icaltimetype& start, const icaltimetype& end, const QString& occurrence);

private:
    static qint64 seconds(const icaltimetype& time);

    // UTC as UTC, zoned times in their zone, floating times (and all-day dates) in the local
    // zone. The instant comes from libical, which knows the event's own zone definitions.
    QDateTime dateTime(const icaltimetype& time);
    QTimeZone qtZoneOf(icaltimezone* zone);

    // calendar/UID, and for an occurrence of a repeating event also its slot: stable across
    // reads, different per calendar and per occurrence.
    QString eventId(icalcomponent* component, const QString& occurrence) const;

    QString m_calendarId;
    QSet<QString> m_userAddresses;
    qint64 m_windowStart;
    qint64 m_windowEnd;
    QHash<icaltimezone*, QTimeZone> m_zones;
    QList<StoreEvent> m_events;
};

} // namespace Eds
