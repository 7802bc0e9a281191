#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM (logging out, `kill`, a service manager), SIGINT (Ctrl-C in a terminal), SIGHUP (the
// terminal closed) and SIGQUIT (Ctrl-\ in a terminal) would end the process on the spot, with
// what was typed last unsaved. While an instance exists they are turned into received(),
// emitted on the main thread, so the application can quit through its normal path. A second
// signal of the same kind ends the process at once, as it would have without us: a user
// pressing Ctrl-C twice means it. One instance at a time.
class TerminationSignals final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationSignals)

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    // Gives the signals back their default action.
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier* m_notifier = nullptr;
};
