#pragma once

#include <QString>
#include <QStringList>
#include <chrono>

class InstanceLock;

// A start's claim on its store, before anything opens it: the lock, or else the hand-over of
// the start's link (or its request for the main window) to the instance that holds the lock.
// It waits as long as that instance takes to answer, or until it is gone; a wait that lasts
// past kPatience says so in a window, which closes by itself once the wait ends, and closing
// it gives up. Ctrl-C or SIGTERM end a waiting start on the spot (it holds nothing yet).
// Main thread only, before the event loop runs.
namespace StoreClaim {

enum class Outcome {
    Taken, // this start holds the lock and goes on to open the store
    HandedOver, // the running instance took the link or the request: this start ends
    Refused, // the running instance answered but refused the link (logged)
    Unavailable, // no lock can be had there: lock.errorString() says why
    GaveUp, // the person closed the window that said this start waits
};

inline constexpr std::chrono::milliseconds kPatience { 5000 };

Outcome claim(InstanceLock& lock, const QStringList& arguments, const QStringList& redirectSchemes,
    const QString& storeFile, std::chrono::milliseconds patience = kPatience);

} // namespace StoreClaim
