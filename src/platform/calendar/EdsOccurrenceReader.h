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

inline const QString kUtcFormat = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");

// The zone floating times are read in: the user's own.
ICalTimezone* localZone();

// An address as the current user's addresses are kept: lower case, without "mailto:".
QString bareAddress(QString address);

// One calendar's read of a window: turns the occurrences that libecal hands over into records.
class OccurrenceReader
{
public:
    OccurrenceReader(QString calendarId, ECalClient* client, QSet<QString> userAddresses, const QDateTime& start,
        const QDateTime& end)
        : m_calendarId(std::move(calendarId))
        , m_client(client)
        , m_userAddresses(std::move(userAddresses))
        , m_windowStart(start.toSecsSinceEpoch())
        , m_windowEnd(end.toSecsSinceEpoch())
    { }

    // By start: moved occurrences come in their original slot.
    QList<StoreEvent> takeEvents();

    // Occurrences libecal handed over, those outside the window included.
    qsizetype delivered() const { return m_delivered; }

    void add(ICalComponent* wrapper, ICalTime* startWrapper, ICalTime* endWrapper);

private:
    static qint64 seconds(const icaltimetype& time);

    // UTC as UTC, zoned times in their zone, floating times (and all-day dates) in the local
    // zone. The instant comes from libical, which knows the event's own zone definitions.
    QDateTime dateTime(const icaltimetype& time);
    QTimeZone qtZoneOf(icaltimezone* zone);

    // calendar/UID, and for an occurrence of a repeating event also its RECURRENCE-ID in UTC:
    // stable across reads, different per calendar and per occurrence.
    QString eventId(icalcomponent* component) const;

    QString m_calendarId;
    ECalClient* m_client;
    QSet<QString> m_userAddresses;
    qint64 m_windowStart;
    qint64 m_windowEnd;
    QHash<icaltimezone*, QTimeZone> m_zones;
    QList<StoreEvent> m_events;
    qsizetype m_delivered = 0;
};

} // namespace Eds
