#pragma once

#include <QObject>
#include <chrono>
#include <functional>

// Runs a function once after a delay on the main event loop; injectable so that tests can step
// through delays instead of sleeping them.
class Scheduler
{
public:
    virtual ~Scheduler() = default;

    // Calls call after delay, in context's thread, unless context is destroyed first.
    virtual void schedule(std::chrono::milliseconds delay, QObject* context, std::function<void()> call) = 0;

    // The process-wide scheduler on Qt's timers.
    static Scheduler& system();
};
