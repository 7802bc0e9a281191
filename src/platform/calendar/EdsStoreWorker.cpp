#include "platform/calendar/EdsStoreWorker.h"

#include "platform/calendar/EdsOccurrenceExpansion.h"
#include "platform/calendar/EdsOccurrenceReader.h"

#include <algorithm>

namespace Eds {

namespace {

// Calendars whose occurrences are read at the same time.
constexpr int kParallelReads = 4;

} // namespace

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

void StoreWorker::stop()
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

void StoreWorker::fetchCalendars(quint64 request)
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

void StoreWorker::later(std::function<void()> fn)
{
    post(context, [worker = weak_from_this(), fn = std::move(fn)] {
        if (worker.lock())
            fn();
    });
}

void StoreWorker::answerCalendars(quint64 request, const QList<StoreCalendar>& calendars)
{
    if (!stopping)
        Q_EMIT relay->calendarsRead(request, calendars);
}

void StoreWorker::startRegistry()
{
    registryState = RegistryState::Starting;
    registryLate = false;
    registryLimit = timeouts.after(limits.registry, [this] { onRegistryLimit(); });
    e_source_registry_new(cancellable.get(), &StoreWorker::onRegistryCreated, new CallContext(*this));
}

void StoreWorker::onRegistryCreated(GObject*, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
    GError* error = nullptr;
    GRef<ESourceRegistry> registry(e_source_registry_new_finish(result, &error));
    if (error)
        g_error_free(error);
    if (const auto worker = context->worker.lock())
        worker->onRegistry(std::move(registry));
}

void StoreWorker::onRegistry(GRef<ESourceRegistry> created)
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

void StoreWorker::onRegistryLimit()
{
    registryLate = true;
    answerRegistryWaiters({});
}

void StoreWorker::answerRegistryWaiters(const QList<StoreCalendar>& calendars)
{
    for (const quint64 request : std::exchange(registryWaiters, {}))
        answerCalendars(request, calendars);
}

void StoreWorker::onRegistrySignal(StoreWorker* self)
{
    self->registryChanged = true;
    self->restartQuiet();
}

RegistrySnapshot StoreWorker::snapshot() const
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

StoreCalendar StoreWorker::calendarOf(ESource* source) const
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

QSet<QString> StoreWorker::identityAddresses() const
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

QSet<QString> StoreWorker::ownAddresses(ESource* source) const
{
    QSet<QString> addresses;
    if (GRef<ESource> collection {
            e_source_registry_find_extension(registry.get(), source, E_SOURCE_EXTENSION_COLLECTION) }) {
        auto* extension
            = static_cast<ESourceCollection*>(e_source_get_extension(collection.get(), E_SOURCE_EXTENSION_COLLECTION));
        addAddress(addresses, e_source_collection_get_identity(extension));
    }
    if (e_source_has_extension(source, E_SOURCE_EXTENSION_WEBDAV_BACKEND)) {
        auto* webdav = static_cast<ESourceWebdav*>(e_source_get_extension(source, E_SOURCE_EXTENSION_WEBDAV_BACKEND));
        addAddress(addresses, e_source_webdav_get_email_address(webdav));
    }
    return addresses;
}

void StoreWorker::addAddress(QSet<QString>& addresses, const char* address)
{
    const QString bare = bareAddress(text(address));
    if (!bare.isEmpty())
        addresses.insert(bare);
}

void StoreWorker::restartQuiet()
{
    if (stopping)
        return;
    timeouts.cancel(quiet);
    quiet = timeouts.after(limits.quietPeriod, [this] { onQuiet(); });
}

void StoreWorker::onObjectsChanged(StoreWorker* self, gpointer /*objects*/, ECalClientView* view)
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

void StoreWorker::onQuiet()
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
    if (!changed || stopping)
        return;
    // The read that answers this change reads again only the calendars that were edited.
    reuseKeptReads = !registryNews;
    Q_EMIT relay->storeChanged();
}

void StoreWorker::forgetKeptReads()
{
    ++registryEpoch;
    reuseKeptReads = false;
    for (auto& [id, connection] : connections)
        connection.kept.reset();
}

void StoreWorker::fetchEvents(
    quint64 request, const QStringList& calendarIds, const QDateTime& start, const QDateTime& end)
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

void StoreWorker::withClient(const QString& id, ESource* source, std::function<void(ECalClient*)> fn)
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

void StoreWorker::onConnected(GObject*, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
    GError* error = nullptr;
    GRef<ECalClient> client(reinterpret_cast<ECalClient*>(e_cal_client_connect_finish(result, &error)));
    if (error)
        g_error_free(error);
    if (const auto worker = context->worker.lock())
        worker->onClient(context->calendarId, std::move(client));
}

void StoreWorker::onClient(const QString& id, GRef<ECalClient> client)
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

void StoreWorker::onBackendDied(StoreWorker* self, ECalClient* client)
{
    // Let go of it after the emission; the next read connects again.
    for (const auto& [id, connection] : self->connections) {
        if (connection.client.get() == client) {
            self->later([self, id = id] { self->dropConnection(id); });
            return;
        }
    }
}

void StoreWorker::dropConnection(const QString& id)
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

void StoreWorker::dropView(Connection& connection)
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

void StoreWorker::watch(const QString& id, ECalClient* client, const QDateTime& start, const QDateTime& end)
{
    Connection& connection = connections[id];
    if ((connection.view || connection.viewPending) && connection.viewStart == start && connection.viewEnd == end)
        return;
    dropView(connection);
    connection.viewPending = true;
    connection.viewStart = start;
    connection.viewEnd = end;
    // The query of the reads: the backend reports edits of repeating events whatever their
    // dates, and of the others in the window.
    const QString query = objectsQuery(start.toSecsSinceEpoch(), end.toSecsSinceEpoch());
    e_cal_client_get_view(client, query.toUtf8().constData(), cancellable.get(), &StoreWorker::onViewCreated,
        new CallContext(*this, id, start, end));
}

void StoreWorker::onViewCreated(GObject* client, GAsyncResult* result, gpointer data)
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

void StoreWorker::onView(const CallContext& context, ECalClient* client, GRef<ECalClientView> view)
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

void StoreWorker::readOccurrences(const std::shared_ptr<EventRead>& read, qsizetype index, const QString& id,
    ECalClient* client, const QSet<QString>& addresses, const QDateTime& start, const QDateTime& end)
{
    queuedReads.push_back(std::make_shared<CalendarRead>(CalendarRead {
        read,
        index,
        id,
        GRef<ECalClient>(static_cast<ECalClient*>(g_object_ref(client))),
        start,
        end,
        OccurrenceReader(id, addresses, start, end),
        false,
        {},
    }));
    startQueuedReads();
}

void StoreWorker::startQueuedReads()
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
        const QString query = objectsQuery(state->start.toSecsSinceEpoch(), state->end.toSecsSinceEpoch());
        e_cal_client_get_object_list(state->client.get(), query.toUtf8().constData(), cancellable.get(),
            &StoreWorker::onObjectsListed, new PendingRead { weak_from_this(), state });
    }
}

void StoreWorker::onObjectsListed(GObject* client, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PendingRead> read(static_cast<PendingRead*>(data));
    GSList* objects = nullptr;
    GError* error = nullptr;
    const bool listed = e_cal_client_get_object_list_finish(E_CAL_CLIENT(client), result, &objects, &error);
    if (error)
        g_error_free(error);
    const auto worker = read->worker.lock();
    CalendarRead& state = *read->state;
    if (!state.settled) {
        // Each event is expanded on its own and bounded, so one cannot hold up the others.
        if (listed && worker && !worker->stopping) {
            expandOccurrences(state.client.get(), objects, state.start.toSecsSinceEpoch(), state.end.toSecsSinceEpoch(),
                state.reader);
        }
        QList<StoreEvent> events = state.reader.takeEvents();
        if (worker && listed)
            worker->keep(state, events);
        state.settle(std::move(events));
    }
    g_slist_free_full(objects, g_object_unref);
    if (worker)
        --worker->m_pendingCalls;
}

void StoreWorker::keep(const CalendarRead& state, const QList<StoreEvent>& events)
{
    if (stopping || state.registryEpoch != registryEpoch)
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

} // namespace Eds
