#pragma once

#include <QtGlobal>
#include <functional>

// Some ends of the process come as a call to exit() from deep inside a library while the
// application's objects are alive: Qt's X11 connection calls exit(1) when the display goes away
// (the X server ends at logout), and so does Xlib's I/O error handler. exit() destroys nothing
// on the stack, so the normal quit never runs. While an instance exists, such an exit first
// calls beforeExit, provided it is called on the thread that made the instance (another
// thread's exit calls nothing: the objects beforeExit uses belong to this one). One instance
// at a time.
class ExitGuard final
{
    Q_DISABLE_COPY_MOVE(ExitGuard)

public:
    explicit ExitGuard(std::function<void()> beforeExit);
    // From here on an exit() calls nothing: the normal quit has run, or is running.
    ~ExitGuard();

private:
    std::function<void()> m_beforeExit;
};
