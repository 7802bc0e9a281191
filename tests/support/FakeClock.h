#pragma once

#include "platform/Clock.h"

#include <QDateTime>

#include <mutex>

// A clock that stands still until the test moves it.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(9, 5), Qt::UTC))
        : m_now(std::move(start))
    {
    }

    QDateTime now() const override
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }

    void set(const QDateTime& time)
    {
        std::lock_guard lock(m_mutex);
        m_now = time;
    }

    void advanceMs(qint64 ms)
    {
        std::lock_guard lock(m_mutex);
        m_now = m_now.addMSecs(ms);
    }

private:
    mutable std::mutex m_mutex;
    QDateTime m_now;
};
