#include "platform/TerminationSignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The self-pipe: a signal handler may only do async-signal-safe work, so it writes the signal
// number here and the main thread reads it from its event loop.
int pipeEnds[2] = { -1, -1 };

// SIGHUP: the terminal it was started from closed. SIGQUIT: Ctrl-\ there, or `kill -QUIT`,
// whose core dump would save nothing typed.
constexpr int kSignals[] = { SIGTERM, SIGINT, SIGHUP, SIGQUIT };

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

void setHandler(int signalNumber, void (*handler)(int), int flags)
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    sigaction(signalNumber, &action, nullptr);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return;
    m_notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    // SA_RESETHAND: the handler runs once; the next signal of the kind has its default action.
    for (const int signalNumber : kSignals)
        setHandler(signalNumber, onSignal, SA_RESTART | SA_RESETHAND);
}

TerminationSignals::~TerminationSignals()
{
    for (const int signalNumber : kSignals)
        setHandler(signalNumber, SIG_DFL, 0);
    delete m_notifier;
    for (int& end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void TerminationSignals::drain()
{
    char byte = 0;
    while (::read(pipeEnds[0], &byte, 1) == 1)
        emit received(int(byte));
}
