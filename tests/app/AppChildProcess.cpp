// The application as the tests run it in a process of its own: the same life as the program
// (QuilletApp::run, window included), with its services on the folders of the environment the
// test gives it, and every outside server at a closed port on 127.0.0.1.

#include "app/QuilletApp.h"
#include "support/FakeCalendarStore.h"
#include "support/InMemoryNotificationServer.h"
#include "support/InMemorySecretStore.h"
#include "support/RecordingCuePlayer.h"
#include "support/RecordingSettingsOpener.h"
#include "support/RecordingUrlOpener.h"

int main(int argc, char* argv[])
{
    InMemorySecretStore secrets;
    RecordingUrlOpener browser;
    RecordingCuePlayer cues;
    std::unique_ptr<InMemoryNotificationServer> notifications;
    // The desktop's calendar store stays out of the shared test bus: an empty one in memory.
    std::unique_ptr<FakeCalendarStore> calendars;
    RecordingSettingsOpener desktopSettings;
    return QuilletApp::run(argc, argv, [&] {
        notifications = std::make_unique<InMemoryNotificationServer>();
        calendars = std::make_unique<FakeCalendarStore>();
        const QUrl closed(QStringLiteral("http://127.0.0.1:9"));
        AppServices::Config config;
        config.endpoints = { closed, closed, closed };
        config.updateSite = closed;
        config.google = { QString(), QString(), closed, closed, closed, closed };
        config.secretStore = &secrets;
        config.urlOpener = &browser;
        config.cuePlayer = &cues;
        config.notificationServer = notifications.get();
        config.calendarStore = calendars.get();
        config.desktopSettings = &desktopSettings;
        config.capture = false;
        return config;
    });
}
