#pragma once

#include "platform/Scheduler.h"

#include <QPointer>
#include <algorithm>
#include <vector>

// A scheduler whose time moves only when the test advances it; due calls run in order of
// their due time, then of scheduling.
class FakeScheduler final : public Scheduler
{
public:
    void schedule(std::chrono::milliseconds delay, QObject* context, std::function<void()> call) override
    {
        m_pending.push_back({ m_now + delay, m_sequence++, context, std::move(call) });
    }

    void advance(std::chrono::milliseconds step)
    {
        const auto until = m_now + step;
        for (;;) {
            const auto next = std::min_element(m_pending.begin(), m_pending.end(),
                [](const auto& a, const auto& b) { return a.due != b.due ? a.due < b.due : a.sequence < b.sequence; });
            if (next == m_pending.end() || next->due > until)
                break;
            Pending due = std::move(*next);
            m_pending.erase(next);
            m_now = due.due;
            if (due.context)
                due.call();
        }
        m_now = until;
    }

private:
    struct Pending
    {
        std::chrono::milliseconds due;
        quint64 sequence;
        QPointer<QObject> context;
        std::function<void()> call;
    };

    std::chrono::milliseconds m_now { 0 };
    quint64 m_sequence = 0;
    std::vector<Pending> m_pending;
};
