#include "platform/EdsCalendarStore.h"

#include "platform/EdsStoreWorker.h"

#include <QPointer>
#include <QThread>
#include <QTimer>

using Eds::post;
using Eds::StoreWorker;

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
