#pragma once

// The calendar as the test wants it: the calls the application makes of it are counted, and
// the test emits its requests (openAndRecordRequested) itself.

#include "app/CalendarHooks.h"


class FakeCalendarHooks final : public CalendarHooks
{
public:
    void startAutoStart(ModelContext&) override { ++autoStarts; }
    void syncTitles(ModelContext&) override { ++titleSyncs; }

    int autoStarts = 0;
    int titleSyncs = 0;
};
