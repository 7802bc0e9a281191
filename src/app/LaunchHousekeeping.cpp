#include "app/LaunchHousekeeping.h"

#include "app/AppState.h"
#include "app/CalendarHooks.h"
#include "archive/ArchiveQueue.h"

void LaunchHousekeeping::run()
{
    ModelContext& store = m_services.store;
    AppState& state = m_services.appState;
    state.finalizeStaleRecordings(store);
    state.purgeEmptyMeetings(store);
    state.refreshRecentMeetings(store);
    m_services.archive.backfill();
    m_services.calendar.startAutoStart(store);
}
