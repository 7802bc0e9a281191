#include "app/MeetingActions.h"
#include "app/RecordingController.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AccessibleNames.h"
#include "support/AccessibleTree.h"
#include "support/AppRig.h"
#include "support/FakeCalendarHooks.h"
#include "support/FakeScheduler.h"
#include "support/ProviderAnswers.h"
#include "support/TestMain.h"
#include "support/ViewProbe.h"
#include "ui/design/PillButton.h"
#include "ui/design/QuilletStyle.h"
#include "ui/design/ThemeController.h"
#include "ui/home/HomeView.h"
#include "ui/home/MeetingCardList.h"
#include "ui/settings/SettingsView.h"
#include "ui/sidebar/MeetingListView.h"
#include "ui/window/FixItBanner.h"
#include "ui/window/MainWindow.h"
#include "ui/window/RecordingControlView.h"
#include "ui/window/SignInQuestion.h"
#include "ui/workspace/FinishedMeetingPage.h"
#include "ui/workspace/LiveMeetingPage.h"
#include "ui/workspace/MeetingChatPanel.h"
#include "ui/workspace/NotesEditor.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QFutureWatcher>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QToolBar>

using namespace std::chrono_literals;

namespace {

// The window on a rig that records (silence, so nothing is uploaded) with the user's own key.
struct WindowRig
{
    explicit WindowRig(bool tray = true)
    {
        rig->account().setByoKey(QStringLiteral("tq-own-key"));
        MainWindow::Options options;
        options.content.bar.scheduler = &scheduler;
        options.trayAvailable = [tray] { return tray; };
        window = std::make_unique<MainWindow>(rig->windowServices(), options);
        window->show();
    }
    ~WindowRig()
    {
        if (rig->session().isRecording())
            rig->session().stopRecording();
        window.reset();
    }

    MainContentView& content() { return window->content(); }
    ModelContext& store() { return rig->store(); }
    TranscriptionSession& session() { return rig->session(); }

    Meeting* addMeeting(const QString& title)
    {
        // Each later than the one before, so that "newest" is never a tie.
        rig.clock.advanceMs(60'000);
        auto* meeting = new Meeting(title, rig.clock.now());
        store().insert(meeting);
        store().save();
        return meeting;
    }

    // Records into the meeting (a new one when null); the clock moves on first.
    Meeting* record(Meeting* into = nullptr)
    {
        rig.clock.advanceMs(60'000);
        session().startRecording(store(), into);
        return session().meeting();
    }

    FakeCalendarHooks calendar;
    AppRig rig { { .capture = true, .steppedDelays = true, .calendarHooks = &calendar } };
    FakeScheduler scheduler;
    std::unique_ptr<MainWindow> window;
};

QString shownText(const QAbstractButton* button)
{
    return button->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
}

// Presses the dialog's button with that text; checks the buttons' order on the way.
bool press(QMessageBox* dialog, const QString& text)
{
    if (!dialog || !dialog->isVisible())
        return false;
    const QList<QAbstractButton*> buttons = dialog->buttons();
    if (buttons.size() != 2 || shownText(buttons.at(0)) != QLatin1String("Stop & Start")
        || shownText(buttons.at(1)) != QLatin1String("Cancel"))
        return false;
    for (QAbstractButton* button : buttons)
        if (shownText(button) == text) {
            button->click();
            return true;
        }
    return false;
}

} // namespace

class TestMainWindow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void routesBySelection_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("homeEnabled");
        QTest::addColumn<bool>("banner");
        QTest::addColumn<bool>("bar");
        QTest::newRow("home") << int(SidebarItem::Kind::home) << false << true << true;
        QTest::newRow("folder") << int(SidebarItem::Kind::folder) << true << true << true;
        QTest::newRow("meeting") << int(SidebarItem::Kind::meeting) << true << true << true;
        QTest::newRow("settings") << int(SidebarItem::Kind::settings) << true << false << false;
    }

    void routesBySelection()
    {
        QFETCH(int, kind);
        QFETCH(bool, homeEnabled);
        QFETCH(bool, banner);
        QFETCH(bool, bar);
        WindowRig w;
        MainContentView& content = w.content();
        QVERIFY(!w.window->homeAction()->isEnabled()); // it starts at home
        QVERIFY(qobject_cast<HomeView*>(content.page()));

        Meeting* meeting = w.addMeeting(QStringLiteral("Design review"));
        auto* folder = new Folder(QStringLiteral("Clients"), QStringLiteral("folder"), {});
        w.store().insert(folder);
        const QList<SidebarItem> items { SidebarItem::home(), SidebarItem::folder(folder),
            SidebarItem::meeting(meeting), SidebarItem::settings() };
        content.setSelection(SidebarItem::settings());
        content.setSelection(items.at(kind));

        QCOMPARE(content.selection(), items.at(kind));
        QCOMPARE(w.window->homeAction()->isEnabled(), homeEnabled);
        QCOMPARE(content.banner()->isVisibleTo(w.window.get()), banner);
        QTRY_COMPARE(content.recordingControls()->isVisibleTo(w.window.get()), bar);
        QWidget* page = content.page();
        switch (SidebarItem::Kind(kind)) {
        case SidebarItem::Kind::home:
            QCOMPARE(qobject_cast<HomeView*>(page)->folder(), nullptr);
            break;
        case SidebarItem::Kind::folder:
            QCOMPARE(qobject_cast<HomeView*>(page)->folder(), folder);
            break;
        case SidebarItem::Kind::meeting: {
            QVERIFY(!qobject_cast<HomeView*>(page) && !qobject_cast<SettingsView*>(page));
            // Made afresh per meeting, and only then.
            content.setSelection(SidebarItem::meeting(meeting));
            QCOMPARE(content.page(), page);
            content.setSelection(SidebarItem::meeting(w.addMeeting(QStringLiteral("Other"))));
            QVERIFY(content.page() != page);
            break;
        }
        case SidebarItem::Kind::settings:
            QVERIFY(qobject_cast<SettingsView*>(page));
            break;
        }
        w.window->homeAction()->trigger();
        QCOMPARE(content.selection(), SidebarItem::home());
        QVERIFY(!w.window->homeAction()->isEnabled());
    }

    // The selection value: equal by case and record, whatever the records hold.
    void selectionValuesCompareByRecord()
    {
        Folder a(QStringLiteral("Same"), QStringLiteral("folder"), {});
        Folder b(QStringLiteral("Same"), QStringLiteral("folder"), {});
        Meeting m(QStringLiteral("Same"), QDateTime::currentDateTimeUtc());
        QVERIFY(SidebarItem::folder(&a) == SidebarItem::folder(&a));
        QVERIFY(!(SidebarItem::folder(&a) == SidebarItem::folder(&b)));
        QVERIFY(!(SidebarItem::home() == SidebarItem::settings()));
        QCOMPARE(qHash(SidebarItem::folder(&a)), qHash(SidebarItem::folder(&a)));
        QSet<SidebarItem> set { SidebarItem::home(), SidebarItem::folder(&a), SidebarItem::folder(&b),
            SidebarItem::meeting(&m), SidebarItem::settings(), SidebarItem::home() };
        QCOMPARE(set.size(), 5);
    }

    // The bar is left out on settings only while nothing records; a start from elsewhere (the
    // tray) brings it back there, and the window follows the recording to its meeting.
    void recordingControlsOnSettings()
    {
        WindowRig w;
        MainContentView& content = w.content();
        content.setSelection(SidebarItem::settings());
        QTRY_VERIFY(!content.recordingControls()->isVisible());
        QVERIFY(!content.showsRecordingControls());

        Meeting* recording = w.record();
        QVERIFY(recording);
        QCOMPARE(content.selection(), SidebarItem::meeting(recording));
        content.setSelection(SidebarItem::settings());
        QTRY_VERIFY(content.recordingControls()->isVisible());
        QCOMPARE(content.recordingControls()->face(), RecordingControlView::Face::recording);

        w.session().stopRecording();
        QTRY_VERIFY(!content.recordingControls()->isVisible());
    }

    // An ad-hoc start from the bar turns the window to its meeting; the bar's Stop ends it.
    void adHocStartSelectsItsMeeting()
    {
        WindowRig w;
        MainContentView& content = w.content();
        content.recordingControls()->startButton()->click();
        Meeting* recording = w.session().meeting();
        QVERIFY(recording);
        QCOMPARE(content.selection(), SidebarItem::meeting(recording));
        content.recordingControls()->stopButton()->click();
        QVERIFY(!w.session().isRecording());
    }

    // The recordings' questions as the window puts them: a modal dialog with the controller's
    // words, whose buttons answer it. (What is asked
    // when, and what an answer starts, is the controller's, tested there.)
    void switchingRecordingAsksFirst()
    {
        WindowRig w;
        MainContentView& content = w.content();
        Meeting* standup = w.addMeeting(QStringLiteral("Standup"));
        Meeting* retro = w.addMeeting(QStringLiteral("Retro"));
        QCOMPARE(w.record(standup), standup);

        w.rig->recordings().startRecording(retro);
        QMessageBox* dialog = content.switchDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QCOMPARE(dialog->text(), QStringLiteral("Stop recording \u201CStandup\u201D and start a new one?"));
        QVERIFY(press(dialog, QStringLiteral("Cancel")));
        QTRY_VERIFY(!content.switchDialog());
        QCOMPARE(w.session().meeting(), standup);

        w.rig->recordings().startRecording(retro);
        QVERIFY(press(content.switchDialog(), QStringLiteral("Stop & Start")));
        QTRY_VERIFY(!content.switchDialog());
        QCOMPARE(w.session().meeting(), retro);
    }

    void quickNoteAsksWhileRecording()
    {
        WindowRig w;
        MainContentView& content = w.content();
        w.window->quickNoteAction()->trigger();
        Meeting* first = w.session().meeting();
        QVERIFY(first && !content.quickNoteDialog());
        QCOMPARE(content.selection(), SidebarItem::meeting(first));

        w.rig.clock.advanceMs(60'000);
        w.window->quickNoteAction()->trigger();
        QMessageBox* dialog = content.quickNoteDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->text(), QStringLiteral("Stop the current recording and start a new note?"));
        QUILLET_VERIFY_ALL_NAMED(*dialog);
        QVERIFY(press(dialog, QStringLiteral("Stop & Start")));
        QTRY_VERIFY(!content.quickNoteDialog());
        Meeting* second = w.session().meeting();
        QVERIFY(second && second != first);
        QCOMPARE(content.selection(), SidebarItem::meeting(second));
    }

    // A reminder's request while another meeting records: the window turns to the event's
    // meeting at once, asks, and the answer records it and opens its call.
    void openAndRecordTurnsToTheEventsMeeting()
    {
        WindowRig w;
        MainContentView& content = w.content();
        Meeting* planning = w.addMeeting(QStringLiteral("Planning"));
        Meeting* other = w.addMeeting(QStringLiteral("Interview"));
        const QUrl link(QStringLiteral("https://meet.example.test/abc-defg-hij"));
        w.record(other);

        emit w.calendar.openAndRecordRequested({ planning, link });
        QCOMPARE(content.selection(), SidebarItem::meeting(planning));
        QVERIFY(content.switchDialog());
        QCOMPARE(content.switchDialog()->text(),
            QStringLiteral("Stop recording \u201CInterview\u201D and start a new one?"));
        QVERIFY(press(content.switchDialog(), QStringLiteral("Stop & Start")));
        QTRY_VERIFY(!content.switchDialog());
        QCOMPARE(w.session().meeting(), planning);
        QCOMPARE(content.selection(), SidebarItem::meeting(planning));
        QCOMPARE(w.rig.browser.opened, QList<QUrl> { link });
    }

    // A deleted meeting leaves the window: another's deletion keeps the selection, the shown
    // one's goes home (and the recording one's leaves the bar idle); the files go too.
    void deletingMeetings()
    {
        WindowRig w;
        MainContentView& content = w.content();
        Meeting* shown = w.addMeeting(QStringLiteral("Shown"));
        Meeting* other = w.addMeeting(QStringLiteral("Other"));
        Meeting* kept = w.addMeeting(QStringLiteral("Kept"));
        for (Meeting* meeting : { shown, other, kept })
            w.rig->archiver().archive(MeetingArchiver::Snapshot(*meeting));
        QFutureWatcher<void> idle;
        idle.setFuture(w.rig->archiver().idle());
        QTRY_VERIFY(idle.isFinished());
        const auto files = [&] {
            return QDir(w.rig.archiveRoot() + QStringLiteral("/2026")).entryList({ QStringLiteral("*.md") }).size();
        };
        QCOMPARE(files(), 3);

        content.setSelection(SidebarItem::meeting(shown));
        MeetingActions::deleteMeeting(other, w.store(), w.rig->recordings());
        QCOMPARE(content.selection(), SidebarItem::meeting(shown));
        MeetingActions::deleteMeeting(shown, w.store(), w.rig->recordings());
        QCOMPARE(content.selection(), SidebarItem::home());
        QCOMPARE(w.store().meetingCount(), 1);
        QTRY_VERIFY(!w.store().hasChanges());
        idle.setFuture(w.rig->archiver().idle());
        QTRY_VERIFY(idle.isFinished());
        QCOMPARE(files(), 1);

        Meeting* recording = w.record(w.addMeeting(QStringLiteral("Live")));
        QCOMPARE(content.selection(), SidebarItem::meeting(recording));
        MeetingActions::deleteMeeting(recording, w.store(), w.rig->recordings());
        QCOMPARE(content.selection(), SidebarItem::home());
        QCOMPARE(content.recordingControls()->face(), RecordingControlView::Face::idle);
        QTRY_COMPARE(w.session().drainingRecordings(), 0);
    }

    // Whoever removes the selected meeting (here the session's empty-meeting rule), the window
    // goes home.
    void removedSelectionGoesHome()
    {
        WindowRig w;
        MainContentView& content = w.content();
        Meeting* recording = w.record();
        QCOMPARE(content.selection(), SidebarItem::meeting(recording));
        QSignalSpy finalized(&w.session(), &TranscriptionSession::recordingFinalized);
        w.session().stopRecording();
        QVERIFY(finalized.wait(30000));
        QCOMPARE(w.store().meetingCount(), 0);
        QCOMPARE(content.selection(), SidebarItem::home());
        auto* home = qobject_cast<HomeView*>(content.page());
        QVERIFY(home);

        // The home page made while the meeting was being removed shows no card of it, also once
        // the record itself is gone; painting and clicking where its card was do nothing.
        MeetingCardList* list = home->meetingList();
        QVERIFY(list->meetingsShown().isEmpty());
        QSignalSpy opened(list, &MeetingCardList::openRequested);
        QSignalSpy menus(list, &MeetingCardList::menuRequested);
        QTRY_VERIFY(!w.store().hasChanges());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(list->meetingsShown().isEmpty());
        w.window->grab();
        const QPoint where = list->rect().topLeft() + QPoint(40, 40);
        QTest::mouseClick(list, Qt::LeftButton, {}, where);
        QTest::mouseClick(list, Qt::RightButton, {}, where);
        QCOMPARE(opened.count(), 0);
        QCOMPARE(menus.count(), 0);
        QCOMPARE(content.selection(), SidebarItem::home());
    }

    // A recording that starts or ends turns the meeting's page into the other page; what the
    // person had in hand goes with it: the conversation, the open panels, the question being
    // typed, and the keyboard in the notes (at the same place) or in the chat.
    void pageTurnKeepsWhatIsInHand()
    {
        WindowRig w;
        w.window->resize(1200, 900); // room for the whole live chat panel
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        MainContentView& content = w.content();
        Meeting* meeting = w.addMeeting(QStringLiteral("Planning"));
        meeting->setSummary(QStringLiteral("## Decisions\n- Ship"));
        meeting->setUserNotes(QStringLiteral("abc def"));
        w.store().save();
        content.setSelection(SidebarItem::meeting(meeting));
        auto* finished = qobject_cast<FinishedMeetingPage*>(content.page());
        QVERIFY(finished);
        MeetingChatService* chat = &finished->chat();
        finished->setDetailMode(FinishedMeetingPage::DetailMode::notes);
        finished->setShowTranscript(true);
        finished->setShowChat(true);
        finished->findChild<MeetingChatPanel*>()->setDraft(QStringLiteral("half-typed"));
        auto* notes = finished->findChild<NotesEditor*>(QStringLiteral("notesEditor"));
        notes->setFocus();
        QTRY_VERIFY(notes->hasFocus());
        QTextCursor cursor = notes->textCursor();
        cursor.setPosition(4);
        notes->setTextCursor(cursor);

        QCOMPARE(w.record(meeting), meeting);
        auto* live = qobject_cast<LiveMeetingPage*>(content.page());
        QVERIFY(live);
        QCOMPARE(&live->chat(), chat);
        auto* liveChat = live->findChild<MeetingChatPanel*>();
        QTRY_VERIFY(liveChat && liveChat->isVisible());
        QCOMPARE(liveChat->height(), 280);
        QCOMPARE(liveChat->draft(), QStringLiteral("half-typed"));
        notes = live->findChild<NotesEditor*>(QStringLiteral("notesEditor"));
        QTRY_VERIFY(notes->hasFocus());
        QCOMPARE(notes->textCursor().position(), 4);

        liveChat->setDraft(QStringLiteral("what was decided?"));
        liveChat->questionField()->setFocus();
        QTRY_VERIFY(liveChat->questionField()->hasFocus());
        // The page turns once the recording's last text is in.
        w.session().stopRecording();
        QTRY_VERIFY_WITH_TIMEOUT((finished = qobject_cast<FinishedMeetingPage*>(content.page())), 30000);
        QCOMPARE(&finished->chat(), chat);
        QCOMPARE(finished->detailMode(), FinishedMeetingPage::DetailMode::notes);
        QTRY_VERIFY(finished->findChild<QWidget*>(QStringLiteral("transcriptFeed"))->isVisible());
        auto* finishedChat = finished->findChild<MeetingChatPanel*>();
        QTRY_VERIFY(finishedChat && finishedChat->isVisible());
        QVERIFY(finishedChat->minimumHeight() >= 320);
        QCOMPARE(finishedChat->draft(), QStringLiteral("what was decided?"));
        QTRY_VERIFY(finishedChat->questionField()->hasFocus());
    }

    // A regeneration and a share under way go through both turns of the page: still shown as
    // under way on the page after them, and the share that ended meanwhile told there.
    void pageTurnKeepsARegenerationAndAShare()
    {
        WindowRig w;
        AccountService& account = w.rig->account();
        w.rig.cloud.on("POST", "/v1/auth/request", FakeHttpServer::Reply::json(200, "{}"));
        w.rig.cloud.on("POST", "/v1/auth/verify",
            FakeHttpServer::Reply::json(
                200, R"({"sessionToken":"sess-9f2c","userId":"u-1","email":"ann@example.com"})"));
        w.rig.cloud.on("GET", "/v1/me", FakeHttpServer::Reply::json(500, "{}"));
        account.sendSignInEmail(QStringLiteral("ann@example.com"));
        QTRY_COMPARE(account.flowKind(), AccountService::FlowKind::CodeSent);
        w.rig->router().route(QUrl(QStringLiteral("quillet://auth?token=link-7")));
        QTRY_VERIFY(account.sessionToken()); // shares go as the account
        const QString link = QStringLiteral("https://quillet.app/s/8f3k2");
        w.rig.cloud.on(
            "POST", "/v1/shares", FakeHttpServer::Reply::json(200, R"({"id":"s1","url":")" + link.toUtf8() + R"("})"));
        w.rig.cloud.hold("POST", "/v1/shares");
        w.rig.provider.on("POST", "/v1/chat/completions", ProviderAnswers::completion(QStringLiteral("## Again")));
        w.rig.provider.hold("POST", "/v1/chat/completions");

        MainContentView& content = w.content();
        Meeting* meeting = w.addMeeting(QStringLiteral("Planning"));
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("We ship on Friday."), Speaker::them(), 0));
        meeting->setSummary(QStringLiteral("## Plan"));
        w.store().save();
        content.setSelection(SidebarItem::meeting(meeting));
        auto* finished = qobject_cast<FinishedMeetingPage*>(content.page());
        QVERIFY(finished);
        finished->actions().regenerate();
        finished->actions().share();
        QTRY_COMPARE(w.rig.provider.heldCount(), 2);
        QTRY_COMPARE(w.rig.cloud.heldCount(), 1);

        QCOMPARE(w.record(meeting), meeting);
        QVERIFY(qobject_cast<LiveMeetingPage*>(content.page()));
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        w.rig.cloud.release("POST", "/v1/shares");
        // Without the waits that delete the page put away on the recording's start: the outcome
        // is for the page that takes its place, not for the hidden one.
        for (QDeadlineTimer patience(30000); QGuiApplication::clipboard()->text() != link && !patience.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCOMPARE(QGuiApplication::clipboard()->text(), link);
        w.session().stopRecording();
        QTRY_VERIFY_WITH_TIMEOUT((finished = qobject_cast<FinishedMeetingPage*>(content.page())), 30000);
        QVERIFY(finished->actions().isRegenerating());
        QVERIFY(!finished->actions().isSharing());
        QTRY_VERIFY(finished->shareAlert());
        QCOMPARE(finished->shareAlert()->windowTitle(), QStringLiteral("Link copied"));
        QVERIFY(finished->shareAlert()->text().endsWith(link));

        w.rig.provider.release("POST", "/v1/chat/completions");
        QTRY_VERIFY(!finished->actions().isRegenerating());
        QCOMPARE(meeting->summary(), std::optional(QStringLiteral("## Again")));
    }

    void menuCommands()
    {
        WindowRig w;
        QCOMPARE(w.window->settingsCommand()->text(), QStringLiteral("Settings\u2026"));
        QCOMPARE(w.window->settingsCommand()->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
        QCOMPARE(w.window->quitCommand()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        QCOMPARE(w.window->settingsAction()->toolTip(), QStringLiteral("Settings (Ctrl+,)"));

        w.window->settingsCommand()->trigger();
        QCOMPARE(w.content().selection(), SidebarItem::settings());
        QSignalSpy onboarding(&w.rig->notices(), &AppNotices::showOnboarding);
        w.window->welcomeCommand()->trigger();
        QCOMPARE(onboarding.size(), 1);

        // "Quit Quillet" asks the shell to quit, which saves first.
        QSignalSpy quit(&w.rig->notices(), &AppNotices::quitRequested);
        w.window->quitCommand()->trigger();
        QCOMPARE(quit.size(), 1);
    }

    // The keyboard alone: Tab goes round every stop of the window, each shown, of some size
    // and named, the toolbar's buttons among them (nothing hidden, such as the banner's button
    // while there is no banner); Ctrl+N takes a quick note and Alt+Home goes home.
    void keyboardReachesTheToolbar()
    {
        WindowRig w;
        w.addMeeting(QStringLiteral("Standup"));
        w.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        w.content().setSelection(SidebarItem::settings());
        QWidget* home = w.window->findChild<QToolBar*>()->widgetForAction(w.window->homeAction());
        QWidget* quickNote = w.window->findChild<QToolBar*>()->widgetForAction(w.window->quickNoteAction());
        QWidget* settings = w.window->findChild<QToolBar*>()->widgetForAction(w.window->settingsAction());
        home->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), home);
        QList<QWidget*> stops;
        for (int presses = 0; presses < 200; ++presses) {
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused);
            if (!stops.isEmpty() && focused == stops.first())
                break;
            stops.append(focused);
            const QString what = QString::fromLatin1(focused->metaObject()->className());
            QVERIFY2(focused->isVisible() && focused->width() > 0 && focused->height() > 0, qPrintable(what));
            QVERIFY2(
                !QAccessible::queryAccessibleInterface(focused)->text(QAccessible::Name).isEmpty(), qPrintable(what));
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(QApplication::focusWidget(), home);
        QVERIFY(stops.contains(quickNote) && stops.contains(settings));
        // A toolbar button shows the keyboard's focus.
        QApplication::setStyle(new QuilletStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
        const QImage unfocused = quickNote->grab().toImage();
        quickNote->setFocus(Qt::TabFocusReason);
        QVERIFY(quickNote->grab().toImage() != unfocused);
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QVERIFY(!stops.contains(static_cast<QWidget*>(w.content().banner()->button())));

        // Alt+Home, from the home page too: the keyboard lands on the sidebar's Home row,
        // never in the menu bar, even where a screen reader's bridge hands the Alt back alone
        // after the shortcut has taken the Home.
        QListView* rows = w.content().sidebar()->list();
        for (int round = 0; round < 2; ++round) {
            AccessibleTree::EventSpy screenReader;
            QTest::keyClick(w.window->windowHandle(), Qt::Key_Home, Qt::AltModifier);
            QCOMPARE(w.content().selection(), SidebarItem::home());
            QCOMPARE(QApplication::focusWidget(), rows);
            for (const QEvent::Type type : { QEvent::KeyPress, QEvent::KeyRelease }) {
                QKeyEvent handedBack(type, Qt::Key_Alt, type == QEvent::KeyPress ? Qt::NoModifier : Qt::AltModifier);
                QCoreApplication::sendEvent(w.window->windowHandle(), &handedBack);
            }
            QCOMPARE(QApplication::focusWidget(), rows);
            QCOMPARE(rows->currentIndex().row(), 0);
        }
        // Ctrl+N from the search field: the new note's notes have the keyboard.
        QLineEdit* search = ViewProbe::field(*w.content().sidebar(), QStringLiteral("Search meetings"));
        search->setFocus(Qt::TabFocusReason);
        QTest::keyClick(search, Qt::Key_N, Qt::ControlModifier);
        QTRY_VERIFY(w.session().isRecording());
        QTRY_VERIFY(qobject_cast<NotesEditor*>(QApplication::focusWidget()));
        QVERIFY(qobject_cast<LiveMeetingPage*>(w.content().page())->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Agenda"));
        QCOMPARE(search->text(), QString());
        QTRY_COMPARE(w.session().meeting()->userNotes(), QStringLiteral("Agenda"));
    }

    // A state a sighted person sees change is readable where it shows, by the role it has: the
    // live page's line as text when the recording starts and at each pause and resume, and an
    // error under the recording bar's button as an alert; the live page has no control without
    // a name. (Qt sends the events that announce them only to a listening screen reader.)
    void stateChangesAreReadable()
    {
        WindowRig w;
        w.record();
        QTRY_VERIFY(qobject_cast<LiveMeetingPage*>(w.content().page()));
        const auto line
            = [&](const QString& text) -> QAccessibleInterface* { return AccessibleNames::find(*w.window, text); };
        QTRY_VERIFY(line(QStringLiteral("Listening — jot your notes")));
        QUILLET_VERIFY_ALL_NAMED(*w.window);
        QCOMPARE(line(QStringLiteral("Listening — jot your notes"))->role(), QAccessible::StaticText);
        w.session().pauseRecording();
        QTRY_VERIFY(line(QStringLiteral("Paused")));
        QCOMPARE(line(QStringLiteral("Paused"))->role(), QAccessible::StaticText);
        QVERIFY(!line(QStringLiteral("Listening — jot your notes")));
        w.session().resumeRecording();
        QTRY_VERIFY(line(QStringLiteral("Listening — jot your notes")));

        const QString failure = QStringLiteral("Transcription failed — check your connection.");
        w.session().setError(failure);
        auto* bar = w.content().findChild<RecordingControlView*>();
        QTRY_VERIFY(AccessibleNames::find(*bar, failure));
        QCOMPARE(AccessibleNames::find(*bar, failure)->role(), QAccessible::AlertMessage);
    }

    void closingKeepsQuilletRunning_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("tray: hides") << true;
        QTest::newRow("no tray: minimises") << false;
    }

    void closingKeepsQuilletRunning()
    {
        QFETCH(bool, tray);
        WindowRig w(tray);
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QVERIFY(!w.window->close()); // the close itself is refused
        QCOMPARE(w.window->isVisible(), !tray);
        QCOMPARE(w.window->isMinimized(), !tray);
        QVERIFY(lastClosed.isEmpty());
        w.window->bringBack();
        QVERIFY(w.window->isVisible() && !w.window->isMinimized());
    }

    // A sign-in link during a recording is asked about over the window, brought back from the
    // tray, even as the answer to an e-mail the user asked for; the account stays as it was
    // until "Sign In", and a stray Return declines.
    void signInLinkIsAskedAbout_data()
    {
        QTest::addColumn<bool>("agree");
        QTest::newRow("Sign In") << true;
        QTest::newRow("Return") << false;
    }
    void signInLinkIsAskedAbout()
    {
        QFETCH(bool, agree);
        WindowRig w;
        w.rig.cloud.on("POST", "/v1/auth/request", FakeHttpServer::Reply::json(200, "{}"));
        w.rig.cloud.on("POST", "/v1/auth/verify",
            FakeHttpServer::Reply::json(
                200, R"({"sessionToken":"sess-9f2c","userId":"u-1","email":"ann@example.com"})"));
        w.rig.cloud.on("GET", "/v1/me",
            FakeHttpServer::Reply::json(200,
                R"({"userId":"u-1","email":"ann@example.com","emailOptIn":false,"usage":{"minutesUsed":1,)"
                R"("quotaMinutes":300,"resetsAt":1},"config":{"quotaMinutes":300,"analyticsEnabled":false,)"
                R"("analyticsFree":false}})"));
        AccountService& account = w.rig->account();
        account.sendSignInEmail(QStringLiteral("ann@example.com"));
        QTRY_COMPARE(account.flowKind(), AccountService::FlowKind::CodeSent);
        QVERIFY(w.record());
        w.window->close();

        w.rig->router().route(QUrl(QStringLiteral("quillet://auth?token=link-7")));
        QTRY_VERIFY(w.window->signInQuestion());
        SignInQuestion* question = w.window->signInQuestion();
        QVERIFY(w.window->isVisible() && question->isVisible());
        QCOMPARE(question->windowModality(), Qt::WindowModal);
        QCOMPARE(question->text(), QStringLiteral("Sign in to Quillet as ann@example.com?"));
        QVERIFY(!account.sessionToken());
        QCOMPARE(account.modelCredentials()->token, QStringLiteral("tq-own-key"));

        if (agree)
            question->signInButton()->click();
        else
            QTest::keyClick(question, Qt::Key_Return);
        QTRY_VERIFY(!w.window->signInQuestion());
        QVERIFY(!account.linkSignInQuestion());
        QCOMPARE(account.sessionToken(), agree ? std::optional(QStringLiteral("sess-9f2c")) : std::nullopt);
        QVERIFY(w.session().isRecording());
    }

    // A link nobody asked for that cannot be checked (no network) is told where its question
    // would have been, over the window brought back; a question left waiting when the person
    // signs in with their own link closes without an answer.
    void signInLinkProblemsShowOverTheWindow()
    {
        WindowRig w;
        AccountService& account = w.rig->account();
        w.rig.cloud.on("POST", "/v1/auth/verify", FakeHttpServer::Reply::dropped());
        w.window->close();
        w.rig->router().route(QUrl(QStringLiteral("quillet://auth?token=link-7")));
        QTRY_VERIFY(w.window->signInQuestion());
        SignInQuestion* notice = w.window->signInQuestion();
        QVERIFY(w.window->isVisible() && notice->isVisible());
        QVERIFY(notice->isFailure());
        QCOMPARE(notice->text(), QStringLiteral("Quillet couldn't use the sign-in link that was opened."));
        QCOMPARE(notice->informativeText(), QStringLiteral("The service could not be reached."));
        QCOMPARE(notice->buttons().size(), 1);
        QTest::keyClick(notice, Qt::Key_Return);
        QTRY_VERIFY(!w.window->signInQuestion());
        QVERIFY(!account.linkSignInFailure());

        w.rig.cloud.on("POST", "/v1/auth/request", FakeHttpServer::Reply::json(200, "{}"));
        w.rig.cloud.on("POST", "/v1/auth/verify", [](const FakeHttpServer::Request& request) {
            const bool evil = request.json().value(QLatin1String("token")) == QLatin1String("evil");
            return FakeHttpServer::Reply::json(200,
                evil ? R"({"sessionToken":"sess-evil","userId":"u-6","email":"attacker@evil.test"})"
                     : R"({"sessionToken":"sess-9f2c","userId":"u-1","email":"ann@example.com"})");
        });
        w.rig.cloud.on("GET", "/v1/me", [](const FakeHttpServer::Request& request) {
            const bool evil = request.header("Authorization") == "Bearer sess-evil";
            return FakeHttpServer::Reply::json(200,
                QByteArray(R"({"userId":"u-1","email":"%1","emailOptIn":false,"usage":{"minutesUsed":1,)"
                           R"("quotaMinutes":300,"resetsAt":1},"config":{"quotaMinutes":300,)"
                           R"("analyticsEnabled":false,"analyticsFree":false}})")
                    .replace("%1", evil ? "attacker@evil.test" : "ann@example.com"));
        });
        account.sendSignInEmail(QStringLiteral("ann@example.com"));
        QTRY_COMPARE(account.flowKind(), AccountService::FlowKind::CodeSent);
        w.rig->router().route(QUrl(QStringLiteral("quillet://auth?token=evil")));
        QTRY_VERIFY(w.window->signInQuestion());
        QCOMPARE(w.window->signInQuestion()->text(), QStringLiteral("Sign in to Quillet as attacker@evil.test?"));
        w.rig->router().route(QUrl(QStringLiteral("quillet://auth?token=link-8")));
        QTRY_COMPARE(account.sessionToken(), std::optional(QStringLiteral("sess-9f2c")));
        QTRY_VERIFY(!w.window->signInQuestion());
        QCOMPARE(account.sessionToken(), std::optional(QStringLiteral("sess-9f2c")));
        QVERIFY(!account.linkSignInQuestion());
    }

    void themeFollowsSetting_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<ThemeController::Appearance>("appearance");
        QTest::newRow("dark") << QStringLiteral("dark") << ThemeController::Appearance::dark;
        QTest::newRow("light") << QStringLiteral("light") << ThemeController::Appearance::light;
        QTest::newRow("system") << QStringLiteral("system") << ThemeController::Appearance::system;
        QTest::newRow("empty") << QString() << ThemeController::Appearance::system;
        QTest::newRow("unknown") << QStringLiteral("purple") << ThemeController::Appearance::system;
    }

    // The onboarding writes "appTheme" while the window is open: it follows at once.
    void themeFollowsSetting()
    {
        QFETCH(QString, value);
        QFETCH(ThemeController::Appearance, appearance);
        // Another style than the one the themes use, as a desktop's own would be.
        QApplication::setStyle(QStringLiteral("Windows"));
        QApplication::setPalette(QApplication::style()->standardPalette());
        const QPalette startupPalette = QApplication::palette();
        WindowRig w;
        w.rig->settings().set(SettingsKeys::appTheme, QStringLiteral("light"));
        ThemeController theme(w.rig->settings());

        w.rig->settings().set(SettingsKeys::appTheme, QStringLiteral("dark"));
        w.rig->settings().set(SettingsKeys::appTheme, value);
        QCOMPARE(theme.appearance(), appearance);
        const QPalette expected = appearance == ThemeController::Appearance::dark ? ThemeController::darkPalette()
            : appearance == ThemeController::Appearance::light                    ? ThemeController::lightPalette()
                                                                                  : startupPalette;
        QCOMPARE(ThemeController::baseStyleName().toLower(),
            appearance == ThemeController::Appearance::system ? QStringLiteral("windows") : QStringLiteral("fusion"));
        QTRY_COMPARE(w.window->palette().color(QPalette::Window), expected.color(QPalette::Window));
        QTRY_COMPARE(w.content().recordingControls()->timeLabel()->palette().color(QPalette::WindowText),
            expected.color(QPalette::WindowText));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
