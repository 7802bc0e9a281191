#pragma once

// Opens a pane of the desktop's own settings, where the user grants what Quillet cannot ask for
// itself. The application uses GnomeSettingsOpener; tests record the calls.
class DesktopSettingsOpener
{
public:
    enum class Pane {
        // The sound settings, where the microphone is turned on.
        Microphone,
    };

    virtual ~DesktopSettingsOpener() = default;

    // Does nothing when the desktop has no such pane.
    virtual void open(Pane pane) = 0;
};
