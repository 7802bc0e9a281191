#pragma once

#include <QObject>
#include <QString>

// The application's in-app notices, between parts that do not know each other: the menu
// command "Settings…" asks the main window for its settings page, "Welcome to Quillet" asks for
// the onboarding window, and "Quit Quillet" asks the shell to quit. One object, made by the
// composition root and handed to whoever posts or listens. Main thread only; listeners are
// called at once, in the order they connected.
class AppNotices final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppNotices)

public:
    using QObject::QObject;

    void postOpenSettings() { emit openSettings(); }
    void postShowOnboarding() { emit showOnboarding(); }
    void postQuit() { emit quitRequested(); }

signals:
    void openSettings();
    void showOnboarding();
    void quitRequested();
};
