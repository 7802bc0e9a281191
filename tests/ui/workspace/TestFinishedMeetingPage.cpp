#include "storage/ChatMessage.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AccessibleNames.h"
#include "support/AccessibleTree.h"
#include "support/AppRig.h"
#include "support/OneEventLinks.h"
#include "support/TempStore.h"
#include "support/TestMain.h"
#include "support/ZoneAndLocale.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/PillButton.h"
#include "ui/workspace/FinishedMeetingPage.h"
#include "ui/workspace/LiveMeetingPage.h"
#include "ui/workspace/NotesEditor.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QTextEdit>

using namespace std::chrono_literals;

using ZoneAndLocale::LocaleScope;

namespace {

Meeting& addMeeting(AppServices& services, const QString& title = QStringLiteral("Sync"))
{
    auto* meeting = new Meeting(title, QDateTime(QDate(2026, 3, 5), QTime(14, 30)));
    services.store().insert(meeting);
    services.store().save();
    return *meeting;
}

QString nameOf(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
}

void addSegments(Meeting& meeting, int count)
{
    for (int i = 0; i < count; ++i)
        meeting.appendSegment(new TranscriptSegment(QStringLiteral("Line %1").arg(i), Speaker::them(), i * 3.0));
}

template <typename T = QWidget> T* part(const QWidget& view, const char* name)
{
    return view.findChild<T*>(QString::fromLatin1(name));
}

bool shown(const QWidget& view, const char* name)
{
    const QWidget* widget = part(view, name);
    return widget && widget->isVisibleTo(&view);
}

} // namespace

class TestFinishedMeetingPage final : public QObject
{
    Q_OBJECT

private slots:
    void contentFollowsTheMeeting_data()
    {
        QTest::addColumn<std::optional<QString>>("summary");
        QTest::addColumn<int>("segments");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<int>("content");
        QTest::addColumn<bool>("actionBar");
        QTest::addColumn<QString>("generateButton"); // empty: not shown
        QTest::addColumn<int>("editorHeight"); // 0: no editor
        using C = FinishedMeetingPage::Content;
        QTest::newRow("summary") << std::optional<QString>("## Done\n- shipped") << 3 << "" << int(C::summary) << true
                                 << "" << 0;
        QTest::newRow("empty summary falls through")
            << std::optional<QString>("") << 0 << "" << int(C::empty) << true << "" << 240;
        QTest::newRow("empty summary with notes")
            << std::optional<QString>("") << 0 << "ideas" << int(C::unsummarized) << true << "" << 240;
        QTest::newRow("segments") << std::optional<QString>() << 2 << "" << int(C::unsummarized) << true
                                  << "Generate summary" << 160;
        QTest::newRow("segments and notes")
            << std::optional<QString>() << 2 << "ideas" << int(C::unsummarized) << true << "Enhance with AI" << 160;
        QTest::newRow("notes only") << std::optional<QString>() << 0 << "ideas" << int(C::unsummarized) << false << ""
                                    << 240;
        QTest::newRow("blank notes are none")
            << std::optional<QString>() << 0 << " \n " << int(C::empty) << false << "" << 240;
        QTest::newRow("nothing") << std::optional<QString>() << 0 << "" << int(C::empty) << false << "" << 240;
    }

    void contentFollowsTheMeeting()
    {
        QFETCH(std::optional<QString>, summary);
        QFETCH(int, segments);
        QFETCH(QString, notes);
        QFETCH(int, content);
        QFETCH(bool, actionBar);
        QFETCH(QString, generateButton);
        QFETCH(int, editorHeight);
        AppRig rig;
        Meeting& meeting = addMeeting(*rig);
        meeting.setSummary(summary);
        meeting.setUserNotes(notes);
        addSegments(meeting, segments);
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.resize(1120, 740);
        view.show();

        QCOMPARE(int(view.content()), content);
        QCOMPARE(shown(view, "actionBar"), actionBar);
        QCOMPARE(shown(view, "generateButton"), !generateButton.isEmpty());
        if (!generateButton.isEmpty())
            QCOMPARE(part<PillButton>(view, "generateButton")->text(), generateButton);
        QCOMPARE(shown(view, "notesEditor"), editorHeight > 0);
        if (editorHeight > 0)
            QCOMPARE(part(view, "notesEditor")->minimumHeight(), editorHeight);
        QCOMPARE(shown(view, "summary"), content == int(FinishedMeetingPage::Content::summary));
        // Whatever the page holds, a screen reader finds every control by a name: the title and
        // the notes by what they are, the symbols by their help texts.
        QUILLET_VERIFY_ALL_NAMED(view);
        QCOMPARE(nameOf(part(view, "titleField")), QStringLiteral("Title"));
        if (editorHeight > 0)
            QCOMPARE(nameOf(part(view, "notesEditor")), QStringLiteral("Notes"));
        if (actionBar) {
            QCOMPARE(nameOf(part(view, "shareButton")), QStringLiteral("Share summary — copies a public link"));
            QCOMPARE(nameOf(part(view, "regenerateButton")), QStringLiteral("Regenerate title & summary"));
        }
    }

    void summaryAndNotesSwitch()
    {
        AppRig rig;
        Meeting& meeting = addMeeting(*rig);
        meeting.setSummary(QStringLiteral("We agreed."));
        meeting.setUserNotes(QStringLiteral("mine"));
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        QVERIFY(shown(view, "summary"));
        QVERIFY(!shown(view, "notesEditor"));
        view.setDetailMode(FinishedMeetingPage::DetailMode::notes);
        QVERIFY(!shown(view, "summary"));
        QVERIFY(shown(view, "notesEditor"));
        QCOMPARE(part<NotesEditor>(view, "notesEditor")->text(), QStringLiteral("mine"));
    }

    void titleEditsAreMarkedOnlyWhenTyped()
    {
        AppRig rig;
        Meeting& meeting = addMeeting(*rig, QString());
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* title = part<QTextEdit>(view, "titleField");
        QCOMPARE(title->placeholderText(), QStringLiteral("Untitled"));

        // Written by the summary or the calendar: shown and saved, never marked.
        meeting.setTitle(QStringLiteral("Budget review"));
        QCOMPARE(title->toPlainText(), QStringLiteral("Budget review"));
        QVERIFY(!meeting.titleIsUserEdited());
        QTRY_VERIFY(!rig->store().hasChanges());

        title->setFocus();
        QTRY_VERIFY(title->hasFocus());
        title->moveCursor(QTextCursor::End);
        QTest::keyClicks(title, QStringLiteral(" Q3"));
        QCOMPARE(meeting.title(), QStringLiteral("Budget review Q3"));
        QVERIFY(meeting.titleIsUserEdited());
        QVERIFY(rig->archiveQueue().isPending(meeting.id()));
        QTRY_VERIFY(!rig->store().hasChanges());

        // Return ends the editing and adds no line.
        QTest::keyClick(title, Qt::Key_Return);
        QVERIFY(!title->hasFocus());
        QCOMPARE(meeting.title(), QStringLiteral("Budget review Q3"));
    }

    // What a screen reader finds on the two pages, from the page down: the summary's tasks as
    // check boxes, the transcript as a list of turns, the live row or draft last while live, and
    // the chat as a list of messages.
    void screenReaderReadsThePages()
    {
        AppRig rig;
        Meeting& meeting = addMeeting(*rig);
        meeting.setSummary(QStringLiteral("## Next\n- [ ] Send the deck\n- [x] Book the room"));
        addSegments(meeting, 2);
        meeting.appendChatMessage(new ChatMessage(ChatRole::User, QStringLiteral("When?"), {}));
        auto finished = std::make_unique<FinishedMeetingPage>(meeting, WorkspaceServices::of(*rig));
        finished->resize(1120, 900);
        finished->setShowChat(true);
        finished->setShowTranscript(true);
        finished->show();
        QVERIFY(QTest::qWaitForWindowExposed(finished.get()));
        // Tab reads them in the order shown, though the chat opened first.
        QStringList stops;
        for (QWidget* stop = finished->nextInFocusChain(); stop != finished.get(); stop = stop->nextInFocusChain())
            if (stop->objectName() == QStringLiteral("transcriptFeed") || stop->accessibleName() == "Conversation")
                stops.append(stop->accessibleName());
        QCOMPARE(stops, (QStringList { "Transcript", "Conversation" }));
        const auto itemsOf = [](QWidget& page, const QString& first) {
            QAccessibleInterface* list
                = AccessibleTree::find(AccessibleTree::of(&page), [&](QAccessibleInterface* item) {
                      return item->role() == QAccessible::List && item->childCount() > 0
                          && AccessibleTree::name(item->child(0)) == first;
                  });
            return AccessibleTree::names(AccessibleTree::items(list));
        };
        QCOMPARE(
            itemsOf(*finished, "Them, 0:00: Line 0"), (QStringList { "Them, 0:00: Line 0", "Them, 0:03: Line 1" }));
        QCOMPARE(itemsOf(*finished, "You: When?"), QStringList { "You: When?" });
        QAccessibleInterface* done = AccessibleTree::find(
            AccessibleTree::of(finished.get()), QAccessible::CheckBox, QStringLiteral("Book the room"));
        QVERIFY(done && done->state().checked);
        QAccessibleInterface* open = AccessibleTree::find(
            AccessibleTree::of(finished.get()), QAccessible::CheckBox, QStringLiteral("Send the deck"));
        QVERIFY(open && !open->state().checked);
        finished.reset();

        meeting.setIsRecording(true);
        LiveMeetingPage live(meeting, WorkspaceServices::of(*rig));
        live.resize(1120, 900);
        live.show();
        QVERIFY(QTest::qWaitForWindowExposed(&live));
        QCOMPARE(itemsOf(live, "Them, 0:00: Line 0"),
            (QStringList { "Them, 0:00: Line 0", "Them, 0:03: Line 1", "Listening…" }));
    }

    void paneResizes()
    {
        AppRig rig;
        Meeting& meeting = addMeeting(*rig);
        meeting.setIsRecording(true);
        auto view = std::make_unique<LiveMeetingPage>(meeting, WorkspaceServices::of(*rig));
        view->resize(1120, 900);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        QCOMPARE(view->transcriptHeight(), 340.0);
        QWidget* handle = part(*view, "resizeHandle");
        QCOMPARE(handle->cursor().shape(), Qt::SizeVerCursor);
        const QPoint grip = handle->rect().center();
        const auto drag = [&](int dy) {
            QTest::mousePress(handle, Qt::LeftButton, {}, grip);
            QTest::mouseMove(handle, grip + QPoint(0, dy / 2));
            QTest::mouseMove(handle, grip + QPoint(0, dy));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(0, dy));
        };
        drag(-500); // up: taller, stops at 560
        QCOMPARE(view->transcriptHeight(), 560.0);
        drag(100); // the second drag starts from the stored height
        QCOMPARE(view->transcriptHeight(), 460.0);
        drag(900);
        QCOMPARE(view->transcriptHeight(), 44.0);
        QTRY_COMPARE(part(*view, "transcriptPane")->height(), 44);

        auto* collapse = part<QAbstractButton>(*view, "collapseToggle");
        for (const auto& [from, to, help] : { std::tuple { 60.0, 240.0, "Show the transcript" },
                 std::tuple { 61.0, 44.0, "Collapse the transcript" } }) {
            rig->settings().set(SettingsKeys::transcriptPaneHeight, from);
            QCOMPARE(collapse->toolTip(), QString::fromLatin1(help));
            QCOMPARE(nameOf(collapse), QString::fromLatin1(help));
            QTest::mouseClick(collapse, Qt::LeftButton);
            QCOMPARE(view->transcriptHeight(), to);
        }

        // One height for every meeting.
        Meeting& other = addMeeting(*rig);
        other.setIsRecording(true);
        view = std::make_unique<LiveMeetingPage>(other, WorkspaceServices::of(*rig));
        view->show();
        QCOMPARE(view->transcriptHeight(), 44.0);
        QCOMPARE(part(*view, "transcriptPane")->height(), 44);
    }

    void durationText_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("shown"); // empty: no label
        QTest::newRow("none") << 0.0 << "";
        QTest::newRow("59.9 s") << 59.9 << "<1M";
        QTest::newRow("60 s") << 60.0 << "1M";
        QTest::newRow("3599 s") << 3599.0 << "59M";
        QTest::newRow("3600 s") << 3600.0 << "1H 0M";
        QTest::newRow("3725 s") << 3725.0 << "1H 2M";
    }

    void durationText()
    {
        QFETCH(double, seconds);
        QFETCH(QString, shown);
        AppRig rig;
        Meeting& meeting = addMeeting(*rig);
        meeting.setDuration(seconds);
        const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        QCOMPARE(part<QLabel>(view, "dateLabel")->text(), QStringLiteral("MAR 5, 2026, 2:30 PM"));
        QCOMPARE(::shown(view, "durationLabel"), !shown.isEmpty());
        if (!shown.isEmpty())
            QCOMPARE(part<QLabel>(view, "durationLabel")->text(), shown);
    }

    void dateAndAutoStartFollowTheLocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("autoStart");
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates)
                               << QStringLiteral("MAR 5, 2026, 2:30 PM") << QStringLiteral("Auto-start at 11:15 AM");
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << QStringLiteral("5. MÄRZ 2026, 14:30")
                               << QStringLiteral("Auto-start at 11:15");
        QTest::newRow("vi_VN") << QLocale(QLocale::Vietnamese, QLocale::Vietnam)
                               << QStringLiteral("5 THG 3, 2026, 14:30") << QStringLiteral("Auto-start at 11:15");
        // The C locale's own short time is "HH:mm:ss".
        QTest::newRow("C") << QLocale::c() << QStringLiteral("5 MAR 2026, 14:30")
                           << QStringLiteral("Auto-start at 11:15");
    }

    void dateAndAutoStartFollowTheLocale()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, date);
        QFETCH(QString, autoStart);
        const LocaleScope scope(locale);
        AppRig rig;
        Meeting& meeting = addMeeting(*rig);
        meeting.setScheduledStart(QDateTime(QDate(2026, 3, 20), QTime(11, 15, 42)));
        rig->store().save();
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        QCOMPARE(part<QLabel>(view, "dateLabel")->text(), date);
        QVERIFY(shown(view, "autoStartBox"));
        QCOMPARE(part<QCheckBox>(view, "autoStartBox")->text(), autoStart);
    }

    void autoStartBox_data()
    {
        QTest::addColumn<int>("startsIn"); // seconds from the rig's clock
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("offered");
        QTest::newRow("later") << 3600 << false << true;
        QTest::newRow("past") << -60 << false << false;
        QTest::newRow("recording") << 3600 << true << false;
    }

    void autoStartBox()
    {
        QFETCH(int, startsIn);
        QFETCH(bool, recording);
        QFETCH(bool, offered);
        AppRig rig;
        Meeting& meeting = addMeeting(*rig);
        const QDateTime start = rig.clock.now().addSecs(startsIn);
        meeting.setScheduledStart(start);
        meeting.setIsRecording(recording);
        rig->store().save();
        const std::unique_ptr<MeetingPage> view(MeetingPage::make(meeting, WorkspaceServices::of(*rig)));
        QCOMPARE(view->isLive(), recording);
        view->show();
        QCOMPARE(shown(*view, "autoStartBox"), offered);
        if (!offered)
            return;
        auto* box = part<QCheckBox>(*view, "autoStartBox");
        box->click();
        QVERIFY(meeting.autoStartEnabled());
        QTRY_VERIFY(!rig->store().hasChanges());
    }

    void notesEditorReportsEdits()
    {
        AppRig rig({ .steppedDelays = true });
        Meeting& meeting = addMeeting(*rig);
        meeting.setUserNotes(QStringLiteral("loaded"));
        rig->store().save();
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* notes = part<NotesEditor>(view, "notesEditor");
        QCOMPARE(notes->placeholderText(), QStringLiteral("Write your notes…"));
        QCOMPARE(notes->text(), QStringLiteral("loaded"));
        QVERIFY(!rig->archiveQueue().isPending(meeting.id())); // loading is no edit

        int changes = 0;
        connect(&meeting, &Meeting::userNotesChanged, this, [&] { ++changes; });
        notes->setFocus();
        notes->moveCursor(QTextCursor::End);
        QTest::keyClicks(notes, QStringLiteral(" ok"));
        QCOMPARE(changes, 3);
        QCOMPARE(meeting.userNotes(), QStringLiteral("loaded ok"));
        QVERIFY(rig->archiveQueue().isPending(meeting.id()));
        // The store commits at the next turn of the event loop, without waiting for a pause.
        letTheLoopTurn(rig->store());
        QVERIFY(!rig->store().hasChanges());

        // Notes changed elsewhere are shown, and are no edit of this editor.
        meeting.setUserNotes(QStringLiteral("from elsewhere"));
        QCOMPARE(notes->text(), QStringLiteral("from elsewhere"));
    }

    void linkBannerOffersTheEvent()
    {
        OneEventLinks links;
        AppRig rig({ .eventLinks = &links });
        Meeting& meeting = addMeeting(*rig, QStringLiteral("Quick note"));
        Meeting& other = addMeeting(*rig, QStringLiteral("Another note"));
        auto view = std::make_unique<FinishedMeetingPage>(meeting, WorkspaceServices::of(*rig));
        view->show();
        QVERIFY(shown(*view, "linkBanner"));
        bool textShown = false;
        for (const QLabel* label : view->findChildren<QLabel*>())
            textShown = textShown
                || (label->isVisibleTo(view.get()) && label->text() == QStringLiteral("Link to “Design review”?"));
        QVERIFY(textShown);

        part<QAbstractButton>(*view, "linkButton")->click();
        QCOMPARE(links.linked, QStringList { "evt-7" });
        QCOMPARE(meeting.title(), QStringLiteral("Design review"));
        QTRY_VERIFY(!rig->store().hasChanges());
        QVERIFY(!shown(*view, "linkBanner"));
        rig->archiver().idle().waitForFinished();
        QVERIFY(QFile::exists(rig.archiveRoot() + QStringLiteral("/index.json")));

        view = std::make_unique<FinishedMeetingPage>(other, WorkspaceServices::of(*rig));
        view->show();
        part<QAbstractButton>(*view, "dismissLinkButton")->click();
        QVERIFY(other.linkBannerDismissed());
        QTRY_VERIFY(!rig->store().hasChanges());
        QVERIFY(!shown(*view, "linkBanner"));
    }

    void noCalendarOffersNothing()
    {
        AppRig rig;
        Meeting& meeting = addMeeting(*rig);
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        QVERIFY(!shown(view, "linkBanner"));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestFinishedMeetingPage)
#include "TestFinishedMeetingPage.moc"
