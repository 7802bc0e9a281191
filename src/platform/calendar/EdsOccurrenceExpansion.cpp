#include "platform/calendar/EdsOccurrenceExpansion.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <climits>
#include <optional>
#include <vector>

namespace Eds {

namespace {

// The backend picks the objects of a range by its own reading of their times, which takes a
// zone it has no definition for as UTC (servers may leave out the definitions of well-known
// zones). Asking for a range this much wider, and cutting it exactly by the reader, where
// the zones are known, keeps every event at the window's edges. No zone is further than this
// from UTC.
constexpr qint64 kZoneMarginSecs = 14 * 3600;

// Steps a rule may take from an event's first occurrence to the end of the read: beyond them
// (an event that repeats every minute for years) the library's own expansion, which starts at
// the first occurrence, takes too long, and the rule is read from the window's start instead.
constexpr int kMaxRuleSteps = 100'000;

// One occurrence as the read hands it to the reader: whose fields it shows, when it is, and
// the slot of the repeating event it fills.
struct Occurrence
{
    icalcomponent* component = nullptr;
    icaltimetype start {};
    icaltimetype end {};
    QString occurrence; // empty for an event that does not repeat
    qint64 slot = 0; // the slot's UTC seconds, to match a moved occurrence
};

// The native zone a time's value is read in: its own, UTC, or for days and times that name
// none the calendar's default zone (as the library reads them).
icaltimezone* zoneOf(const icaltimetype& time, icaltimezone* defaultZone)
{
    if (icaltime_is_utc(time))
        return icaltimezone_get_utc_timezone();
    if (time.is_date || !time.zone)
        return defaultZone;
    return const_cast<icaltimezone*>(time.zone);
}

qint64 secondsOf(const icaltimetype& time, icaltimezone* defaultZone)
{
    return icaltime_as_timet_with_zone(time, zoneOf(time, defaultZone));
}

// The part of an occurrence's id that tells the slots of one repeating event apart: the day
// of an all-day event, otherwise the UTC time.
QString slotText(const icaltimetype& time, qint64 seconds)
{
    if (time.is_date)
        return QDate(time.year, time.month, time.day).toString(QStringLiteral("yyyyMMdd"));
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(kUtcFormat);
}

icaltimezone* nativeZone(ICalTimezone* zone)
{
    return zone ? nativeOf<icaltimezone>(zone) : nullptr;
}

// The zone a property's TZID names, as the library's expansion finds it (the calendar's own
// definitions first, fetched when needed), else as the reader names zones.
icaltimezone* zoneOfProperty(ECalClient* client, icalproperty* property)
{
    icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
    const char* name = tzid ? icalparameter_get_tzid(tzid) : nullptr;
    if (!name || !*name)
        return nullptr;
    GError* error = nullptr;
    ICalTimezone* zone = e_cal_client_tzlookup_cb(name, client, nullptr, &error);
    if (error)
        g_error_free(error);
    if (!zone)
        zone = zoneForTzid(client, name);
    return nativeZone(zone);
}

// A time property's value with its zone, or a null time.
icaltimetype zonedTime(ECalClient* client, icalcomponent* component, icalproperty_kind kind, icaltimezone* defaultZone)
{
    icalproperty* property = icalcomponent_get_first_property(component, kind);
    if (!property)
        return icaltime_null_time();
    icaltimetype time = icalproperty_get_datetime_with_component(property, component);
    if (icaltime_is_null_time(time) || icaltime_is_utc(time))
        return time;
    icaltimezone* zone = time.is_date ? nullptr : zoneOfProperty(client, property);
    time.zone = zone ? zone : defaultZone;
    return time;
}

bool hasRules(icalcomponent* component)
{
    return icalcomponent_get_first_property(component, ICAL_RRULE_PROPERTY)
        || icalcomponent_get_first_property(component, ICAL_RDATE_PROPERTY);
}

// Whether the library's expansion of a repeating event over a read ending at end stays small:
// it walks every rule from the first occurrence and keeps the occurrences it finds in a table
// that slows down with the square of their number.
bool libraryExpansionIsBounded(icalcomponent* component, qint64 start, qint64 end, icaltimezone* defaultZone)
{
    const icaltimetype first = icalcomponent_get_dtstart(component);
    if (icaltime_is_null_time(first))
        return true;
    for (const icalproperty_kind kind : { ICAL_RRULE_PROPERTY, ICAL_EXRULE_PROPERTY }) {
        for (icalproperty* property = icalcomponent_get_first_property(component, kind); property;
             property = icalcomponent_get_next_property(component, kind)) {
            const icalrecurrencetype rule
                = kind == ICAL_RRULE_PROPERTY ? icalproperty_get_rrule(property) : icalproperty_get_exrule(property);
            icalrecur_iterator* iterator = icalrecur_iterator_new(rule, first);
            if (!iterator)
                continue;
            int steps = 0;
            int inRead = 0;
            bool bounded = true;
            for (icaltimetype next = icalrecur_iterator_next(iterator); !icaltime_is_null_time(next);
                 next = icalrecur_iterator_next(iterator)) {
                // The zone is not resolved here: some hours either way change nothing that matters.
                const qint64 seconds = secondsOf(next, defaultZone);
                if (seconds > end)
                    break;
                if (++steps > kMaxRuleSteps
                    || (seconds >= start - kZoneMarginSecs && ++inRead > kMaxOccurrencesPerEvent)) {
                    bounded = false;
                    break;
                }
            }
            icalrecur_iterator_free(iterator);
            if (!bounded)
                return false;
        }
    }
    return true;
}

// The library's expansion, for events whose expansion is bounded: single events, moved
// occurrences, and repeating events with a modest number of steps.
struct LibraryExpansion
{
    ECalClient* client;
    icaltimezone* defaultZone;
    bool repeating;
    std::vector<Occurrence>* into;

    static gboolean add(
        ICalComponent* component, ICalTime* startWrapper, ICalTime* endWrapper, gpointer data, GCancellable*, GError**)
    {
        auto* self = static_cast<LibraryExpansion*>(data);
        Occurrence occurrence;
        occurrence.component = nativeOf<icalcomponent>(component);
        occurrence.start = *nativeOf<icaltimetype>(startWrapper);
        occurrence.end = *nativeOf<icaltimetype>(endWrapper);
        occurrence.slot = secondsOf(occurrence.start, self->defaultZone);
        if (self->repeating)
            occurrence.occurrence = slotText(occurrence.start, occurrence.slot);
        self->into->push_back(std::move(occurrence));
        return TRUE;
    }
};

bool expandWithLibrary(ECalClient* client, ICalComponent* component, bool repeating, ICalTime* start, ICalTime* end,
    ICalTimezone* defaultZone, std::vector<Occurrence>& into)
{
    LibraryExpansion expansion { client, nativeZone(defaultZone), repeating, &into };
    const std::size_t before = into.size();
    GError* error = nullptr;
    const bool expanded = e_cal_recur_generate_instances_sync(component, start, end, &LibraryExpansion::add, &expansion,
        e_cal_client_tzlookup_cb, client, defaultZone, nullptr, &error);
    if (error)
        g_error_free(error);
    if (!expanded)
        into.resize(before);
    return expanded;
}

// Whether libical can start a rule later than its first occurrence without changing its
// occurrences. It cannot with a count (it must count from the first); and it loses the
// rhythm of a rule that repeats every few hours, minutes or seconds, so only those that
// repeat every one are skipped ahead.
bool skipsToWindowCorrectly(const icalrecurrencetype& rule)
{
    return rule.count == 0 && (rule.interval <= 1 || rule.freq >= ICAL_DAILY_RECURRENCE);
}

// Where to start a rule that may skip to the window: at or before from. libical, asked to
// start at a time of day earlier than the first occurrence's, starts at the first
// occurrence's time of day instead, later than asked; a day earlier then starts before from.
icaltimetype skipTarget(const icaltimetype& first, qint64 from, icaltimezone* zone)
{
    icaltimetype target = icaltime_from_timet_with_zone(time_t(from), first.is_date, zone);
    const auto timeOfDay = [](const icaltimetype& time) { return (time.hour * 60 + time.minute) * 60 + time.second; };
    if (!first.is_date && timeOfDay(target) < timeOfDay(first))
        target = icaltime_from_timet_with_zone(time_t(from - 86'400), 0, zone);
    return target;
}

// A repeating event the library's expansion would take too long over: each rule read from just
// before the window where libical can start it there, else from its first occurrence, for at
// most kMaxRuleSteps steps; the first kMaxOccurrencesPerEvent occurrences in the window are
// kept. An event whose rules do not reach the window within the steps is left out. Dates added
// one by one (RDATE) are left out too; excluded ones (EXDATE, EXRULE) are honoured.
void expandBounded(ECalClient* client, icalcomponent* component, qint64 start, qint64 end, icaltimezone* defaultZone,
    std::vector<Occurrence>& into)
{
    icaltimetype first = zonedTime(client, component, ICAL_DTSTART_PROPERTY, defaultZone);
    if (icaltime_is_null_time(first))
        return;
    qint64 duration = first.is_date ? 86'400 : 0;
    const icaltimetype last = zonedTime(client, component, ICAL_DTEND_PROPERTY, defaultZone);
    if (!icaltime_is_null_time(last))
        duration = std::max<qint64>(0, secondsOf(last, defaultZone) - secondsOf(first, defaultZone));
    else if (icalproperty* length = icalcomponent_get_first_property(component, ICAL_DURATION_PROPERTY))
        duration = std::max(0, icaldurationtype_as_int(icalproperty_get_duration(length)));

    QSet<qint64> taken;
    icaltimezone* zone = zoneOf(first, defaultZone);
    for (icalproperty* property = icalcomponent_get_first_property(component, ICAL_RRULE_PROPERTY);
         property && taken.size() < kMaxOccurrencesPerEvent;
         property = icalcomponent_get_next_property(component, ICAL_RRULE_PROPERTY)) {
        const icalrecurrencetype rule = icalproperty_get_rrule(property);
        icalrecur_iterator* iterator = icalrecur_iterator_new(rule, first);
        if (!iterator)
            continue;
        if (skipsToWindowCorrectly(rule) && secondsOf(first, defaultZone) < start - duration)
            icalrecur_iterator_set_start(iterator, skipTarget(first, start - duration, zone));
        for (int step = 0; step < kMaxRuleSteps && taken.size() < kMaxOccurrencesPerEvent; ++step) {
            icaltimetype next = icalrecur_iterator_next(iterator);
            if (icaltime_is_null_time(next))
                break;
            if (!icaltime_is_utc(next))
                next.zone = first.zone;
            // Cut as the reader cuts, so that every occurrence taken is one it keeps.
            const qint64 seconds = secondsOf(next, defaultZone);
            if (seconds >= end)
                break;
            if ((seconds + duration <= start && seconds != start) || taken.contains(seconds)
                || icalproperty_recurrence_is_excluded(component, &first, &next))
                continue;
            taken.insert(seconds);
            Occurrence occurrence;
            occurrence.component = component;
            occurrence.start = next;
            occurrence.end = next;
            if (next.is_date)
                icaltime_adjust(&occurrence.end, int(duration / 86'400), 0, 0, 0);
            else
                icaltime_adjust(&occurrence.end, 0, 0, 0, int(std::min<qint64>(duration, INT_MAX)));
            occurrence.slot = seconds;
            occurrence.occurrence = slotText(next, seconds);
            into.push_back(std::move(occurrence));
        }
        icalrecur_iterator_free(iterator);
    }
}

// A moved occurrence (with a RECURRENCE-ID) and the slot it replaces.
struct Moved
{
    Occurrence occurrence;
    QByteArray uid;
    icalparameter_range range = ICAL_RANGE_NONE;
};

std::optional<Moved> movedOccurrence(
    ECalClient* client, icalcomponent* component, icaltimezone* defaultZone, Occurrence occurrence)
{
    icalproperty* property = icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY);
    icaltimetype slot = property ? icalproperty_get_recurrenceid(property) : icaltime_null_time();
    if (icaltime_is_null_time(slot))
        return std::nullopt;
    if (!icaltime_is_utc(slot) && !slot.is_date) {
        icaltimezone* zone = zoneOfProperty(client, property);
        slot.zone = zone ? zone : defaultZone;
    }
    Moved moved { std::move(occurrence), QByteArray(icalcomponent_get_uid(component)), ICAL_RANGE_NONE };
    moved.occurrence.slot = secondsOf(slot, defaultZone);
    moved.occurrence.occurrence = slotText(slot, moved.occurrence.slot);
    if (icalparameter* range = icalproperty_get_first_parameter(property, ICAL_RANGE_PARAMETER))
        moved.range = icalparameter_get_range(range);
    return moved;
}

} // namespace

QString objectsQuery(qint64 start, qint64 end)
{
    // The backend stops at the first true term of an "or".
    return QStringLiteral("(or (has-recurrences?) (occur-in-time-range? (make-time \"%1\") (make-time \"%2\")))")
        .arg(QDateTime::fromSecsSinceEpoch(start - kZoneMarginSecs, Qt::UTC).toString(kUtcFormat),
            QDateTime::fromSecsSinceEpoch(end + kZoneMarginSecs, Qt::UTC).toString(kUtcFormat));
}

void expandOccurrences(ECalClient* client, GSList* objects, qint64 start, qint64 end, OccurrenceReader& reader)
{
    ICalTimezone* defaultZone = e_cal_client_get_default_timezone(client);
    if (!defaultZone)
        defaultZone = i_cal_timezone_get_utc_timezone();
    icaltimezone* nativeDefault = nativeZone(defaultZone);
    ICalTime* rangeStart = i_cal_time_new_from_timet_with_zone(
        time_t(start - kZoneMarginSecs), FALSE, i_cal_timezone_get_utc_timezone());
    ICalTime* rangeEnd
        = i_cal_time_new_from_timet_with_zone(time_t(end + kZoneMarginSecs), FALSE, i_cal_timezone_get_utc_timezone());

    std::vector<Occurrence> occurrences;
    std::vector<Moved> moved;
    for (GSList* item = objects; item; item = item->next) {
        auto* object = static_cast<ICalComponent*>(item->data);
        icalcomponent* component = nativeOf<icalcomponent>(object);
        if (icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY)) {
            std::vector<Occurrence> own;
            if (!expandWithLibrary(client, object, false, rangeStart, rangeEnd, defaultZone, own) || own.empty())
                continue;
            if (std::optional<Moved> found = movedOccurrence(client, component, nativeDefault, own.front()))
                moved.push_back(std::move(*found));
            else
                occurrences.push_back(own.front());
        } else if (!hasRules(component)) {
            expandWithLibrary(client, object, false, rangeStart, rangeEnd, defaultZone, occurrences);
        } else if (libraryExpansionIsBounded(component, start, end + kZoneMarginSecs, nativeDefault)) {
            expandWithLibrary(client, object, true, rangeStart, rangeEnd, defaultZone, occurrences);
        } else {
            expandBounded(client, component, start, end, nativeDefault, occurrences);
        }
    }
    g_object_unref(rangeStart);
    g_object_unref(rangeEnd);

    // A moved occurrence takes its slot's place; one that changes this and the following (or
    // the earlier) occurrences lends them its fields. One whose slot is not in the read, or
    // whose event is not, stands on its own.
    for (const Moved& change : moved) {
        bool replaced = false;
        for (Occurrence& occurrence : occurrences) {
            if (occurrence.occurrence.isEmpty() || icalcomponent_get_uid(occurrence.component) != change.uid)
                continue;
            if (change.range == ICAL_RANGE_NONE && occurrence.slot == change.occurrence.slot) {
                occurrence = change.occurrence;
                replaced = true;
            } else if ((change.range == ICAL_RANGE_THISANDFUTURE && occurrence.slot >= change.occurrence.slot)
                || (change.range == ICAL_RANGE_THISANDPRIOR && occurrence.slot <= change.occurrence.slot)) {
                occurrence.component = change.occurrence.component;
            }
        }
        if (!replaced)
            occurrences.push_back(change.occurrence);
    }
    for (const Occurrence& occurrence : occurrences)
        reader.add(occurrence.component, occurrence.start, occurrence.end, occurrence.occurrence);
}

} // namespace Eds
