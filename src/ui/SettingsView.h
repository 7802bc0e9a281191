#pragma once

#include <QWidget>

class AppServices;

// The settings page of the main window. For now it holds only its title.
class SettingsView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsView)

public:
    explicit SettingsView(AppServices& services, QWidget* parent = nullptr);
};
