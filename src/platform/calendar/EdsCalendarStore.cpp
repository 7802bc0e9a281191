#include "platform/calendar/EdsCalendarStore.h"

#include "platform/calendar/EdsStoreWorker.h"

#include <QPointer>
#include <QTimer>
#include <condition_variable>
#include <mutex>
#include <pthread.h>
#include <thread>

using Eds::post;
using Eds::StoreWorker;

// The main thread's side: requests go to the store thread as posted tasks, answers come back
// through the relay and find their caller by request number.
class EdsCalendarStore::Private
{
public:
    Private(EdsCalendarStore* q, Limits limits)
        : limits(limits)
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
        thread = std::thread([state = state, limits = limits, relay = &relay] { run(state, limits, relay); });
    }

    ~Private()
    {
        post(state->context, [state = state] {
            state->worker->stop();
            g_main_loop_quit(state->loop);
        });
        std::unique_lock lock(state->mutex);
        state->released.wait(lock, [&] { return state->mayLeave; });
        lock.unlock();
        thread.detach();
    }

    void fetchCalendars(QObject* caller, CalendarsCallback done)
    {
        const quint64 request = ++lastRequest;
        calendarRequests.emplace(request, std::make_pair(QPointer<QObject>(caller), std::move(done)));
        post(state->context, [state = state, request] { state->worker->fetchCalendars(request); });
    }

    void fetchEvents(const QStringList& calendarIds, const QDateTime& start, const QDateTime& end, QObject* caller,
        EventsCallback done)
    {
        const quint64 request = ++lastRequest;
        eventRequests.emplace(request, std::make_pair(QPointer<QObject>(caller), std::move(done)));
        post(state->context, [state = state, request, calendarIds, start, end] {
            state->worker->fetchEvents(request, calendarIds, start, end);
        });
    }

private:
    // What the store thread owns. It outlives the store when calls are still out at shutdown.
    struct ThreadState
    {
        ~ThreadState() { g_main_context_unref(context); }

        GMainContext* const context = g_main_context_new();
        // Both only touched on the store thread.
        GMainLoop* loop = nullptr;
        StoreWorker* worker = nullptr;

        std::mutex mutex;
        std::condition_variable released;
        bool mayLeave = false;
    };

    // Cancelled calls still answer through the context; their data is freed when they do. A
    // store that hangs may not answer for half a minute, and shutdown does not wait for that:
    // after this long the store is let go, while its thread goes on until the last call has
    // answered. A call left unanswered on a context nobody runs would keep what it holds
    // forever, and the registry it may hold is one for the whole process: a registry whose
    // start was cancelled keeps answering every later store with that cancellation.
    static constexpr std::chrono::milliseconds kDrainLimit { 1000 };
    static constexpr std::chrono::seconds kAbandonLimit { 120 };

    // The store thread: everything posted to it, every libecal call and callback.
    static void run(const std::shared_ptr<ThreadState>& state, Limits limits, EdsStoreRelay* relay)
    {
        pthread_setname_np(pthread_self(), "quillet-calend");
        g_main_context_push_thread_default(state->context);
        state->loop = g_main_loop_new(state->context, FALSE);
        auto owned = std::make_shared<StoreWorker>(state->context, limits, relay);
        state->worker = owned.get();
        g_main_loop_run(state->loop);

        const auto release = [&] {
            const std::lock_guard lock(state->mutex);
            state->mayLeave = true;
            state->released.notify_all();
        };
        drain(*state, *owned, kDrainLimit);
        // From here on nothing reaches the relay (the worker is stopping), so the store may go.
        release();
        drain(*state, *owned, kAbandonLimit);

        state->worker = nullptr;
        owned.reset();
        g_main_loop_unref(state->loop);
        g_main_context_pop_thread_default(state->context);
    }

    static void drain(ThreadState& state, const StoreWorker& worker, std::chrono::milliseconds limit)
    {
        bool drained = false;
        GSource* timeout = g_timeout_source_new(guint(limit.count()));
        g_source_set_callback(
            timeout,
            [](gpointer data) -> gboolean {
                *static_cast<bool*>(data) = true;
                return G_SOURCE_REMOVE;
            },
            &drained, nullptr);
        g_source_attach(timeout, state.context);
        while (worker.pendingCalls() > 0 && !drained)
            g_main_context_iteration(state.context, TRUE);
        g_source_destroy(timeout);
        g_source_unref(timeout);
    }

    using CalendarRequest = std::pair<QPointer<QObject>, CalendarsCallback>;
    using EventRequest = std::pair<QPointer<QObject>, EventsCallback>;

    const Limits limits;
    EdsStoreRelay relay;
    quint64 lastRequest = 0;
    std::map<quint64, CalendarRequest> calendarRequests;
    std::map<quint64, EventRequest> eventRequests;

    const std::shared_ptr<ThreadState> state = std::make_shared<ThreadState>();
    std::thread thread;
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
