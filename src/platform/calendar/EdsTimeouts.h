#pragma once

// The store thread's GLib plumbing: references, posted tasks and timers on its main context.
#include <QtGlobal>
#include <functional>
#include <glib-object.h>
#include <map>
#include <memory>

namespace Eds {

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

// Runs fn on the thread that iterates `context`, after everything posted there before.
inline void post(GMainContext* context, std::function<void()> fn)
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

} // namespace Eds
