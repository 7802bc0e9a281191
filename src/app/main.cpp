#include "account/AccountEndpoints.h"
#include "account/AccountService.h"
#include "account/QuilletCloud.h"
#include "account/TessraOAuth.h"
#include "app/QuilletStore.h"
#include "audio/DualStreamMixer.h"
#include "audio/MicRecorder.h"
#include "audio/SystemAudioRecorder.h"
#include "calendar/CalendarService.h"
#include "platform/Clock.h"
#include "platform/DesktopUrlOpener.h"
#include "platform/EdsCalendarStore.h"
#include "platform/GnomeSettingsOpener.h"
#include "platform/LibsecretStore.h"
#include "platform/MicrophonePermission.h"
#include "platform/Log.h"
#include "platform/Settings.h"
#include "platform/UrlRouter.h"
#include "storage/Meeting.h"
#include "storage/MeetingArchiver.h"
#include "storage/MeetingImporter.h"
#include "storage/ModelContext.h"
#include "system/Keychain.h"
#include "system/SoundFeedback.h"
#include "system/UpdateChecker.h"
#include "transcription/TranscriptionSession.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QTimer>

namespace {

// Every finished meeting, as plain copies the archive writer may take to its thread.
QList<MeetingArchiver::Snapshot> snapshotsOfFinishedMeetings(ModelContext& context)
{
    QList<MeetingArchiver::Snapshot> snapshots;
    const QList<Meeting*> meetings = context.fetchMeetings({[](const Meeting& m) { return !m.isRecording(); }});
    snapshots.reserve(meetings.size());
    for (const Meeting* meeting : meetings)
        snapshots.append(MeetingArchiver::Snapshot(*meeting));
    return snapshots;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("quillet"));

    // A second start with a "quillet:" link (the e-mail sign-in, the provider's redirect)
    // hands the link to the running instance and ends.
    const std::optional<QUrl> launchUrl = UrlRouter::urlFromArguments(QApplication::arguments().mid(1));
    if (launchUrl && UrlRouter::forwardToRunningInstance(*launchUrl))
        return 0;
    // Listen before the slow start-up work, so a link opened meanwhile is not a second instance.
    UrlRouter router;
    router.listen();

    Settings settings(Settings::defaultFilePath());
    settings.registerDefault(SettingsKeys::soundEnabled);

    ModelContext& store = QuilletStore::shared();
    MeetingImporter::runIfNeeded(store);

    LibsecretStore secretStore;
    Keychain keychain(secretStore);
    QNetworkAccessManager network;
    DesktopUrlOpener browser;
    const AccountEndpoints endpoints = AccountEndpoints::builtIn();
    QuilletCloud cloud(settings, network, endpoints.cloudBase);
    TessraOAuth oauth(network, browser, Clock::system(), endpoints.providerWeb);
    AccountService account(keychain, settings, cloud, oauth, browser, network, Clock::system(), endpoints);
    router.setOAuthCallbackHandler([&oauth](const QUrl& url) { oauth.handleCallback(url); });
    router.setOpenUrlHandler([&account](const QUrl& url) { account.handleOpenURL(url); });

    UpdateChecker updateChecker(network);

    // The one recording session and the capture devices it drives; the views start and stop
    // recordings through it. Declared after the account, which it asks for credentials.
    MicRecorder microphone;
    SystemAudioRecorder systemAudio;
    DualStreamMixer mixer(microphone, systemAudio);
    SystemMicrophonePermission microphonePermission;
    SoundFeedback sounds;
    TranscriptionSession session(settings, TranscriptionSession::ModelAccess::of(account), mixer,
        microphonePermission, sounds, Clock::system());

    // The week's calendar events, from the desktop's calendar store. No Google source yet: the
    // Google calendar service will be that source.
    EdsCalendarStore calendarStore;
    GnomeSettingsOpener desktopSettings;
    CalendarService calendar(calendarStore, settings, Clock::system(), desktopSettings);
    QObject::connect(
        &app, &QGuiApplication::applicationStateChanged, &calendar, [&calendar](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                calendar.applicationBecameActive();
        });

    Log::line("[Quillet] App launched");

    MainWindow window;
    window.show();

    // Launch work that needs the network or touches every meeting runs once the window is up.
    QTimer::singleShot(0, &window, [&] {
        account.refresh();
        updateChecker.check();
        calendar.start();
        MeetingArchiver::backfill(snapshotsOfFinishedMeetings(store));
        if (launchUrl)
            router.route(*launchUrl);
    });

    return QApplication::exec();
}
