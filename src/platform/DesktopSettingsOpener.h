#pragma once

// Opens a pane of the desktop's own settings, where the user grants what Quillet cannot ask for
// itself. The application uses GnomeSettingsOpener; tests record the calls.
class DesktopSettingsOpener
{
public:
    enum class Pane {
        // Where calendar accounts are added (the calendars Quillet reads come from there).
        CalendarAccounts,
        // The sound settings, where the microphone is turned on.
        Microphone,
    };

    virtual ~DesktopSettingsOpener() = default;

    // Does nothing when the desktop has no such pane.
    virtual void open(Pane pane) = 0;
};
