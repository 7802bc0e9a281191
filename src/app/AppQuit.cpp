#include "app/AppQuit.h"

#include "platform/Log.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"

AppQuit::AppQuit(ModelContext& store, SaveHealth& saveHealth, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_saveHealth(saveHealth)
{ }

void AppQuit::request()
{
    if (!m_store.hasChanges() || m_store.save().ok()) {
        setHeld(false);
        emit finished();
        return;
    }
    // The store says why in its own log line; the window says it in words.
    m_unsavedMeetings.clear();
    for (const Meeting* meeting : m_store.meetingsWithUnsavedChanges())
        m_unsavedMeetings.append(meeting->title().isEmpty() ? QStringLiteral("Untitled Meeting") : meeting->title());
    Log::line("[Quillet] Quit held: the last changes could not be saved");
    // Also when it was held already: the window then shows the list as it is now.
    m_held = true;
    emit heldChanged();
}

void AppQuit::quitAnyway()
{
    Log::line("[Quillet] Quit without saving the changes to %d meeting(s)", m_unsavedMeetings.size());
    setHeld(false);
    emit finished();
}

void AppQuit::stay()
{
    setHeld(false);
}

void AppQuit::setHeld(bool held)
{
    if (m_held == held)
        return;
    m_held = held;
    emit heldChanged();
}
