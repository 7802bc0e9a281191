#include "platform/CueGate.h"

#include <atomic>
#include <chrono>

namespace {

std::atomic<qint64> g_activeUntilMs{0};

qint64 steadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

namespace CueGate {

void notePlayback(qint64 durationMs)
{
    const qint64 until = steadyNowMs() + durationMs + kTailMs;
    qint64 current = g_activeUntilMs.load();
    while (current < until && !g_activeUntilMs.compare_exchange_weak(current, until)) {
    }
}

bool isActive()
{
    return steadyNowMs() < g_activeUntilMs.load();
}

void reset()
{
    g_activeUntilMs.store(0);
}

qint64 markedUntilMs()
{
    return g_activeUntilMs.load();
}

} // namespace CueGate
