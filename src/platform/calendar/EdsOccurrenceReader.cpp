#include "platform/calendar/EdsOccurrenceReader.h"

#include <QUuid>
#include <algorithm>
#include <optional>

namespace Eds {

namespace {

std::optional<QString> optionalText(const char* value)
{
    return value ? std::optional<QString>(QString::fromUtf8(value)) : std::nullopt;
}

const QLatin1String kMailto("mailto:");

// Builtin zones carry a vendor prefix in their TZID ("/freeassociation.sourceforge.net/Europe/
// Berlin"); calendars from Outlook name zones the Windows way ("W. Europe Standard Time").
QTimeZone qtZoneNamed(QByteArray name)
{
    static const QByteArray kVendorPrefix = "/freeassociation.sourceforge.net/";
    if (name.startsWith(kVendorPrefix)) {
        name = name.mid(kVendorPrefix.size());
        if (name.startsWith("Tzfile/"))
            name = name.mid(7);
    }
    if (name.isEmpty())
        return {};
    if (QTimeZone::isTimeZoneIdAvailable(name))
        return QTimeZone(name);
    const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(name);
    return iana.isEmpty() ? QTimeZone() : QTimeZone(iana);
}

QDate dateOf(const icaltimetype& time)
{
    return QDate(time.year, time.month, time.day);
}

QTime timeOf(const icaltimetype& time)
{
    return QTime(time.hour, time.minute, time.second);
}

// A day, or a time that names no zone, reads as the local clock; nothing for an instant of its
// own (UTC, or a time in a named zone).
std::optional<QDateTime> localClockTime(const icaltimetype& time)
{
    if (time.is_date)
        return QDateTime(dateOf(time), QTime(0, 0), Qt::LocalTime);
    if (!icaltime_is_utc(time) && !time.zone)
        return QDateTime(dateOf(time), timeOf(time), Qt::LocalTime);
    return std::nullopt;
}

StoreAttendee::Type attendeeType(icalproperty* attendee)
{
    icalparameter* parameter = icalproperty_get_first_parameter(attendee, ICAL_CUTYPE_PARAMETER);
    if (!parameter)
        return StoreAttendee::Type::Individual;
    switch (icalparameter_get_cutype(parameter)) {
    case ICAL_CUTYPE_INDIVIDUAL:
    case ICAL_CUTYPE_NONE:
        return StoreAttendee::Type::Individual;
    case ICAL_CUTYPE_GROUP:
        return StoreAttendee::Type::Group;
    case ICAL_CUTYPE_RESOURCE:
        return StoreAttendee::Type::Resource;
    case ICAL_CUTYPE_ROOM:
        return StoreAttendee::Type::Room;
    default:
        return StoreAttendee::Type::Unknown;
    }
}

StoreAttendee::Status attendeeStatus(icalproperty* attendee)
{
    icalparameter* parameter = icalproperty_get_first_parameter(attendee, ICAL_PARTSTAT_PARAMETER);
    if (!parameter)
        return StoreAttendee::Status::NeedsAction;
    switch (icalparameter_get_partstat(parameter)) {
    case ICAL_PARTSTAT_NEEDSACTION:
    case ICAL_PARTSTAT_NONE:
        return StoreAttendee::Status::NeedsAction;
    case ICAL_PARTSTAT_ACCEPTED:
        return StoreAttendee::Status::Accepted;
    case ICAL_PARTSTAT_DECLINED:
        return StoreAttendee::Status::Declined;
    case ICAL_PARTSTAT_TENTATIVE:
        return StoreAttendee::Status::Tentative;
    case ICAL_PARTSTAT_DELEGATED:
        return StoreAttendee::Status::Delegated;
    default:
        return StoreAttendee::Status::Other;
    }
}

QString commonName(icalproperty* property)
{
    icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_CN_PARAMETER);
    return parameter ? text(icalparameter_get_cn(parameter)) : QString();
}

} // namespace

ICalTimezone* localZone()
{
    const QByteArray id = QTimeZone::systemTimeZoneId();
    if (ICalTimezone* zone = i_cal_timezone_get_builtin_timezone(id.constData()))
        return zone;
    return i_cal_timezone_get_utc_timezone();
}

ICalTimezone* zoneForTzid(ECalClient* client, const char* tzid)
{
    if (!tzid || !*tzid)
        return nullptr;
    if (ICalTimezone* zone = e_timezone_cache_get_timezone(E_TIMEZONE_CACHE(client), tzid))
        return zone;
    if (ICalTimezone* zone = i_cal_timezone_get_builtin_timezone_from_tzid(tzid))
        return zone;
    if (ICalTimezone* zone = i_cal_timezone_get_builtin_timezone(tzid))
        return zone;
    const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(tzid);
    return iana.isEmpty() ? nullptr : i_cal_timezone_get_builtin_timezone(iana.constData());
}

QString bareAddress(QString address)
{
    address = address.trimmed().toLower();
    if (address.startsWith(kMailto))
        address.remove(0, kMailto.size());
    return address;
}
QList<StoreEvent> OccurrenceReader::takeEvents()
{
    std::stable_sort(
        m_events.begin(), m_events.end(), [](const StoreEvent& a, const StoreEvent& b) { return a.start < b.start; });
    return std::move(m_events);
}

void OccurrenceReader::add(
    icalcomponent* component, const icaltimetype& start, const icaltimetype& end, const QString& occurrence)
{
    const qint64 startSecs = seconds(start);
    const qint64 endSecs = seconds(end);
    // The library's range test includes both ends; an event starting at the window's end
    // belongs to the next window.
    if (startSecs >= m_windowEnd || (endSecs <= m_windowStart && startSecs != m_windowStart))
        return;

    StoreEvent event;
    event.id = eventId(component, occurrence);
    event.calendarId = m_calendarId;
    event.title = text(icalcomponent_get_summary(component));
    event.allDay = start.is_date;
    event.start = dateTime(start);
    event.end = dateTime(end);
    if (icalproperty* url = icalcomponent_get_first_property(component, ICAL_URL_PROPERTY))
        event.url = text(icalproperty_get_url(url));
    event.location = optionalText(icalcomponent_get_location(component));
    event.notes = optionalText(icalcomponent_get_description(component));
    if (icalproperty* organizer = icalcomponent_get_first_property(component, ICAL_ORGANIZER_PROPERTY)) {
        const QString name = commonName(organizer);
        if (!name.isEmpty())
            event.organizerName = name;
    }
    for (icalproperty* attendee = icalcomponent_get_first_property(component, ICAL_ATTENDEE_PROPERTY); attendee;
         attendee = icalcomponent_get_next_property(component, ICAL_ATTENDEE_PROPERTY)) {
        const QString address = text(icalproperty_get_attendee(attendee));
        event.attendees.append(StoreAttendee {
            commonName(attendee),
            QUrl(address),
            attendeeType(attendee),
            attendeeStatus(attendee),
            m_userAddresses.contains(bareAddress(address)),
        });
    }
    m_events.append(std::move(event));
}

qint64 OccurrenceReader::seconds(const icaltimetype& time)
{
    if (const std::optional<QDateTime> local = localClockTime(time))
        return local->toSecsSinceEpoch();
    return icaltime_as_timet_with_zone(time, icaltime_is_utc(time) ? icaltimezone_get_utc_timezone() : time.zone);
}

QDateTime OccurrenceReader::dateTime(const icaltimetype& time)
{
    if (const std::optional<QDateTime> local = localClockTime(time))
        return *local;
    if (icaltime_is_utc(time))
        return QDateTime(dateOf(time), timeOf(time), Qt::UTC);
    const qint64 secs = icaltime_as_timet_with_zone(time, time.zone);
    const QTimeZone qtZone = qtZoneOf(const_cast<icaltimezone*>(time.zone));
    return qtZone.isValid() ? QDateTime::fromSecsSinceEpoch(secs, qtZone) : QDateTime::fromSecsSinceEpoch(secs);
}

QTimeZone OccurrenceReader::qtZoneOf(icaltimezone* zone)
{
    const auto cached = m_zones.constFind(zone);
    if (cached != m_zones.constEnd())
        return *cached;
    QTimeZone result;
    if (const char* location = icaltimezone_get_location(zone))
        result = qtZoneNamed(location);
    if (!result.isValid())
        result = qtZoneNamed(icaltimezone_get_tzid(zone));
    m_zones.insert(zone, result);
    return result;
}

QString OccurrenceReader::eventId(icalcomponent* component, const QString& occurrence) const
{
    const char* uid = icalcomponent_get_uid(component);
    if (!uid || !*uid)
        return QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString id = m_calendarId + QLatin1Char('/') + QString::fromUtf8(uid);
    return occurrence.isEmpty() ? id : id + QLatin1Char('/') + occurrence;
}

} // namespace Eds
