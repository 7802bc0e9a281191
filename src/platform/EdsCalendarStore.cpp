#include "platform/EdsCalendarStore.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTimeZone>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <deque>
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>
#include <map>

namespace {

// Owns one GObject reference.
struct GObjectUnref
{
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T> using GRef = std::unique_ptr<T, GObjectUnref>;

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QString();
}

std::optional<QString> optionalText(const char* value)
{
    return value ? std::optional<QString>(QString::fromUtf8(value)) : std::nullopt;
}

const QString kUtcFormat = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");

// The backend picks the objects of a range by its own reading of their times, which takes a
// zone it has no definition for as UTC (servers may leave out the definitions of well-known
// zones). Asking for a range this much wider, and cutting it exactly here, where the zones are
// known, keeps every event at the window's edges. No zone is further than this from UTC.
constexpr qint64 kZoneMarginSecs = 14 * 3600;

// Calendars whose occurrences are read at the same time.
constexpr int kParallelReads = 4;
const QLatin1String kMailto("mailto:");

// What a calendar read needs to know about the store's zones.
ICalTimezone* localZone()
{
    const QByteArray id = QTimeZone::systemTimeZoneId();
    if (ICalTimezone* zone = i_cal_timezone_get_builtin_timezone(id.constData()))
        return zone;
    return i_cal_timezone_get_utc_timezone();
}

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

QDate dateOf(const ICalTime* time)
{
    return QDate(i_cal_time_get_year(time), i_cal_time_get_month(time), i_cal_time_get_day(time));
}

QTime timeOf(const ICalTime* time)
{
    return QTime(i_cal_time_get_hour(time), i_cal_time_get_minute(time), i_cal_time_get_second(time));
}

StoreAttendee::Type attendeeType(ICalProperty* attendee)
{
    GRef<ICalParameter> parameter(i_cal_property_get_first_parameter(attendee, I_CAL_CUTYPE_PARAMETER));
    if (!parameter)
        return StoreAttendee::Type::Individual;
    switch (i_cal_parameter_get_cutype(parameter.get())) {
    case I_CAL_CUTYPE_INDIVIDUAL:
    case I_CAL_CUTYPE_NONE:
        return StoreAttendee::Type::Individual;
    case I_CAL_CUTYPE_GROUP:
        return StoreAttendee::Type::Group;
    case I_CAL_CUTYPE_RESOURCE:
        return StoreAttendee::Type::Resource;
    case I_CAL_CUTYPE_ROOM:
        return StoreAttendee::Type::Room;
    default:
        return StoreAttendee::Type::Unknown;
    }
}

StoreAttendee::Status attendeeStatus(ICalProperty* attendee)
{
    GRef<ICalParameter> parameter(i_cal_property_get_first_parameter(attendee, I_CAL_PARTSTAT_PARAMETER));
    if (!parameter)
        return StoreAttendee::Status::NeedsAction;
    switch (i_cal_parameter_get_partstat(parameter.get())) {
    case I_CAL_PARTSTAT_NEEDSACTION:
    case I_CAL_PARTSTAT_NONE:
        return StoreAttendee::Status::NeedsAction;
    case I_CAL_PARTSTAT_ACCEPTED:
        return StoreAttendee::Status::Accepted;
    case I_CAL_PARTSTAT_DECLINED:
        return StoreAttendee::Status::Declined;
    case I_CAL_PARTSTAT_TENTATIVE:
        return StoreAttendee::Status::Tentative;
    case I_CAL_PARTSTAT_DELEGATED:
        return StoreAttendee::Status::Delegated;
    default:
        return StoreAttendee::Status::Other;
    }
}

QString commonName(ICalProperty* property)
{
    GRef<ICalParameter> parameter(i_cal_property_get_first_parameter(property, I_CAL_CN_PARAMETER));
    return parameter ? text(i_cal_parameter_get_cn(parameter.get())) : QString();
}

// An address as the current user's addresses are kept: lower case, without "mailto:".
QString bareAddress(QString address)
{
    address = address.trimmed().toLower();
    if (address.startsWith(kMailto))
        address.remove(0, kMailto.size());
    return address;
}

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
    QList<StoreEvent> takeEvents()
    {
        std::stable_sort(m_events.begin(), m_events.end(),
            [](const StoreEvent& a, const StoreEvent& b) { return a.start < b.start; });
        return std::move(m_events);
    }

    void add(ICalComponent* component, ICalTime* start, ICalTime* end)
    {
        const qint64 startSecs = seconds(start);
        const qint64 endSecs = seconds(end);
        // The library's range test includes both ends; an event starting at the window's end
        // belongs to the next window.
        if (startSecs >= m_windowEnd || (endSecs <= m_windowStart && startSecs != m_windowStart))
            return;

        StoreEvent event;
        event.id = eventId(component);
        event.calendarId = m_calendarId;
        event.title = text(i_cal_component_get_summary(component));
        event.allDay = i_cal_time_is_date(start);
        event.start = dateTime(start);
        event.end = dateTime(end);
        if (GRef<ICalProperty> url { i_cal_component_get_first_property(component, I_CAL_URL_PROPERTY) })
            event.url = text(i_cal_property_get_url(url.get()));
        event.location = optionalText(i_cal_component_get_location(component));
        event.notes = optionalText(i_cal_component_get_description(component));
        if (GRef<ICalProperty> organizer { i_cal_component_get_first_property(component, I_CAL_ORGANIZER_PROPERTY) }) {
            const QString name = commonName(organizer.get());
            if (!name.isEmpty())
                event.organizerName = name;
        }
        for (GRef<ICalProperty> attendee { i_cal_component_get_first_property(component, I_CAL_ATTENDEE_PROPERTY) };
             attendee; attendee.reset(i_cal_component_get_next_property(component, I_CAL_ATTENDEE_PROPERTY))) {
            const QString address = text(i_cal_property_get_attendee(attendee.get()));
            event.attendees.append(StoreAttendee {
                commonName(attendee.get()),
                QUrl(address),
                attendeeType(attendee.get()),
                attendeeStatus(attendee.get()),
                m_userAddresses.contains(bareAddress(address)),
            });
        }
        m_events.append(std::move(event));
    }

private:
    qint64 seconds(ICalTime* time) const
    {
        if (i_cal_time_is_date(time))
            return QDateTime(dateOf(time), QTime(0, 0), Qt::LocalTime).toSecsSinceEpoch();
        if (i_cal_time_is_utc(time))
            return i_cal_time_as_timet_with_zone(time, i_cal_timezone_get_utc_timezone());
        ICalTimezone* zone = i_cal_time_get_timezone(time);
        if (!zone)
            return QDateTime(dateOf(time), timeOf(time), Qt::LocalTime).toSecsSinceEpoch();
        return i_cal_time_as_timet_with_zone(time, zone);
    }

    // UTC as UTC, zoned times in their zone, floating times (and all-day dates) in the local
    // zone. The instant comes from libical, which knows the event's own zone definitions.
    QDateTime dateTime(ICalTime* time)
    {
        if (i_cal_time_is_date(time))
            return QDateTime(dateOf(time), QTime(0, 0), Qt::LocalTime);
        if (i_cal_time_is_utc(time))
            return QDateTime(dateOf(time), timeOf(time), Qt::UTC);
        ICalTimezone* zone = i_cal_time_get_timezone(time);
        if (!zone)
            return QDateTime(dateOf(time), timeOf(time), Qt::LocalTime);
        const qint64 secs = i_cal_time_as_timet_with_zone(time, zone);
        const QTimeZone qtZone = qtZoneOf(zone);
        return qtZone.isValid() ? QDateTime::fromSecsSinceEpoch(secs, qtZone) : QDateTime::fromSecsSinceEpoch(secs);
    }

    QTimeZone qtZoneOf(ICalTimezone* zone)
    {
        const auto cached = m_zones.constFind(zone);
        if (cached != m_zones.constEnd())
            return *cached;
        QTimeZone result;
        if (const char* location = i_cal_timezone_get_location(zone))
            result = qtZoneNamed(location);
        if (!result.isValid())
            result = qtZoneNamed(i_cal_timezone_get_tzid(zone));
        m_zones.insert(zone, result);
        return result;
    }

    // calendar/UID, and for an occurrence of a repeating event also its RECURRENCE-ID in UTC:
    // stable across reads, different per calendar and per occurrence.
    QString eventId(ICalComponent* component) const
    {
        const char* uid = i_cal_component_get_uid(component);
        if (!uid || !*uid)
            return QUuid::createUuid().toString(QUuid::WithoutBraces);
        QString id = m_calendarId + QLatin1Char('/') + QString::fromUtf8(uid);
        GRef<ICalProperty> property(i_cal_component_get_first_property(component, I_CAL_RECURRENCEID_PROPERTY));
        if (!property)
            return id;
        GRef<ICalTime> recurrenceId(i_cal_property_get_recurrenceid(property.get()));
        if (!recurrenceId || i_cal_time_is_null_time(recurrenceId.get()))
            return id;
        id += QLatin1Char('/');
        if (i_cal_time_is_date(recurrenceId.get()))
            return id + dateOf(recurrenceId.get()).toString(QStringLiteral("yyyyMMdd"));
        ICalTimezone* zone = nullptr;
        if (i_cal_time_is_utc(recurrenceId.get())) {
            zone = i_cal_timezone_get_utc_timezone();
        } else {
            GRef<ICalParameter> tzid(i_cal_property_get_first_parameter(property.get(), I_CAL_TZID_PARAMETER));
            zone = tzid ? zoneForTzid(m_client, i_cal_parameter_get_tzid(tzid.get())) : nullptr;
            if (!zone)
                zone = e_cal_client_get_default_timezone(m_client);
        }
        const qint64 secs = i_cal_time_as_timet_with_zone(recurrenceId.get(), zone);
        return id + QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toString(kUtcFormat);
    }

    QString m_calendarId;
    ECalClient* m_client;
    QSet<QString> m_userAddresses;
    qint64 m_windowStart;
    qint64 m_windowEnd;
    QHash<ICalTimezone*, QTimeZone> m_zones;
    QList<StoreEvent> m_events;
};

// One fetchEvents call: the calendars' answers in their given order, handed over once all came.
struct EventRead
{
    QPointer<QObject> context;
    CalendarStore::EventsCallback done;
    QList<std::optional<QList<StoreEvent>>> perCalendar;
    qsizetype pending = 0;

    void finish(qsizetype index, QList<StoreEvent> events)
    {
        if (perCalendar[index])
            return;
        perCalendar[index] = std::move(events);
        if (--pending == 0)
            deliver();
    }

    void deliver()
    {
        QList<StoreEvent> all;
        for (const auto& events : std::as_const(perCalendar))
            all.append(*events);
        if (context)
            QTimer::singleShot(0, context, [done = done, all = std::move(all)] { done(all); });
    }
};

struct CalendarRead
{
    std::shared_ptr<EventRead> read;
    qsizetype index = 0;
    GRef<ECalClient> client;
    QDateTime start;
    QDateTime end;
    OccurrenceReader reader;
    bool settled = false;
    std::function<void()> released; // lets the next read start

    void settle(bool complete)
    {
        if (settled)
            return;
        settled = true;
        read->finish(index, complete ? reader.takeEvents() : QList<StoreEvent> {});
        if (released)
            released();
    }
};

// A connection attempt someone waits for, with the waiter's own limit.
struct ConnectWaiter
{
    std::function<void(ECalClient*)> fn;
    bool settled = false;

    void answer(ECalClient* client)
    {
        if (settled)
            return;
        settled = true;
        fn(client);
    }
};

// What a change of the registry could change for a reader.
struct RegistrySnapshot
{
    QList<StoreCalendar> calendars; // by id
    QStringList addresses; // every address that is the user's somewhere, sorted
    friend bool operator==(const RegistrySnapshot&, const RegistrySnapshot&) = default;
};

} // namespace

class EdsCalendarStore::Private
{
public:
    enum class RegistryState { NotStarted, Starting, Ready, Failed };

    struct Connection
    {
        GRef<ECalClient> client;
        bool connecting = false;
        QList<std::shared_ptr<ConnectWaiter>> waiters;
        GRef<ECalClientView> view;
        bool viewPending = false;
        QDateTime viewStart;
        QDateTime viewEnd;
    };

    // Heap data for one asynchronous call; the store may be gone when it answers.
    struct CallContext
    {
        QPointer<EdsCalendarStore> store;
        QString calendarId;
        QDateTime start;
        QDateTime end;
    };

    Private(EdsCalendarStore* q, Limits limits)
        : q(q)
        , limits(limits)
        , cancellable(g_cancellable_new())
    {
        registryLimit.setSingleShot(true);
        QObject::connect(&registryLimit, &QTimer::timeout, q, [this] { onRegistryLimit(); });
        quiet.setSingleShot(true);
        quiet.setInterval(limits.quietPeriod);
        QObject::connect(&quiet, &QTimer::timeout, q, [this] { onQuiet(); });
    }

    ~Private()
    {
        g_cancellable_cancel(cancellable.get());
        while (!connections.empty())
            dropConnection(connections.begin()->first);
        if (registry)
            g_signal_handlers_disconnect_by_data(registry.get(), this);
    }

    // --- The registry -------------------------------------------------------------------

    void fetchCalendars(QObject* context, CalendarsCallback done)
    {
        switch (registryState) {
        case RegistryState::Ready:
            lastSnapshot = snapshot();
            answerLater(context, std::move(done), lastSnapshot.calendars);
            return;
        case RegistryState::Starting:
            if (registryLate)
                answerLater(context, std::move(done), {});
            else
                registryWaiters.append({ context, std::move(done) });
            return;
        case RegistryState::NotStarted:
        case RegistryState::Failed:
            registryWaiters.append({ context, std::move(done) });
            startRegistry();
            return;
        }
    }

    static void answerLater(QObject* context, CalendarsCallback done, QList<StoreCalendar> calendars)
    {
        QTimer::singleShot(0, context, [done = std::move(done), calendars = std::move(calendars)] { done(calendars); });
    }

    void startRegistry()
    {
        registryState = RegistryState::Starting;
        registryLate = false;
        registryLimit.start(limits.registry);
        e_source_registry_new(cancellable.get(), &Private::onRegistryCreated, new CallContext { q, {}, {}, {} });
    }

    static void onRegistryCreated(GObject*, GAsyncResult* result, gpointer data)
    {
        std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
        GError* error = nullptr;
        GRef<ESourceRegistry> registry(e_source_registry_new_finish(result, &error));
        if (error)
            g_error_free(error);
        if (context->store)
            context->store->d->onRegistry(std::move(registry));
    }

    void onRegistry(GRef<ESourceRegistry> created)
    {
        registryLimit.stop();
        const bool late = registryLate;
        if (!created) {
            registryState = RegistryState::Failed;
            answerRegistryWaiters({});
            return;
        }
        registry = std::move(created);
        registryState = RegistryState::Ready;
        for (const char* signal :
            { "source-added", "source-changed", "source-removed", "source-enabled", "source-disabled" })
            g_signal_connect_swapped(registry.get(), signal, G_CALLBACK(&Private::onRegistrySignal), this);
        if (late) {
            // Readers were told there is no calendar; a registry that comes up later is news.
            onRegistrySignal(this);
            return;
        }
        lastSnapshot = snapshot();
        answerRegistryWaiters(lastSnapshot.calendars);
    }

    void onRegistryLimit()
    {
        registryLate = true;
        answerRegistryWaiters({});
    }

    void answerRegistryWaiters(const QList<StoreCalendar>& calendars)
    {
        const auto waiters = std::exchange(registryWaiters, {});
        for (const auto& [context, done] : waiters) {
            if (context)
                answerLater(context, done, calendars);
        }
    }

    static void onRegistrySignal(Private* self)
    {
        self->registryChanged = true;
        self->quiet.start();
    }

    RegistrySnapshot snapshot() const
    {
        RegistrySnapshot result;
        QSet<QString> addresses = identityAddresses();
        GList* sources = e_source_registry_list_sources(registry.get(), E_SOURCE_EXTENSION_CALENDAR);
        for (GList* item = sources; item; item = item->next) {
            auto* source = static_cast<ESource*>(item->data);
            if (!e_source_registry_check_enabled(registry.get(), source))
                continue;
            result.calendars.append(calendarOf(source));
            addresses.unite(ownAddresses(source));
        }
        g_list_free_full(sources, g_object_unref);
        std::sort(result.calendars.begin(), result.calendars.end(),
            [](const StoreCalendar& a, const StoreCalendar& b) { return a.id < b.id; });
        result.addresses = QStringList(addresses.begin(), addresses.end());
        result.addresses.sort();
        return result;
    }

    StoreCalendar calendarOf(ESource* source) const
    {
        StoreCalendar calendar;
        calendar.id = text(e_source_get_uid(source));
        calendar.title = text(e_source_get_display_name(source));
        if (GRef<ESource> collection {
                e_source_registry_find_extension(registry.get(), source, E_SOURCE_EXTENSION_COLLECTION) }) {
            calendar.sourceTitle = text(e_source_get_display_name(collection.get()));
        } else if (const char* parentId = e_source_get_parent(source); parentId && *parentId) {
            if (GRef<ESource> parent { e_source_registry_ref_source(registry.get(), parentId) })
                calendar.sourceTitle = text(e_source_get_display_name(parent.get()));
        }
        if (calendar.sourceTitle.isEmpty())
            calendar.sourceTitle = QStringLiteral("Other");
        auto* extension = static_cast<ESourceSelectable*>(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
        const QColor color(text(e_source_selectable_get_color(extension)));
        calendar.color = color.isValid() ? color : kFallbackColor;
        // Birthdays and subscribed feeds are rarely meetings, and there can be many of them.
        const QString backend = text(e_source_backend_get_backend_name(E_SOURCE_BACKEND(extension)));
        calendar.defaultVisible = backend != QLatin1String("contacts") && backend != QLatin1String("webcal")
            && backend != QLatin1String("weather");
        return calendar;
    }

    // Every mail identity's address and aliases.
    QSet<QString> identityAddresses() const
    {
        QSet<QString> addresses;
        GList* identities = e_source_registry_list_sources(registry.get(), E_SOURCE_EXTENSION_MAIL_IDENTITY);
        for (GList* item = identities; item; item = item->next) {
            auto* identity = static_cast<ESourceMailIdentity*>(
                e_source_get_extension(static_cast<ESource*>(item->data), E_SOURCE_EXTENSION_MAIL_IDENTITY));
            addAddress(addresses, e_source_mail_identity_get_address(identity));
            if (GHashTable* aliases = e_source_mail_identity_get_aliases_as_hash_table(identity)) {
                GHashTableIter iter;
                gpointer key = nullptr;
                g_hash_table_iter_init(&iter, aliases);
                while (g_hash_table_iter_next(&iter, &key, nullptr))
                    addAddress(addresses, static_cast<const char*>(key));
                g_hash_table_unref(aliases);
            }
        }
        g_list_free_full(identities, g_object_unref);
        return addresses;
    }

    // The identity of the account the calendar belongs to, and the calendar's own address.
    QSet<QString> ownAddresses(ESource* source) const
    {
        QSet<QString> addresses;
        if (GRef<ESource> collection {
                e_source_registry_find_extension(registry.get(), source, E_SOURCE_EXTENSION_COLLECTION) }) {
            auto* extension = static_cast<ESourceCollection*>(
                e_source_get_extension(collection.get(), E_SOURCE_EXTENSION_COLLECTION));
            addAddress(addresses, e_source_collection_get_identity(extension));
        }
        if (e_source_has_extension(source, E_SOURCE_EXTENSION_WEBDAV_BACKEND)) {
            auto* webdav
                = static_cast<ESourceWebdav*>(e_source_get_extension(source, E_SOURCE_EXTENSION_WEBDAV_BACKEND));
            addAddress(addresses, e_source_webdav_get_email_address(webdav));
        }
        return addresses;
    }

    static void addAddress(QSet<QString>& addresses, const char* address)
    {
        const QString bare = bareAddress(text(address));
        if (!bare.isEmpty())
            addresses.insert(bare);
    }

    // --- Changes ------------------------------------------------------------------------

    static void onObjectsChanged(Private* self)
    {
        self->objectsChanged = true;
        self->quiet.start();
    }

    void onQuiet()
    {
        bool changed = std::exchange(objectsChanged, false);
        if (std::exchange(registryChanged, false) && registry) {
            // Connecting a calendar rewrites its source's connection status, which the
            // registry reports as a change: only what a reader sees counts.
            const RegistrySnapshot now = snapshot();
            if (now != lastSnapshot) {
                lastSnapshot = now;
                changed = true;
            }
        }
        if (changed)
            Q_EMIT q->changed();
    }

    // --- Events -------------------------------------------------------------------------

    void fetchEvents(const QStringList& calendarIds, const QDateTime& start, const QDateTime& end, QObject* context,
        EventsCallback done)
    {
        auto read = std::make_shared<EventRead>();
        read->context = context;
        read->done = std::move(done);
        read->perCalendar.resize(calendarIds.size());
        read->pending = calendarIds.size();

        // One view per calendar that is read: the others are let go.
        QStringList unread;
        for (const auto& [id, connection] : connections) {
            if (!calendarIds.contains(id))
                unread.append(id);
        }
        for (const QString& id : std::as_const(unread))
            dropConnection(id);
        if (calendarIds.isEmpty() || registryState != RegistryState::Ready) {
            read->perCalendar.fill(QList<StoreEvent> {});
            read->pending = 0;
            read->deliver();
            return;
        }

        const QSet<QString> identities = identityAddresses();
        for (qsizetype index = 0; index < calendarIds.size(); ++index) {
            const QString id = calendarIds[index];
            GRef<ESource> source(e_source_registry_ref_source(registry.get(), id.toUtf8().constData()));
            if (!source || !e_source_registry_check_enabled(registry.get(), source.get())
                || !e_source_has_extension(source.get(), E_SOURCE_EXTENSION_CALENDAR)) {
                read->finish(index, {});
                continue;
            }
            QSet<QString> addresses = identities + ownAddresses(source.get());
            withClient(id, source.get(), [=, this](ECalClient* client) {
                if (!client) {
                    read->finish(index, {});
                    return;
                }
                watch(id, client, start, end);
                readOccurrences(read, index, id, client, addresses, start, end);
            });
        }
    }

    void withClient(const QString& id, ESource* source, std::function<void(ECalClient*)> fn)
    {
        Connection& connection = connections[id];
        if (connection.client) {
            fn(connection.client.get());
            return;
        }
        auto waiter = std::make_shared<ConnectWaiter>(ConnectWaiter { std::move(fn) });
        connection.waiters.append(waiter);
        QTimer::singleShot(limits.calendar, q, [waiter] { waiter->answer(nullptr); });
        if (connection.connecting)
            return;
        connection.connecting = true;
        // -1: do not wait for a remote calendar to come online; our own limit applies.
        e_cal_client_connect(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, guint32(-1), cancellable.get(),
            &Private::onConnected, new CallContext { q, id, {}, {} });
    }

    static void onConnected(GObject*, GAsyncResult* result, gpointer data)
    {
        std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
        GError* error = nullptr;
        GRef<ECalClient> client(reinterpret_cast<ECalClient*>(e_cal_client_connect_finish(result, &error)));
        if (error)
            g_error_free(error);
        if (context->store)
            context->store->d->onClient(context->calendarId, std::move(client));
    }

    void onClient(const QString& id, GRef<ECalClient> client)
    {
        const auto found = connections.find(id);
        if (found == connections.end())
            return;
        Connection* it = &found->second;
        it->connecting = false;
        const auto waiters = std::exchange(it->waiters, {});
        if (client) {
            // Floating times are the user's local times.
            e_cal_client_set_default_timezone(client.get(), localZone());
            g_signal_connect_swapped(client.get(), "backend-died", G_CALLBACK(&Private::onBackendDied), this);
            it->client = std::move(client);
        }
        for (const auto& waiter : waiters)
            waiter->answer(it->client.get());
    }

    static void onBackendDied(Private* self, ECalClient* client)
    {
        // Let go of it after the emission; the next read connects again.
        for (const auto& [id, connection] : self->connections) {
            if (connection.client.get() == client) {
                QTimer::singleShot(0, self->q, [self, id = id] { self->dropConnection(id); });
                return;
            }
        }
    }

    void dropConnection(const QString& id)
    {
        const auto it = connections.find(id);
        if (it == connections.end())
            return;
        Connection& connection = it->second;
        dropView(connection);
        if (connection.client)
            g_signal_handlers_disconnect_by_data(connection.client.get(), this);
        const auto waiters = std::exchange(connection.waiters, {});
        connections.erase(it);
        for (const auto& waiter : waiters)
            waiter->answer(nullptr);
    }

    void dropView(Connection& connection)
    {
        if (connection.view)
            g_signal_handlers_disconnect_by_data(connection.view.get(), this);
        connection.view.reset();
        connection.viewPending = false;
        connection.viewStart = {};
        connection.viewEnd = {};
    }

    // A view over the window reports edits of the calendar's stored objects.
    void watch(const QString& id, ECalClient* client, const QDateTime& start, const QDateTime& end)
    {
        Connection& connection = connections[id];
        if ((connection.view || connection.viewPending) && connection.viewStart == start && connection.viewEnd == end)
            return;
        dropView(connection);
        connection.viewPending = true;
        connection.viewStart = start;
        connection.viewEnd = end;
        const QString query = QStringLiteral("(occur-in-time-range? (make-time \"%1\") (make-time \"%2\"))")
                                  .arg(start.toUTC().addSecs(-kZoneMarginSecs).toString(kUtcFormat),
                                      end.toUTC().addSecs(kZoneMarginSecs).toString(kUtcFormat));
        e_cal_client_get_view(client, query.toUtf8().constData(), cancellable.get(), &Private::onViewCreated,
            new CallContext { q, id, start, end });
    }

    static void onViewCreated(GObject* client, GAsyncResult* result, gpointer data)
    {
        std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
        ECalClientView* created = nullptr;
        GError* error = nullptr;
        e_cal_client_get_view_finish(E_CAL_CLIENT(client), result, &created, &error);
        GRef<ECalClientView> view(created);
        if (error)
            g_error_free(error);
        if (context->store)
            context->store->d->onView(*context, E_CAL_CLIENT(client), std::move(view));
    }

    void onView(const CallContext& context, ECalClient* client, GRef<ECalClientView> view)
    {
        const auto found = connections.find(context.calendarId);
        if (found == connections.end())
            return;
        Connection* it = &found->second;
        if (it->client.get() != client || it->viewStart != context.start || it->viewEnd != context.end)
            return;
        it->viewPending = false;
        if (!view) {
            it->viewStart = {};
            return;
        }
        for (const char* signal : { "objects-added", "objects-modified", "objects-removed" })
            g_signal_connect_swapped(view.get(), signal, G_CALLBACK(&Private::onObjectsChanged), this);
        // Both are short calls to a backend that has just answered. Without the flag the
        // backend would first send every object of the window, which this layer never reads.
        e_cal_client_view_set_flags(view.get(), E_CAL_CLIENT_VIEW_FLAGS_NONE, nullptr);
        e_cal_client_view_start(view.get(), nullptr);
        it->view = std::move(view);
    }

    void readOccurrences(const std::shared_ptr<EventRead>& read, qsizetype index, const QString& id, ECalClient* client,
        const QSet<QString>& addresses, const QDateTime& start, const QDateTime& end)
    {
        queuedReads.push_back(std::make_shared<CalendarRead>(CalendarRead {
            read,
            index,
            GRef<ECalClient>(static_cast<ECalClient*>(g_object_ref(client))),
            start,
            end,
            OccurrenceReader(id, client, addresses, start, end),
            false,
            {},
        }));
        startQueuedReads();
    }

    // libecal expands a calendar's occurrences in the callback that delivers its objects, and
    // answers that arrive together are handled in one turn of the event loop: with all
    // calendars read at once, a big week stalls the main thread for the sum of them.
    void startQueuedReads()
    {
        while (readsInFlight < kParallelReads && !queuedReads.empty()) {
            std::shared_ptr<CalendarRead> state = std::move(queuedReads.front());
            queuedReads.pop_front();
            ++readsInFlight;
            state->released = [this, store = QPointer<EdsCalendarStore>(q)] {
                if (!store)
                    return;
                --readsInFlight;
                QTimer::singleShot(0, q, [this] { startQueuedReads(); });
            };
            QTimer::singleShot(limits.calendar, q, [state] { state->settle(false); });
            // libecal calls back per occurrence and releases the data once the read is over,
            // also when it failed or was cancelled.
            e_cal_client_generate_instances(state->client.get(),
                time_t(state->start.toSecsSinceEpoch() - kZoneMarginSecs),
                time_t(state->end.toSecsSinceEpoch() + kZoneMarginSecs), cancellable.get(), &Private::onOccurrence,
                new std::shared_ptr<CalendarRead>(state), &Private::onOccurrencesDone);
        }
    }

    static gboolean onOccurrence(
        ICalComponent* component, ICalTime* start, ICalTime* end, gpointer data, GCancellable*, GError**)
    {
        auto& state = *static_cast<std::shared_ptr<CalendarRead>*>(data);
        if (state->settled)
            return FALSE;
        state->reader.add(component, start, end);
        return TRUE;
    }

    static void onOccurrencesDone(gpointer data)
    {
        std::unique_ptr<std::shared_ptr<CalendarRead>> state(static_cast<std::shared_ptr<CalendarRead>*>(data));
        (*state)->settle(true);
    }

    EdsCalendarStore* q;
    Limits limits;
    GRef<GCancellable> cancellable;

    RegistryState registryState = RegistryState::NotStarted;
    bool registryLate = false;
    GRef<ESourceRegistry> registry;
    QTimer registryLimit;
    QList<std::pair<QPointer<QObject>, CalendarsCallback>> registryWaiters;
    RegistrySnapshot lastSnapshot;

    QTimer quiet;
    bool objectsChanged = false;
    bool registryChanged = false;

    std::map<QString, Connection> connections;
    std::deque<std::shared_ptr<CalendarRead>> queuedReads;
    int readsInFlight = 0;
};

EdsCalendarStore::EdsCalendarStore(QObject* parent)
    : EdsCalendarStore(Limits {}, parent)
{ }

EdsCalendarStore::EdsCalendarStore(Limits limits, QObject* parent)
    : CalendarStore(parent)
    , d(std::make_unique<Private>(this, limits))
{ }

EdsCalendarStore::~EdsCalendarStore() = default;

void EdsCalendarStore::requestAccess(QObject* context, AccessCallback done)
{
    QTimer::singleShot(0, context, [done = std::move(done)] { done(AccessAnswer { true, std::nullopt }); });
}

void EdsCalendarStore::fetchCalendars(QObject* context, CalendarsCallback done)
{
    d->fetchCalendars(context, std::move(done));
}

void EdsCalendarStore::fetchEvents(
    const QStringList& calendarIds, const QDateTime& start, const QDateTime& end, QObject* context, EventsCallback done)
{
    d->fetchEvents(calendarIds, start, end, context, std::move(done));
}
