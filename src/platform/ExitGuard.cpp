#include "platform/ExitGuard.h"

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

// The guard in effect and its thread; the handler registered with atexit() (which cannot be
// taken back) reads them.
std::atomic<std::function<void()>*> current = nullptr;
std::thread::id owner;

void runBeforeExit()
{
    std::function<void()>* beforeExit = current.load();
    if (!beforeExit || std::this_thread::get_id() != owner)
        return;
    // Once: a second exit() from inside beforeExit finds nothing to call.
    if (current.compare_exchange_strong(beforeExit, nullptr))
        (*beforeExit)();
}

} // namespace

ExitGuard::ExitGuard(std::function<void()> beforeExit)
    : m_beforeExit(std::move(beforeExit))
{
    [[maybe_unused]] static const bool registered = std::atexit(runBeforeExit) == 0;
    owner = std::this_thread::get_id();
    current = &m_beforeExit;
}

ExitGuard::~ExitGuard()
{
    std::function<void()>* mine = &m_beforeExit;
    current.compare_exchange_strong(mine, nullptr);
}
