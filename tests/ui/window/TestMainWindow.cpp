#include "app/RecordingController.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "support/AccessibleNames.h"
#include "support/AppRig.h"
#include "support/FakeCalendarHooks.h"
#include "support/FakeScheduler.h"
#include "support/TestMain.h"
#include "ui/design/PillButton.h"
#include "ui/design/QuilletStyle.h"
#include "ui/design/ThemeController.h"
#include "ui/home/HomeView.h"
#include "ui/home/MeetingCardList.h"
#include "ui/settings/SettingsView.h"
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
#include <QFutureWatcher>
#include <QLabel>
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

    // An ad-hoc start selects its meeting, and again 0.3 s later.
    void adHocStartSelectsItsMeeting()
    {
        WindowRig w;
        MainContentView& content = w.content();
        content.recordingControls()->startButton()->click();
        Meeting* recording = w.session().meeting();
        QVERIFY(recording);
        QCOMPARE(content.selection(), SidebarItem::meeting(recording));
        content.setSelection(SidebarItem::home());
        w.rig.scheduler.advance(299ms);
        QCOMPARE(content.selection(), SidebarItem::home());
        w.rig.scheduler.advance(1ms);
        QCOMPARE(content.selection(), SidebarItem::meeting(recording));

        // The bar's Stop ends it and refreshes the recent list.
        content.recordingControls()->stopButton()->click();
        QVERIFY(!w.session().isRecording());
    }

    void switchingRecordingAsksFirst_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("targetDeleted"); // while the dialog is up
        QTest::newRow("Stop & Start") << QStringLiteral("Stop & Start") << false;
        QTest::newRow("Cancel") << QStringLiteral("Cancel") << false;
        QTest::newRow("Stop & Start, target gone") << QStringLiteral("Stop & Start") << true;
    }

    void switchingRecordingAsksFirst()
    {
        QFETCH(QString, answer);
        QFETCH(bool, targetDeleted);
        WindowRig w;
        MainContentView& content = w.content();
        Meeting* standup = w.addMeeting(QStringLiteral("Standup"));
        Meeting* retro = w.addMeeting(QStringLiteral("Retro"));
        QCOMPARE(w.record(standup), standup);

        // Recording into the meeting that already records asks nothing.
        w.rig->recordings().startRecording(standup);
        QVERIFY(!content.switchDialog());

        w.rig->recordings().startRecording(retro);
        QMessageBox* dialog = content.switchDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QCOMPARE(dialog->text(), QStringLiteral("Stop recording \u201CStandup\u201D and start a new one?"));
        if (targetDeleted) {
            w.store().remove(retro);
            w.store().save();
        }
        QVERIFY(press(dialog, answer));
        QTRY_VERIFY(!content.switchDialog());
        // A target deleted meanwhile starts nothing, and the recording goes on.
        const bool switched = answer == QLatin1String("Stop & Start") && !targetDeleted;
        QCOMPARE(w.session().meeting(), switched ? retro : standup);
        QVERIFY(w.rig.browser.opened.isEmpty());
    }

    void quickNoteAsksWhileRecording()
    {
        WindowRig w;
        MainContentView& content = w.content();
        w.window->quickNoteAction()->trigger();
        Meeting* first = w.session().meeting();
        QVERIFY(first && !content.quickNoteDialog());

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
        w.rig.scheduler.advance(300ms);
        QCOMPARE(content.selection(), SidebarItem::meeting(second));
    }

    // A reminder's open-and-record request, through the calendar the window is given.
    void openAndRecord_data()
    {
        QTest::addColumn<QString>("recordingBefore"); // "", "event" (its meeting) or "other"
        QTest::addColumn<bool>("eventCurrent");
        QTest::addColumn<QString>("expect"); // what records afterwards: "event", "other", "new", ""
        QTest::addColumn<bool>("dialog");
        QTest::addColumn<bool>("linkOpened");
        QTest::newRow("idle: records and opens the link") << "" << true << "event" << false << true;
        QTest::newRow("already recording it: nothing more") << "event" << true << "event" << false << false;
        QTest::newRow("another recording: asks, then switches") << "other" << true << "event" << true << true;
        QTest::newRow("event gone, idle: a new recording") << "" << false << "new" << false << false;
        QTest::newRow("event gone while recording: nothing") << "other" << false << "other" << false << false;
    }

    void openAndRecord()
    {
        QFETCH(QString, recordingBefore);
        QFETCH(bool, eventCurrent);
        QFETCH(QString, expect);
        QFETCH(bool, dialog);
        QFETCH(bool, linkOpened);
        WindowRig w;
        MainContentView& content = w.content();
        Meeting* planning = w.addMeeting(QStringLiteral("Planning"));
        Meeting* other = w.addMeeting(QStringLiteral("Interview"));
        const QUrl link(QStringLiteral("https://meet.example.test/abc-defg-hij"));
        if (eventCurrent)
            w.calendar.events.insert(QStringLiteral("evt-7"), { planning, link });
        if (recordingBefore == QLatin1String("event"))
            w.record(planning);
        else if (recordingBefore == QLatin1String("other"))
            w.record(other);
        const SidebarItem before = content.selection();

        emit w.calendar.openAndRecordRequested(QStringLiteral("evt-7"));
        QCOMPARE(w.calendar.lookups, QStringList { QStringLiteral("evt-7") });
        // The event's meeting is selected first, whatever follows.
        if (eventCurrent)
            QCOMPARE(content.selection(), SidebarItem::meeting(planning));
        else if (!recordingBefore.isEmpty())
            QCOMPARE(content.selection(), before);
        QCOMPARE(bool(content.switchDialog()), dialog);
        if (dialog) {
            QCOMPARE(content.switchDialog()->text(),
                QStringLiteral("Stop recording \u201CInterview\u201D and start a new one?"));
            QVERIFY(w.rig.browser.opened.isEmpty());
            QVERIFY(press(content.switchDialog(), QStringLiteral("Stop & Start")));
        }

        QTRY_VERIFY(!content.switchDialog());
        Meeting* recording = w.session().meeting();
        if (expect == QLatin1String("event"))
            QCOMPARE(recording, planning);
        else if (expect == QLatin1String("other"))
            QCOMPARE(recording, other);
        else
            QVERIFY(recording && recording != planning && recording != other);
        QCOMPARE(w.rig.browser.opened, linkOpened ? QList<QUrl> { link } : QList<QUrl> {});
    }

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

        // Another meeting: the selection stays.
        content.setSelection(SidebarItem::meeting(shown));
        w.rig->recordings().deleteMeeting(other);
        QCOMPARE(content.selection(), SidebarItem::meeting(shown));
        // The shown one: home, record and file gone.
        w.rig->recordings().deleteMeeting(shown);
        QCOMPARE(content.selection(), SidebarItem::home());
        QCOMPARE(w.store().meetingCount(), 1);
        QTRY_VERIFY(!w.store().hasChanges());
        idle.setFuture(w.rig->archiver().idle());
        QTRY_VERIFY(idle.isFinished());
        QCOMPARE(files(), 1);
    }

    // Deleting the meeting being recorded stops its recording first: nothing keeps capturing
    // for a record that is gone.
    void deletingTheRecordingMeetingStopsIt()
    {
        WindowRig w;
        MainContentView& content = w.content();
        Meeting* recording = w.record(w.addMeeting(QStringLiteral("Live")));
        QCOMPARE(content.selection(), SidebarItem::meeting(recording));
        const QUuid id = recording->id();

        w.rig->recordings().deleteMeeting(recording);
        QVERIFY(!w.session().isRecording());
        QVERIFY(!w.session().mixer().isRunning());
        QVERIFY(!w.store().meetingById(id));
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

        QTest::keyClick(w.window.get(), Qt::Key_Home, Qt::AltModifier);
        QCOMPARE(w.content().selection(), SidebarItem::home());
        QTest::keyClick(w.window.get(), Qt::Key_N, Qt::ControlModifier);
        QTRY_VERIFY(w.session().isRecording());
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
