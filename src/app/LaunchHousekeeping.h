#pragma once

#include <QtGlobal>

class AppState;
class ArchiveQueue;
class CalendarHooks;
class ModelContext;

// The housekeeping of each time the main window is shown anew, at launch and whenever it comes
// back: the recordings an earlier run left open are repaired, empty meetings go, the recent list
// is fetched again, the archive is handed the finished meetings it lacks, and the meetings set
// to record by themselves are looked after. In that order: the purge must not see a repaired
// recording as still running, and the automatic start must see the store as it now is.
class LaunchHousekeeping final
{
    Q_DISABLE_COPY_MOVE(LaunchHousekeeping)

public:
    struct Services
    {
        ModelContext& store;
        AppState& appState;
        ArchiveQueue& archive;
        CalendarHooks& calendar;
    };

    explicit LaunchHousekeeping(const Services& services)
        : m_services(services)
    { }

    void run();

private:
    Services m_services;
};
