#pragma once

#include <QDateTime>

// The wall clock, injectable so that code comparing times can be tested without sleeping.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    // The process-wide system clock.
    static Clock& system();
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};
