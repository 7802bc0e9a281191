#include "archive/ArchiveQueue.h"
#include "platform/Log.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "storage/TranscriptSegment.h"
#include "support/AccessibleTree.h"
#include "support/AppRig.h"
#include "support/ArchiveFolder.h"
#include "support/FakeScheduler.h"
#include "support/ProviderAnswers.h"
#include "support/RecordingArchiver.h"
#include "support/TempStore.h"
#include "support/TestMain.h"
#include "system/Keychain.h"
#include "ui/workspace/FinishedMeetingPage.h"
#include "ui/workspace/NotesEditor.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>

Q_DECLARE_METATYPE(FakeHttpServer::Reply)

using namespace std::chrono_literals;

namespace {

using Secrets = QList<std::pair<QString, QByteArray>>;

const QByteArray kChatPath = "/v1/chat/completions";

using ProviderAnswers::completion;

// The provider's chat service: the title request and the summary request, told apart by the
// title prompt.
void answerSummaries(FakeHttpServer& provider, FakeHttpServer::Reply title, FakeHttpServer::Reply summary)
{
    provider.on("POST", kChatPath, [title, summary](const FakeHttpServer::Request& request) {
        const QString system = request.json().value("messages").toArray().first()["content"].toString();
        return system.startsWith(QStringLiteral("Generate a concise meeting title")) ? title : summary;
    });
}

Meeting& addMeeting(AppServices& services, const QString& title, int segments)
{
    auto* meeting = new Meeting(title, QDateTime(QDate(2026, 1, 31), QTime(14, 5), Qt::UTC));
    meeting->setDuration(754.9);
    for (int i = 0; i < segments; ++i)
        meeting->appendSegment(
            new TranscriptSegment(QStringLiteral("We ship on Friday %1.").arg(i), Speaker::them(), i * 3.0));
    services.store().insert(meeting);
    services.store().save();
    return *meeting;
}

// What the archive holds for a meeting: its markdown, or nothing when the index does not list it.
std::optional<QString> archived(AppRig& rig, const QUuid& meetingId)
{
    rig->archiver().idle().waitForFinished();
    QFile index(rig.archiveRoot() + QStringLiteral("/index.json"));
    if (!index.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject entries = QJsonDocument::fromJson(index.readAll()).object();
    const QString id = meetingId.toString(QUuid::WithoutBraces).toUpper();
    if (!entries.contains(id))
        return std::nullopt;
    QFile file(rig.archiveRoot() + QLatin1Char('/') + entries.value(id)["path"].toString());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll());
}

void signIn(AppRig& rig, const Secrets& secrets)
{
    for (const auto& [account, value] : secrets)
        rig.secrets.write(Keychain::kService, account, value);
    rig.restart();
}

QAbstractButton* part(const QWidget& view, const char* name)
{
    return view.findChild<QAbstractButton*>(QString::fromLatin1(name));
}

} // namespace

// A meeting page's commands (regenerate, share, copy) and its edits as a person makes them on
// the real page: what they store, what the archive then holds, and what a kill or a quit keeps.
class TestMeetingPageCommands final : public QObject
{
    Q_OBJECT

private slots:
    void regenerateWritesBothOrNeither_data()
    {
        QTest::addColumn<int>("titleStatus");
        QTest::addColumn<QString>("titleReply");
        QTest::addColumn<int>("summaryStatus");
        QTest::addColumn<bool>("userNamed");
        QTest::addColumn<QString>("title"); // expected afterwards
        QTest::addColumn<QString>("summary"); // null: none
        QTest::newRow("both") << 200 << "\"Friday ship plan\"" << 200 << false << "Friday ship plan"
                              << "## Plan\n- ship";
        QTest::newRow("user named") << 200 << "Friday ship plan" << 200 << true << "Sync"
                                    << "## Plan\n- ship";
        QTest::newRow("quotes only keep the title") << 200 << "\"\"\"\"" << 200 << false << "Sync"
                                                    << "## Plan\n- ship";
        QTest::newRow("summary fails") << 200 << "Friday ship plan" << 500 << false << "Sync" << QString();
        QTest::newRow("title fails") << 500 << "" << 200 << false << "Sync" << QString();
    }

    void regenerateWritesBothOrNeither()
    {
        QFETCH(int, titleStatus);
        QFETCH(QString, titleReply);
        QFETCH(int, summaryStatus);
        QFETCH(bool, userNamed);
        QFETCH(QString, title);
        QFETCH(QString, summary);
        AppRig rig;
        rig->account().setByoKey(QStringLiteral("tq-own"));
        answerSummaries(rig.provider,
            titleStatus == 200 ? completion(titleReply) : FakeHttpServer::Reply::json(titleStatus, "{\"error\":\"t\"}"),
            summaryStatus == 200 ? completion(QStringLiteral("## Plan\n- ship"))
                                 : FakeHttpServer::Reply::json(summaryStatus, "{\"error\":\"s\"}"));
        Meeting& meeting = addMeeting(*rig, QStringLiteral("Sync"), 3);
        meeting.setTitleIsUserEdited(userNamed);
        rig->store().save();
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        LogCapture log;
        AccessibleTree::EventSpy events;

        // Pressed from the keyboard: the keyboard waits where the summary comes, not on the
        // next control of the page, and the outcome is said once.
        auto* generate = view.findChild<QAbstractButton*>(QStringLiteral("generateButton"));
        generate->setFocus(Qt::TabFocusReason);
        QTest::keyClick(generate, Qt::Key_Space);
        QVERIFY(view.actions().isRegenerating());
        QCOMPARE(view.content(), FinishedMeetingPage::Content::generating);
        auto* waiting = qobject_cast<QLabel*>(QApplication::focusWidget());
        QVERIFY(waiting && waiting->isVisible());
        QCOMPARE(waiting->text(), QStringLiteral("Writing your notes…"));
        QTRY_VERIFY(!view.actions().isRegenerating());
        const QStringList said = summary.isNull()
            ? QStringList { view.findChild<QLabel*>(QStringLiteral("regenerateError"))->text() }
            : QStringList { QStringLiteral("Summary written.") };
        QTRY_COMPARE(events.announcements(), said);
        QCOMPARE(QApplication::focusWidget(),
            summary.isNull() ? static_cast<QWidget*>(generate) : view.findChild<QWidget*>(QStringLiteral("summary")));
        QCOMPARE(meeting.title(), title);
        QCOMPARE(meeting.summary(), summary.isNull() ? std::optional<QString>() : std::optional<QString>(summary));
        QVERIFY(log.contains(QStringLiteral("[Quillet] Regenerating summary (transcript %1 chars)")
                                 .arg(meeting.formattedTranscript().size())));
        if (summary.isNull()) {
            QVERIFY(view.actions().regenerateError());
            QVERIFY(log.contains(QStringLiteral("[Quillet] Regenerate failed: ") + *view.actions().regenerateError()));
            QCOMPARE(view.content(), FinishedMeetingPage::Content::unsummarized);
            return;
        }
        QVERIFY(!view.actions().regenerateError());
        QVERIFY(log.contains(QStringLiteral("[Quillet] Summary regenerated (%1 chars)").arg(summary.size())));
        QVERIFY(!rig->store().hasChanges());
        // Archived at once, not after the edit delay.
        const std::optional<QString> file = archived(rig, meeting.id());
        QVERIFY(file && file->contains(QStringLiteral("- ship")));
    }

    // A meeting deleted while its summary is being written stays deleted: the late answer
    // writes neither the meeting nor its file, and the import cannot bring it back.
    void regenerationOfADeletedMeetingWritesNothing()
    {
        AppRig rig;
        rig->account().setByoKey(QStringLiteral("tq-own"));
        answerSummaries(rig.provider, completion(QStringLiteral("New title")), completion(QStringLiteral("Summary")));
        rig.provider.hold("POST", kChatPath);
        Meeting& meeting = addMeeting(*rig, QStringLiteral("Doomed"), 2);
        auto view = std::make_unique<FinishedMeetingPage>(meeting, WorkspaceServices::of(*rig));
        view->actions().regenerate();
        QTRY_COMPARE(rig.provider.heldCount(), 2);

        // Another meeting is selected, then this one is deleted; the store commits the removal
        // at the loop's next turn, which may come before or after the answer.
        view.reset();
        LogCapture log;
        const QUuid id = meeting.id();
        const QPointer<Meeting> doomed(&meeting);
        rig->store().remove(&meeting);
        rig->archiver().remove(id);
        rig.provider.release("POST", kChatPath);
        QTRY_VERIFY(log.containsPart(QStringLiteral("[Quillet] Summary regenerated")));
        if (doomed) {
            QCOMPARE(doomed->summary(), std::optional<QString>());
            QCOMPARE(doomed->title(), QStringLiteral("Doomed"));
        }
        QVERIFY(rig->store().save().ok());
        QVERIFY(!rig->store().meetingById(id));
        QCOMPARE(archived(rig, id), std::nullopt);
    }

    void shareSendsAsTheAccount_data()
    {
        QTest::addColumn<Secrets>("secrets");
        QTest::addColumn<QString>("bearer"); // empty: no request
        QTest::addColumn<QString>("email"); // null: no "email" key
        QTest::newRow("session") << Secrets { { "quillet-session-token", "sess-1" }, { "tessra-oauth-key", "tq-oauth" },
            { "tessra-oauth-email", "lan@example.com" } }
                                 << "sess-1" << QString();
        QTest::newRow("provider sign-in")
            << Secrets { { "tessra-oauth-key", "tq-oauth" }, { "tessra-oauth-email", "lan@example.com" } } << "tq-oauth"
            << "lan@example.com";
        QTest::newRow("provider sign-in without e-mail")
            << Secrets { { "tessra-oauth-key", "tq-oauth" } } << "tq-oauth" << QString();
        QTest::newRow("own key only") << Secrets { { "tessra-byo-key", "tq-own" } } << "" << QString();
    }

    void shareSendsAsTheAccount()
    {
        QFETCH(Secrets, secrets);
        QFETCH(QString, bearer);
        QFETCH(QString, email);
        AppRig rig;
        signIn(rig, secrets);
        rig.cloud.on("POST", "/v1/shares",
            FakeHttpServer::Reply::json(200, "{\"id\":\"s1\",\"url\":\"https://quillet.app/s/8f3k2\"}"));
        Meeting& meeting = addMeeting(*rig, QString(), 2);
        meeting.setSummary(QStringLiteral("## Plan"));
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));

        view.actions().share();
        if (bearer.isEmpty()) {
            QMessageBox* alert = view.shareAlert();
            QVERIFY(alert);
            QCOMPARE(alert->windowTitle(), QStringLiteral("Couldn't share"));
            QCOMPARE(alert->text(), QStringLiteral("Sign in (Settings → Account) to share notes."));
            QCOMPARE(alert->informativeText(), QString());
            QCOMPARE(rig.cloud.requestCount(), 0);
            // Wide enough for its title and for the message on one line.
            QTRY_VERIFY(alert->isVisible());
            const auto* label = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            QVERIFY(label);
            QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(alert->text()));
            QVERIFY(alert->width() >= alert->fontMetrics().horizontalAdvance(alert->windowTitle()) * 2);
            return;
        }
        QVERIFY(view.actions().isSharing());
        QVERIFY(!part(view, "shareButton")->isVisible());
        QTRY_VERIFY(view.shareAlert());
        QVERIFY(!view.actions().isSharing());
        const FakeHttpServer::Request request = rig.cloud.requestsTo("POST", "/v1/shares").first();
        QCOMPARE(request.header("Authorization"), "Bearer " + bearer.toUtf8());
        const QJsonObject body = request.json();
        QCOMPARE(body.value("email").toString(), email);
        QCOMPARE(body.contains("email"), !email.isNull());
        QCOMPARE(body.value("title").toString(), QStringLiteral("Untitled meeting"));
        QCOMPARE(body.value("duration").toString(), QStringLiteral("754"));
        QCOMPARE(body.value("date").toString(), QStringLiteral("2026-01-31T14:05:00Z"));

        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("https://quillet.app/s/8f3k2"));
        QCOMPARE(view.shareAlert()->windowTitle(), QStringLiteral("Link copied"));
        QCOMPARE(view.shareAlert()->text(),
            QStringLiteral("Anyone with this link can read this summary.\n\nhttps://quillet.app/s/8f3k2"));
        QStringList buttons;
        for (const QAbstractButton* button : view.shareAlert()->buttons())
            buttons << button->text();
        buttons.sort();
        QCOMPARE(buttons, QStringList({ "Done", "Open in browser" }));
    }

    void shareFailureAndLinks_data()
    {
        QTest::addColumn<FakeHttpServer::Reply>("reply");
        QTest::addColumn<QString>("message"); // null: "Link copied"
        QTest::addColumn<bool>("opens");
        QTest::newRow("server's text") << FakeHttpServer::Reply::json(
            403, "{\"error\":{\"code\":\"forbidden\",\"message\":\"Sharing is off for this account\"}}")
                                       << "Sharing is off for this account" << false;
        QTest::newRow("web link") << FakeHttpServer::Reply::json(
            200, "{\"id\":\"s\",\"url\":\"https://quillet.app/s/1\"}")
                                  << QString() << true;
        QTest::newRow("sign-in link") << FakeHttpServer::Reply::json(
            200, "{\"id\":\"s\",\"url\":\"quillet://auth?token=x\"}")
                                      << QString() << false;
        QTest::newRow("not a url") << FakeHttpServer::Reply::json(200, "{\"id\":\"s\",\"url\":\"not a url\"}")
                                   << QString() << false;
    }

    void shareFailureAndLinks()
    {
        QFETCH(FakeHttpServer::Reply, reply);
        QFETCH(QString, message);
        QFETCH(bool, opens);
        AppRig rig;
        signIn(rig, { { "quillet-session-token", "sess-1" } });
        rig.cloud.on("POST", "/v1/shares", reply);
        Meeting& meeting = addMeeting(*rig, QStringLiteral("Sync"), 1);
        meeting.setSummary(QStringLiteral("Done."));
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        view.actions().share();
        QTRY_VERIFY(view.shareAlert());
        if (!message.isNull()) {
            QCOMPARE(view.shareAlert()->windowTitle(), QStringLiteral("Couldn't share"));
            QCOMPARE(view.shareAlert()->text(), message);
            QCOMPARE(view.shareAlert()->buttons().size(), 1);
            QCOMPARE(view.shareAlert()->buttons().first()->text(), QStringLiteral("OK"));
            return;
        }
        for (QAbstractButton* button : view.shareAlert()->buttons()) {
            if (button->text() == QStringLiteral("Open in browser"))
                button->click();
        }
        QCOMPARE(rig.browser.opened.size(), opens ? 1 : 0);
    }

    void copyAndTheBarsStates_data()
    {
        QTest::addColumn<std::optional<QString>>("summary");
        QTest::addColumn<int>("segments");
        QTest::addColumn<QString>("copiedSummary"); // null: the clipboard keeps its text
        QTest::addColumn<bool>("copiedTranscript");
        QTest::newRow("summary and transcript") << std::optional<QString>("## Plan") << 2 << "## Plan" << true;
        QTest::newRow("empty summary") << std::optional<QString>("") << 0 << "" << false;
        QTest::newRow("no summary") << std::optional<QString>() << 2 << QString() << true;
    }

    void copyAndTheBarsStates()
    {
        QFETCH(std::optional<QString>, summary);
        QFETCH(int, segments);
        QFETCH(QString, copiedSummary);
        QFETCH(bool, copiedTranscript);
        AppRig rig;
        Meeting& meeting = addMeeting(*rig, QStringLiteral("Sync"), segments);
        meeting.setSummary(summary);
        FinishedMeetingPage view(meeting, WorkspaceServices::of(*rig));
        view.show();
        QCOMPARE(part(view, "copySummaryButton")->isEnabled(), summary.has_value());
        QCOMPARE(part(view, "copyTranscriptButton")->isEnabled(), segments > 0);
        QCOMPARE(part(view, "shareButton")->isEnabled(), summary && !summary->isEmpty());
        QCOMPARE(part(view, "regenerateButton")->isEnabled(), segments > 0);

        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("before"));
        view.actions().copySummary();
        QCOMPARE(clipboard->text(), copiedSummary.isNull() ? QStringLiteral("before") : copiedSummary);
        clipboard->setText(QStringLiteral("before"));
        view.actions().copyTranscript();
        QCOMPARE(clipboard->text(), copiedTranscript ? meeting.formattedTranscript() : QStringLiteral("before"));
    }

    // Three edits 0.3 s apart give one write, 0.9 s after the third, of the third; a meeting
    // deleted meanwhile gets none.
    void editsAreArchivedOnceAfterThePause()
    {
        TempStore store;
        RecordingArchiver archiver;
        FakeScheduler scheduler;
        ArchiveQueue queue(store.context(), archiver, scheduler);
        auto* meeting = new Meeting(QStringLiteral("Sync"), QDateTime::currentDateTimeUtc());
        auto* deleted = new Meeting(QStringLiteral("Gone"), QDateTime::currentDateTimeUtc());
        store->insert(meeting);
        store->insert(deleted);
        store->save();

        // Each edit committed at the loop's next turn, as the store does on its own: the archive
        // writes only what the store holds.
        store->commitChangesEachTurn();
        for (const char* notes : { "a", "ab", "abc" }) {
            meeting->setUserNotes(QString::fromLatin1(notes));
            letTheLoopTurn(store.context());
            QVERIFY(!store->hasChanges());
            scheduler.advance(300ms);
        }
        deleted->setUserNotes(QStringLiteral("Last words"));
        store->remove(deleted);
        letTheLoopTurn(store.context());
        QVERIFY(!store->hasChanges());
        QVERIFY(archiver.archived.isEmpty());
        scheduler.advance(599ms);
        QVERIFY(archiver.archived.isEmpty());
        scheduler.advance(1ms);
        QCOMPARE(archiver.archived.size(), 1);
        QCOMPARE(archiver.archived.first().userNotes, QStringLiteral("abc"));
        scheduler.advance(2000ms);
        QCOMPARE(archiver.archived.size(), 1);
    }

    // The write outlives the view: selecting another meeting right after typing still writes.
    void switchingMeetingsStillWrites()
    {
        AppRig rig({ .steppedDelays = true });
        Meeting& meeting = addMeeting(*rig, QStringLiteral("Sync"), 0);
        auto view = std::make_unique<FinishedMeetingPage>(meeting, WorkspaceServices::of(*rig));
        view->show();
        auto* notes = view->findChild<NotesEditor*>(QStringLiteral("notesEditor"));
        notes->setFocus();
        QTest::keyClicks(notes, QStringLiteral("decide pricing"));
        view.reset();
        QCOMPARE(archived(rig, meeting.id()), std::nullopt);
        // The store commits the typing at the loop's next turn, and the archive writes what it
        // holds once its delay has passed.
        letTheLoopTurn(rig->store());
        rig.scheduler.advance(900ms);
        const std::optional<QString> file = archived(rig, meeting.id());
        QVERIFY(file && file->contains(QStringLiteral("decide pricing")));
    }

    // A person types into the notes and the title, the event loop turns once, and the process
    // is killed: the store holds every key, without waiting for a pause in the typing, and
    // knows that the meeting's file is behind, which the next launch brings up to date.
    void killedAfterTheLoopTurnsKeepsEveryKey()
    {
        QTemporaryDir folder;
        const QString notes = QStringLiteral("Decide pricing by Friday, ask Zoë; résumé ready");
        const QString title = QStringLiteral("Pricing sync \u00B7 Q3");
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(TYPING_CHILD_PROCESS), { folder.path(), notes, title });
        QVERIFY(child.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine() || child.state() == QProcess::NotRunning, kPatientWaitMs);
        const QByteArray line = child.readLine().trimmed();
        QVERIFY2(line.startsWith("typed "), line.constData());
        child.kill(); // SIGKILL: no destructor, no save at quit
        QVERIFY(child.waitForFinished());
        const QUuid id(QString::fromLatin1(line.mid(6)));

        Result<std::unique_ptr<ModelContext>, StoreError> opened
            = ModelContext::open(folder.filePath(QStringLiteral("Quillet.store")));
        QVERIFY2(opened.ok(), qPrintable(openFailure(opened)));
        const Meeting* meeting = opened.value()->meetingById(id);
        QVERIFY(meeting);
        QCOMPARE(meeting->userNotes(), notes);
        QCOMPARE(meeting->title(), title);
        QVERIFY(opened.value()->archiveWritesOwed().contains(id));
        std::move(opened).value().reset();

        AppRig relaunched({ .steppedDelays = true, .folder = folder.path() });
        const auto fileOf = [&] {
            const QMap<QString, QString> files = ArchiveFolder::markdownFiles(relaunched->archiver());
            return files.size() == 1 ? files.first() : QString();
        };
        QVERIFY(ArchiveFolder::drain(relaunched->archiver()));
        QVERIFY(!fileOf().contains(notes));
        relaunched->launch();
        QVERIFY(ArchiveFolder::drain(relaunched->archiver()));
        QVERIFY2(fileOf().contains(notes) && fileOf().contains(QStringLiteral("# ") + title), qPrintable(fileOf()));
        QTRY_VERIFY(relaunched->store().archiveWritesOwed().isEmpty());
    }

    // An edit just before quitting reaches the archive; the back-fill would skip the meeting,
    // which the index already lists.
    void quittingWritesPendingEdits()
    {
        AppRig rig({ .steppedDelays = true });
        Meeting& meeting = addMeeting(*rig, QStringLiteral("Sync"), 1);
        rig->archiver().archive(MeetingArchiver::Snapshot(meeting));
        auto view = std::make_unique<FinishedMeetingPage>(meeting, WorkspaceServices::of(*rig));
        view->show();
        auto* notes = view->findChild<NotesEditor*>(QStringLiteral("notesEditor"));
        notes->setFocus();
        QTest::keyClicks(notes, QStringLiteral("last words"));
        const QUuid id = meeting.id();
        rig.scheduler.advance(100ms);
        view.reset(); // the window closes, then the services go
        rig.restart();
        Meeting* reopened = rig->store().meetingById(id);
        QVERIFY(reopened);
        const std::optional<QString> file = archived(rig, reopened->id());
        QVERIFY(file && file->contains(QStringLiteral("last words")));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestMeetingPageCommands)
#include "TestMeetingPageCommands.moc"
