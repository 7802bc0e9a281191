#include "platform/Scheduler.h"

#include <QTimer>

namespace {

class TimerScheduler final : public Scheduler
{
public:
    void schedule(std::chrono::milliseconds delay, QObject* context, std::function<void()> call) override
    {
        QTimer::singleShot(delay, context, std::move(call));
    }
};

} // namespace

Scheduler& Scheduler::system()
{
    static TimerScheduler scheduler;
    return scheduler;
}
