#pragma once

#include <QMetaObject>
#include <QObject>
#include <mutex>

// Hands calls from worker threads to an object of the main thread that may be destroyed
// first (an upload or a summary under way can outlive whoever asked for it). Share it with
// the workers in a std::shared_ptr; the owner closes it in its destructor, after which posts
// are dropped, and calls already queued die with the owner.
class Mailbox final
{
public:
    explicit Mailbox(QObject* target)
        : m_target(target)
    { }

    template <typename Function> void post(Function function)
    {
        std::lock_guard lock(m_mutex);
        if (m_target)
            QMetaObject::invokeMethod(m_target, std::move(function), Qt::QueuedConnection);
    }

    void close()
    {
        std::lock_guard lock(m_mutex);
        m_target = nullptr;
    }

private:
    std::mutex m_mutex;
    QObject* m_target;
};
