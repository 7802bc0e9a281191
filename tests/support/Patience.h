#pragma once

// Compiled into every test ahead of its own code. Qt Test's waits give up after 5 s by default,
// which a sanitizer build on a loaded machine can need for a single event-loop round trip.
// A wait returns as soon as its condition holds, so a longer limit costs a passing test nothing;
// it only makes a failing one report later. Waits that must end sooner say so themselves.
#include <QTest>

inline constexpr int kPatientWaitMs = 60'000;

#undef QTRY_VERIFY
#undef QTRY_VERIFY2
#undef QTRY_COMPARE
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, kPatientWaitMs)
#define QTRY_VERIFY2(expr, messageExpression) QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, kPatientWaitMs)
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, kPatientWaitMs)
