#pragma once

#include <QObject>
#include <QTimer>

class Clock;

// Calls back at the start of every minute of the injected clock while running: one precise
// single-shot timer, armed each time for the next whole minute, so that ticks do not drift.
// start() ticks at once; stop() leaves no timer behind. Main thread.
class MinuteTicker final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MinuteTicker)

public:
    explicit MinuteTicker(const Clock& clock, QObject* parent = nullptr);

    bool isRunning() const { return m_timer.isActive(); }

    void start();
    void stop();

signals:
    void tick();

private:
    void fire();
    void arm();

    const Clock& m_clock;
    QTimer m_timer;
};
