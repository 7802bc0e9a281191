#pragma once

#include "platform/DesktopSettingsOpener.h"

#include <QList>

// Keeps the panes it was asked to open.
class RecordingSettingsOpener final : public DesktopSettingsOpener
{
public:
    void open(Pane pane) override { opened.append(pane); }

    QList<Pane> opened;
};
