#pragma once

#include "platform/calendar/EdsCalendarStore.h"
#include "platform/calendar/EdsTimeouts.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <deque>
#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>
#include <map>
#include <optional>

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

namespace Eds {

struct EventRead;
struct CalendarRead;
struct ConnectWaiter;

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
    void stop();

    // --- The registry -------------------------------------------------------------------

    void fetchCalendars(quint64 request);

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
    void later(std::function<void()> fn);
    void answerCalendars(quint64 request, const QList<StoreCalendar>& calendars);
    void startRegistry();
    static void onRegistryCreated(GObject*, GAsyncResult* result, gpointer data);
    void onRegistry(GRef<ESourceRegistry> created);
    void onRegistryLimit();
    void answerRegistryWaiters(const QList<StoreCalendar>& calendars);
    static void onRegistrySignal(StoreWorker* self);
    RegistrySnapshot snapshot() const;
    StoreCalendar calendarOf(ESource* source) const;

    // Every mail identity's address and aliases.
    QSet<QString> identityAddresses() const;

    // The identity of the account the calendar belongs to, and the calendar's own address.
    QSet<QString> ownAddresses(ESource* source) const;
    static void addAddress(QSet<QString>& addresses, const char* address);

    // --- Changes ------------------------------------------------------------------------

    void restartQuiet();
    static void onObjectsChanged(StoreWorker* self, gpointer /*objects*/, ECalClientView* view);
    void onQuiet();

    // A calendar's added, removed or renamed identities change who the current user is.
    void forgetKeptReads();

    // --- Events -------------------------------------------------------------------------

public:
    void fetchEvents(quint64 request, const QStringList& calendarIds, const QDateTime& start, const QDateTime& end);

private:
    void withClient(const QString& id, ESource* source, std::function<void(ECalClient*)> fn);
    static void onConnected(GObject*, GAsyncResult* result, gpointer data);
    void onClient(const QString& id, GRef<ECalClient> client);
    static void onBackendDied(StoreWorker* self, ECalClient* client);
    void dropConnection(const QString& id);
    void dropView(Connection& connection);

    // A view over the window reports edits of the calendar's stored objects.
    void watch(const QString& id, ECalClient* client, const QDateTime& start, const QDateTime& end);
    static void onViewCreated(GObject* client, GAsyncResult* result, gpointer data);
    void onView(const CallContext& context, ECalClient* client, GRef<ECalClientView> view);
    void readOccurrences(const std::shared_ptr<EventRead>& read, qsizetype index, const QString& id, ECalClient* client,
        const QSet<QString>& addresses, const QDateTime& start, const QDateTime& end);

    // Each read holds a connection to the backend busy with its calendar's whole window.
    void startQueuedReads();

    // The data libecal holds for one read.
    struct PendingRead
    {
        std::weak_ptr<StoreWorker> worker;
        std::shared_ptr<CalendarRead> state;
    };

    // The backend's list of the objects of a calendar's window, expanded here into occurrences.
    static void onObjectsListed(GObject* client, GAsyncResult* result, gpointer data);

    // A read may answer the next one when the calendar's view over the same window was
    // reporting before the read was asked for, with no edit since: the backend handles a
    // client's calls in order, so every later edit is reported. Only a read the backend
    // answered is kept.
    void keep(const CalendarRead& state, const QList<StoreEvent>& events);

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

} // namespace Eds
