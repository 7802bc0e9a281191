#include "library/MinuteTicker.h"

#include "platform/Clock.h"

MinuteTicker::MinuteTicker(const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &MinuteTicker::fire);
}

void MinuteTicker::start()
{
    arm();
    emit tick();
}

void MinuteTicker::stop()
{
    m_timer.stop();
}

void MinuteTicker::fire()
{
    arm();
    emit tick();
}

void MinuteTicker::arm()
{
    constexpr qint64 minute = 60'000;
    qint64 intoMinute = m_clock.now().toMSecsSinceEpoch() % minute;
    if (intoMinute < 0)
        intoMinute += minute;
    // Minutes of the epoch are whole minutes in every zone with a whole-minute offset. A clock
    // that reads a little before the minute when the timer fires gets a second, short wait.
    m_timer.start(int(minute - intoMinute));
}
