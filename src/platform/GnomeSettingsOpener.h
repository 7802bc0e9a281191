#pragma once

#include "platform/DesktopSettingsOpener.h"

// GNOME Settings (gnome-control-center), when it is installed; elsewhere nothing opens.
class GnomeSettingsOpener final : public DesktopSettingsOpener
{
public:
    void open(Pane pane) override;
};
