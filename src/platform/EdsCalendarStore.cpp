#include "platform/EdsCalendarStore.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <QTimeZone>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <deque>
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>
#include <map>

// Carries the store thread's answers to the main thread: its signals are emitted on the store
// thread and connected, queued, to the store object.
class EdsStoreRelay final : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

Q_SIGNALS:
    void calendarsRead(quint64 request, const QList<StoreCalendar>& calendars);
    void eventsRead(quint64 request, const QList<StoreEvent>& events);
    void storeChanged();
};

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

// The library's object for a libical-glib wrapper. Occurrences are read through libical itself:
// each getter of the wrapper makes a GObject, which made up most of a big week's read.
template <typename Native> Native* nativeOf(gpointer wrapper)
{
    return static_cast<Native*>(i_cal_object_get_native(I_CAL_OBJECT(wrapper)));
}

QDate dateOf(const icaltimetype& time)
{
    return QDate(time.year, time.month, time.day);
}

QTime timeOf(const icaltimetype& time)
{
    return QTime(time.hour, time.minute, time.second);
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

    // Occurrences libecal handed over, those outside the window included.
    qsizetype delivered() const { return m_delivered; }

    void add(ICalComponent* wrapper, ICalTime* startWrapper, ICalTime* endWrapper)
    {
        ++m_delivered;
        icalcomponent* component = nativeOf<icalcomponent>(wrapper);
        const icaltimetype& start = *nativeOf<icaltimetype>(startWrapper);
        const icaltimetype& end = *nativeOf<icaltimetype>(endWrapper);
        const qint64 startSecs = seconds(start);
        const qint64 endSecs = seconds(end);
        // The library's range test includes both ends; an event starting at the window's end
        // belongs to the next window.
        if (startSecs >= m_windowEnd || (endSecs <= m_windowStart && startSecs != m_windowStart))
            return;

        StoreEvent event;
        event.id = eventId(component);
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

private:
    static qint64 seconds(const icaltimetype& time)
    {
        if (time.is_date)
            return QDateTime(dateOf(time), QTime(0, 0), Qt::LocalTime).toSecsSinceEpoch();
        if (icaltime_is_utc(time))
            return icaltime_as_timet_with_zone(time, icaltimezone_get_utc_timezone());
        if (!time.zone)
            return QDateTime(dateOf(time), timeOf(time), Qt::LocalTime).toSecsSinceEpoch();
        return icaltime_as_timet_with_zone(time, time.zone);
    }

    // UTC as UTC, zoned times in their zone, floating times (and all-day dates) in the local
    // zone. The instant comes from libical, which knows the event's own zone definitions.
    QDateTime dateTime(const icaltimetype& time)
    {
        if (time.is_date)
            return QDateTime(dateOf(time), QTime(0, 0), Qt::LocalTime);
        if (icaltime_is_utc(time))
            return QDateTime(dateOf(time), timeOf(time), Qt::UTC);
        if (!time.zone)
            return QDateTime(dateOf(time), timeOf(time), Qt::LocalTime);
        const qint64 secs = icaltime_as_timet_with_zone(time, time.zone);
        const QTimeZone qtZone = qtZoneOf(const_cast<icaltimezone*>(time.zone));
        return qtZone.isValid() ? QDateTime::fromSecsSinceEpoch(secs, qtZone) : QDateTime::fromSecsSinceEpoch(secs);
    }

    QTimeZone qtZoneOf(icaltimezone* zone)
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

    // calendar/UID, and for an occurrence of a repeating event also its RECURRENCE-ID in UTC:
    // stable across reads, different per calendar and per occurrence.
    QString eventId(icalcomponent* component) const
    {
        const char* uid = icalcomponent_get_uid(component);
        if (!uid || !*uid)
            return QUuid::createUuid().toString(QUuid::WithoutBraces);
        QString id = m_calendarId + QLatin1Char('/') + QString::fromUtf8(uid);
        icalproperty* property = icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY);
        if (!property)
            return id;
        const icaltimetype recurrenceId = icalproperty_get_recurrenceid(property);
        if (icaltime_is_null_time(recurrenceId))
            return id;
        id += QLatin1Char('/');
        if (recurrenceId.is_date)
            return id + dateOf(recurrenceId).toString(QStringLiteral("yyyyMMdd"));
        const icaltimezone* zone = nullptr;
        if (icaltime_is_utc(recurrenceId)) {
            zone = icaltimezone_get_utc_timezone();
        } else {
            icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
            ICalTimezone* named = tzid ? zoneForTzid(m_client, icalparameter_get_tzid(tzid)) : nullptr;
            if (!named)
                named = e_cal_client_get_default_timezone(m_client);
            zone = named ? nativeOf<icaltimezone>(named) : nullptr;
        }
        const qint64 secs = icaltime_as_timet_with_zone(recurrenceId, zone);
        return id + QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toString(kUtcFormat);
    }

    QString m_calendarId;
    ECalClient* m_client;
    QSet<QString> m_userAddresses;
    qint64 m_windowStart;
    qint64 m_windowEnd;
    QHash<icaltimezone*, QTimeZone> m_zones;
    QList<StoreEvent> m_events;
    qsizetype m_delivered = 0;
};

// Runs fn on the thread that iterates `context`, after everything posted there before.
void post(GMainContext* context, std::function<void()> fn)
{
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(fn)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, context);
    g_source_unref(source);
}

// One-shot timers on the store thread's context. Those still waiting end with their owner.
class Timeouts
{
public:
    using Id = quint64;

    explicit Timeouts(GMainContext* context)
        : m_context(context)
    { }
    ~Timeouts() { cancelAll(); }
    Q_DISABLE_COPY_MOVE(Timeouts)

    Id after(std::chrono::milliseconds delay, std::function<void()> fn)
    {
        const Id id = ++m_lastId;
        GSource* source = g_timeout_source_new(guint(std::max<qint64>(0, delay.count())));
        g_source_set_callback(source, &Timeouts::fire, new Pending { this, id, std::move(fn) },
            [](gpointer data) { delete static_cast<Pending*>(data); });
        g_source_attach(source, m_context);
        m_waiting.emplace(id, source);
        return id;
    }

    void cancel(Id id)
    {
        const auto it = m_waiting.find(id);
        if (it == m_waiting.end())
            return;
        GSource* source = it->second;
        m_waiting.erase(it);
        g_source_destroy(source);
        g_source_unref(source);
    }

    void cancelAll()
    {
        while (!m_waiting.empty())
            cancel(m_waiting.begin()->first);
    }

private:
    struct Pending
    {
        Timeouts* owner;
        Id id;
        std::function<void()> fn;
    };

    static gboolean fire(gpointer data)
    {
        auto* pending = static_cast<Pending*>(data);
        // The dispatch holds the source and this data until fn returns.
        const auto it = pending->owner->m_waiting.find(pending->id);
        if (it != pending->owner->m_waiting.end()) {
            g_source_unref(it->second);
            pending->owner->m_waiting.erase(it);
        }
        pending->fn();
        return G_SOURCE_REMOVE;
    }

    GMainContext* m_context;
    Id m_lastId = 0;
    std::map<Id, GSource*> m_waiting;
};

// One fetchEvents call: the calendars' answers in their given order, handed over once all came.
struct EventRead
{
    std::function<void(const QList<StoreEvent>&)> deliver;
    QList<std::optional<QList<StoreEvent>>> perCalendar;
    qsizetype pending = 0;

    void finish(qsizetype index, QList<StoreEvent> events)
    {
        if (perCalendar[index])
            return;
        perCalendar[index] = std::move(events);
        if (--pending == 0)
            complete();
    }

    void complete()
    {
        QList<StoreEvent> all;
        for (const auto& events : std::as_const(perCalendar))
            all.append(*events);
        deliver(all);
    }
};

struct CalendarRead
{
    std::shared_ptr<EventRead> read;
    qsizetype index = 0;
    QString calendarId;
    GRef<ECalClient> client;
    QDateTime start;
    QDateTime end;
    OccurrenceReader reader;
    bool settled = false;
    std::function<void()> released; // lets the next read start
    // What decides whether the answer may be kept for the next read: see StoreWorker::keep.
    quint64 issued = 0;
    quint64 edits = 0;
    quint64 registryEpoch = 0;

    void settle(QList<StoreEvent> events)
    {
        if (settled)
            return;
        settled = true;
        read->finish(index, std::move(events));
        if (released)
            std::exchange(released, {})();
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
        std::exchange(fn, {})(client);
    }
};

// What a change of the registry could change for a reader.
struct RegistrySnapshot
{
    QList<StoreCalendar> calendars; // by id
    QStringList addresses; // every address that is the user's somewhere, sorted
    friend bool operator==(const RegistrySnapshot&, const RegistrySnapshot&) = default;
};

// Everything that touches libecal, on the store thread: every call is made there, with the
// thread's context as the thread default, so every callback and signal comes back there too.
// Answers leave through the relay. Callbacks hold it weakly: a call that outlives shutdown
// (a store that hangs) finds it gone.
class StoreWorker final : public std::enable_shared_from_this<StoreWorker>
{
public:
    using Limits = EdsCalendarStore::Limits;

    StoreWorker(GMainContext* context, Limits limits, EdsStoreRelay* relay)
        : limits(limits)
        , relay(relay)
        , context(context)
        , cancellable(g_cancellable_new())
        , timeouts(context)
    { }

    ~StoreWorker() { stop(); }
    Q_DISABLE_COPY_MOVE(StoreWorker)

    // Calls that have not answered yet, cancelled ones included.
    int pendingCalls() const { return m_pendingCalls; }

    // Lets go of every client, view and the registry; calls in flight are cancelled.
    void stop()
    {
        stopping = true;
        g_cancellable_cancel(cancellable.get());
        timeouts.cancelAll();
        queuedReads.clear();
        while (!connections.empty())
            dropConnection(connections.begin()->first);
        if (registry)
            g_signal_handlers_disconnect_by_data(registry.get(), this);
        registry.reset();
        registryWaiters.clear();
    }

    // --- The registry -------------------------------------------------------------------

    void fetchCalendars(quint64 request)
    {
        switch (registryState) {
        case RegistryState::Ready:
            lastSnapshot = snapshot();
            answerCalendars(request, lastSnapshot.calendars);
            return;
        case RegistryState::Starting:
            if (registryLate)
                answerCalendars(request, {});
            else
                registryWaiters.append(request);
            return;
        case RegistryState::NotStarted:
        case RegistryState::Failed:
            registryWaiters.append(request);
            startRegistry();
            return;
        }
    }

private:
    enum class RegistryState { NotStarted, Starting, Ready, Failed };

    // The last complete read of a calendar whose view has reported no edit since.
    struct KeptRead
    {
        QDateTime start;
        QDateTime end;
        QList<StoreEvent> events;
    };

    struct Connection
    {
        GRef<ECalClient> client;
        bool connecting = false;
        QList<std::shared_ptr<ConnectWaiter>> waiters;
        GRef<ECalClientView> view;
        bool viewPending = false;
        QDateTime viewStart;
        QDateTime viewEnd;
        // The step at which the view started reporting edits; 0 while it does not.
        quint64 viewReporting = 0;
        // Edit signals of the view so far.
        quint64 edits = 0;
        std::optional<KeptRead> kept;
    };

    // Heap data for one asynchronous call, counted until it answers.
    struct CallContext
    {
        explicit CallContext(StoreWorker& worker, QString calendarId = {}, QDateTime start = {}, QDateTime end = {})
            : worker(worker.weak_from_this())
            , calendarId(std::move(calendarId))
            , start(std::move(start))
            , end(std::move(end))
        {
            ++worker.m_pendingCalls;
        }
        ~CallContext()
        {
            if (const auto alive = worker.lock())
                --alive->m_pendingCalls;
        }
        Q_DISABLE_COPY_MOVE(CallContext)

        std::weak_ptr<StoreWorker> worker;
        QString calendarId;
        QDateTime start;
        QDateTime end;
    };

    // Runs fn in a later turn of the store thread's loop, unless the worker is gone by then.
    void later(std::function<void()> fn)
    {
        post(context, [worker = weak_from_this(), fn = std::move(fn)] {
            if (worker.lock())
                fn();
        });
    }

    void answerCalendars(quint64 request, const QList<StoreCalendar>& calendars)
    {
        if (!stopping)
            Q_EMIT relay->calendarsRead(request, calendars);
    }

    void startRegistry()
    {
        registryState = RegistryState::Starting;
        registryLate = false;
        registryLimit = timeouts.after(limits.registry, [this] { onRegistryLimit(); });
        e_source_registry_new(cancellable.get(), &StoreWorker::onRegistryCreated, new CallContext(*this));
    }

    static void onRegistryCreated(GObject*, GAsyncResult* result, gpointer data)
    {
        std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
        GError* error = nullptr;
        GRef<ESourceRegistry> registry(e_source_registry_new_finish(result, &error));
        if (error)
            g_error_free(error);
        if (const auto worker = context->worker.lock())
            worker->onRegistry(std::move(registry));
    }

    void onRegistry(GRef<ESourceRegistry> created)
    {
        if (stopping)
            return;
        timeouts.cancel(registryLimit);
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
            g_signal_connect_swapped(registry.get(), signal, G_CALLBACK(&StoreWorker::onRegistrySignal), this);
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
        for (const quint64 request : std::exchange(registryWaiters, {}))
            answerCalendars(request, calendars);
    }

    static void onRegistrySignal(StoreWorker* self)
    {
        self->registryChanged = true;
        self->restartQuiet();
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
        calendar.color = color.isValid() ? color : CalendarStore::kFallbackColor;
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

    void restartQuiet()
    {
        if (stopping)
            return;
        timeouts.cancel(quiet);
        quiet = timeouts.after(limits.quietPeriod, [this] { onQuiet(); });
    }

    static void onObjectsChanged(StoreWorker* self, gpointer /*objects*/, ECalClientView* view)
    {
        for (auto& [id, connection] : self->connections) {
            if (connection.view.get() == view) {
                ++connection.edits;
                connection.kept.reset();
            }
        }
        self->objectsChanged = true;
        self->restartQuiet();
    }

    void onQuiet()
    {
        quiet = 0;
        bool changed = std::exchange(objectsChanged, false);
        bool registryNews = false;
        if (std::exchange(registryChanged, false) && registry) {
            // Connecting a calendar rewrites its source's connection status, which the
            // registry reports as a change: only what a reader sees counts.
            const RegistrySnapshot now = snapshot();
            if (now != lastSnapshot) {
                lastSnapshot = now;
                changed = registryNews = true;
            }
        }
        if (registryNews)
            forgetKeptReads();
        if (!changed)
            return;
        // The read that answers this change reads again only the calendars that were edited.
        reuseKeptReads = !registryNews;
        Q_EMIT relay->storeChanged();
    }

    // A calendar's added, removed or renamed identities change who the current user is.
    void forgetKeptReads()
    {
        ++registryEpoch;
        reuseKeptReads = false;
        for (auto& [id, connection] : connections)
            connection.kept.reset();
    }

    // --- Events -------------------------------------------------------------------------

public:
    void fetchEvents(quint64 request, const QStringList& calendarIds, const QDateTime& start, const QDateTime& end)
    {
        // Only the read that follows a reported edit: every other one (a resync of the
        // user's, the periodic one, a new window) reads every calendar, in case a view missed
        // an edit.
        const bool reuse = std::exchange(reuseKeptReads, false);
        auto read = std::make_shared<EventRead>();
        read->deliver = [worker = weak_from_this(), request](const QList<StoreEvent>& events) {
            if (const auto alive = worker.lock(); alive && !alive->stopping)
                Q_EMIT alive->relay->eventsRead(request, events);
        };
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
            read->complete();
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
            if (reuse) {
                if (const auto it = connections.find(id); it != connections.end()) {
                    const std::optional<KeptRead>& kept = it->second.kept;
                    if (kept && kept->start == start && kept->end == end) {
                        read->finish(index, kept->events);
                        continue;
                    }
                }
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

private:
    void withClient(const QString& id, ESource* source, std::function<void(ECalClient*)> fn)
    {
        Connection& connection = connections[id];
        if (connection.client) {
            fn(connection.client.get());
            return;
        }
        auto waiter = std::make_shared<ConnectWaiter>(ConnectWaiter { std::move(fn) });
        connection.waiters.append(waiter);
        timeouts.after(limits.calendar, [waiter = std::weak_ptr<ConnectWaiter>(waiter)] {
            if (const auto alive = waiter.lock())
                alive->answer(nullptr);
        });
        if (connection.connecting)
            return;
        connection.connecting = true;
        // -1: do not wait for a remote calendar to come online; our own limit applies.
        e_cal_client_connect(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, guint32(-1), cancellable.get(),
            &StoreWorker::onConnected, new CallContext(*this, id));
    }

    static void onConnected(GObject*, GAsyncResult* result, gpointer data)
    {
        std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
        GError* error = nullptr;
        GRef<ECalClient> client(reinterpret_cast<ECalClient*>(e_cal_client_connect_finish(result, &error)));
        if (error)
            g_error_free(error);
        if (const auto worker = context->worker.lock())
            worker->onClient(context->calendarId, std::move(client));
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
            g_signal_connect_swapped(client.get(), "backend-died", G_CALLBACK(&StoreWorker::onBackendDied), this);
            it->client = std::move(client);
        }
        for (const auto& waiter : waiters)
            waiter->answer(it->client.get());
    }

    static void onBackendDied(StoreWorker* self, ECalClient* client)
    {
        // Let go of it after the emission; the next read connects again.
        for (const auto& [id, connection] : self->connections) {
            if (connection.client.get() == client) {
                self->later([self, id = id] { self->dropConnection(id); });
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
        connection.viewReporting = 0;
        connection.kept.reset();
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
        e_cal_client_get_view(client, query.toUtf8().constData(), cancellable.get(), &StoreWorker::onViewCreated,
            new CallContext(*this, id, start, end));
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
        if (const auto worker = context->worker.lock())
            worker->onView(*context, E_CAL_CLIENT(client), std::move(view));
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
            g_signal_connect_swapped(view.get(), signal, G_CALLBACK(&StoreWorker::onObjectsChanged), this);
        // Both are short calls to a backend that has just answered. Without the flag the
        // backend would first send every object of the window, which this layer never reads.
        e_cal_client_view_set_flags(view.get(), E_CAL_CLIENT_VIEW_FLAGS_NONE, nullptr);
        GError* error = nullptr;
        e_cal_client_view_start(view.get(), &error);
        if (error)
            g_error_free(error);
        else
            it->viewReporting = ++steps;
        it->view = std::move(view);
    }

    void readOccurrences(const std::shared_ptr<EventRead>& read, qsizetype index, const QString& id, ECalClient* client,
        const QSet<QString>& addresses, const QDateTime& start, const QDateTime& end)
    {
        queuedReads.push_back(std::make_shared<CalendarRead>(CalendarRead {
            read,
            index,
            id,
            GRef<ECalClient>(static_cast<ECalClient*>(g_object_ref(client))),
            start,
            end,
            OccurrenceReader(id, client, addresses, start, end),
            false,
            {},
        }));
        startQueuedReads();
    }

    // Each read holds a connection to the backend busy with its calendar's whole window.
    void startQueuedReads()
    {
        while (!stopping && readsInFlight < kParallelReads && !queuedReads.empty()) {
            std::shared_ptr<CalendarRead> state = std::move(queuedReads.front());
            queuedReads.pop_front();
            ++readsInFlight;
            const Timeouts::Id limit = timeouts.after(limits.calendar, [weak = std::weak_ptr<CalendarRead>(state)] {
                if (const auto alive = weak.lock())
                    alive->settle({});
            });
            state->issued = ++steps;
            state->registryEpoch = registryEpoch;
            if (const auto it = connections.find(state->calendarId); it != connections.end())
                state->edits = it->second.edits;
            state->released = [worker = weak_from_this(), limit] {
                const auto alive = worker.lock();
                if (!alive)
                    return;
                alive->timeouts.cancel(limit);
                --alive->readsInFlight;
                alive->later([self = alive.get()] { self->startQueuedReads(); });
            };
            ++m_pendingCalls;
            // libecal expands the occurrences in the callback that delivers the objects, and
            // calls back per occurrence; it releases the data once the read is over, also when
            // it failed or was cancelled.
            e_cal_client_generate_instances(state->client.get(),
                time_t(state->start.toSecsSinceEpoch() - kZoneMarginSecs),
                time_t(state->end.toSecsSinceEpoch() + kZoneMarginSecs), cancellable.get(), &StoreWorker::onOccurrence,
                new PendingRead { weak_from_this(), state }, &StoreWorker::onOccurrencesDone);
        }
    }

    // The data libecal holds for one read.
    struct PendingRead
    {
        std::weak_ptr<StoreWorker> worker;
        std::shared_ptr<CalendarRead> state;
    };

    static gboolean onOccurrence(
        ICalComponent* component, ICalTime* start, ICalTime* end, gpointer data, GCancellable*, GError**)
    {
        CalendarRead& state = *static_cast<PendingRead*>(data)->state;
        if (state.settled)
            return FALSE;
        state.reader.add(component, start, end);
        return TRUE;
    }

    static void onOccurrencesDone(gpointer data)
    {
        std::unique_ptr<PendingRead> read(static_cast<PendingRead*>(data));
        const auto worker = read->worker.lock();
        CalendarRead& state = *read->state;
        if (!state.settled) {
            QList<StoreEvent> events = state.reader.takeEvents();
            if (worker)
                worker->keep(state, events);
            state.settle(std::move(events));
        }
        if (worker)
            --worker->m_pendingCalls;
    }

    // A read may answer the next one when the calendar's view over the same window was
    // reporting before the read was asked for, with no edit since: the backend handles a
    // client's calls in order, so every later edit is reported. libecal does not say whether a
    // read failed, only that it is over, and a failed read delivers nothing: a read that
    // delivered nothing is not kept (it is cheap to repeat).
    void keep(const CalendarRead& state, const QList<StoreEvent>& events)
    {
        if (stopping || state.reader.delivered() == 0 || state.registryEpoch != registryEpoch)
            return;
        const auto it = connections.find(state.calendarId);
        if (it == connections.end())
            return;
        Connection& connection = it->second;
        if (connection.client.get() != state.client.get() || connection.viewReporting == 0
            || connection.viewReporting >= state.issued || connection.edits != state.edits
            || connection.viewStart != state.start || connection.viewEnd != state.end)
            return;
        connection.kept = KeptRead { state.start, state.end, events };
    }

    Limits limits;
    EdsStoreRelay* relay;
    GMainContext* context;
    GRef<GCancellable> cancellable;
    Timeouts timeouts;
    bool stopping = false;
    int m_pendingCalls = 0;

    RegistryState registryState = RegistryState::NotStarted;
    bool registryLate = false;
    GRef<ESourceRegistry> registry;
    Timeouts::Id registryLimit = 0;
    QList<quint64> registryWaiters;
    RegistrySnapshot lastSnapshot;

    Timeouts::Id quiet = 0;
    bool objectsChanged = false;
    bool registryChanged = false;
    bool reuseKeptReads = false;
    quint64 registryEpoch = 0;
    // Orders a view's start before the reads asked for after it.
    quint64 steps = 0;

    std::map<QString, Connection> connections;
    std::deque<std::shared_ptr<CalendarRead>> queuedReads;
    int readsInFlight = 0;
};

} // namespace

// The main thread's side: requests go to the store thread as posted tasks, answers come back
// through the relay and find their caller by request number.
class EdsCalendarStore::Private
{
public:
    Private(EdsCalendarStore* q, Limits limits)
        : limits(limits)
        , context(g_main_context_new())
    {
        QObject::connect(
            &relay, &EdsStoreRelay::calendarsRead, q,
            [this](quint64 request, const QList<StoreCalendar>& calendars) {
                auto node = calendarRequests.extract(request);
                if (!node.empty() && node.mapped().first)
                    node.mapped().second(calendars);
            },
            Qt::QueuedConnection);
        QObject::connect(
            &relay, &EdsStoreRelay::eventsRead, q,
            [this](quint64 request, const QList<StoreEvent>& events) {
                auto node = eventRequests.extract(request);
                if (!node.empty() && node.mapped().first)
                    node.mapped().second(events);
            },
            Qt::QueuedConnection);
        QObject::connect(&relay, &EdsStoreRelay::storeChanged, q, &CalendarStore::changed, Qt::QueuedConnection);
        thread.reset(QThread::create([this] { run(); }));
        thread->setObjectName(QStringLiteral("com.orvane.quillet.calendar"));
        thread->start();
    }

    ~Private()
    {
        post(context, [this] {
            worker->stop();
            g_main_loop_quit(loop);
        });
        thread->wait();
    }

    void fetchCalendars(QObject* caller, CalendarsCallback done)
    {
        const quint64 request = ++lastRequest;
        calendarRequests.emplace(request, std::make_pair(QPointer<QObject>(caller), std::move(done)));
        post(context, [this, request] { worker->fetchCalendars(request); });
    }

    void fetchEvents(const QStringList& calendarIds, const QDateTime& start, const QDateTime& end, QObject* caller,
        EventsCallback done)
    {
        const quint64 request = ++lastRequest;
        eventRequests.emplace(request, std::make_pair(QPointer<QObject>(caller), std::move(done)));
        post(context,
            [this, request, calendarIds, start, end] { worker->fetchEvents(request, calendarIds, start, end); });
    }

private:
    // Cancelled calls still answer through the context; their data is freed when they do. A
    // store that hangs may not answer for half a minute, and shutdown does not wait for that.
    static constexpr std::chrono::milliseconds kDrainLimit { 1000 };

    // The store thread: everything posted to it, every libecal call and callback.
    void run()
    {
        g_main_context_push_thread_default(context);
        loop = g_main_loop_new(context, FALSE);
        auto owned = std::make_shared<StoreWorker>(context, limits, &relay);
        worker = owned.get();
        g_main_loop_run(loop);

        bool drained = false;
        GSource* limit = g_timeout_source_new(guint(kDrainLimit.count()));
        g_source_set_callback(
            limit,
            [](gpointer data) -> gboolean {
                *static_cast<bool*>(data) = true;
                return G_SOURCE_REMOVE;
            },
            &drained, nullptr);
        g_source_attach(limit, context);
        while (owned->pendingCalls() > 0 && !drained)
            g_main_context_iteration(context, TRUE);
        g_source_destroy(limit);
        g_source_unref(limit);

        worker = nullptr;
        owned.reset();
        g_main_loop_unref(loop);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    using CalendarRequest = std::pair<QPointer<QObject>, CalendarsCallback>;
    using EventRequest = std::pair<QPointer<QObject>, EventsCallback>;

    const Limits limits;
    EdsStoreRelay relay;
    quint64 lastRequest = 0;
    std::map<quint64, CalendarRequest> calendarRequests;
    std::map<quint64, EventRequest> eventRequests;

    GMainContext* const context;
    // Both only touched on the store thread.
    GMainLoop* loop = nullptr;
    StoreWorker* worker = nullptr;
    std::unique_ptr<QThread> thread;
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

#include "EdsCalendarStore.moc"
