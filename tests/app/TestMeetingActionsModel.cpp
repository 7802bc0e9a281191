#include "app/MeetingActions.h"
#include "app/WorkspaceServices.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AppRig.h"
#include "support/OneEventLinks.h"
#include "support/ProviderAnswers.h"
#include "support/TestMain.h"
#include "system/Keychain.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>

Q_DECLARE_METATYPE(FakeHttpServer::Reply)

namespace {

using ProviderAnswers::completion;

const QByteArray kChatPath = "/v1/chat/completions";

Meeting& addMeeting(AppServices& services, int segments, const std::optional<QString>& summary = {})
{
    auto* meeting = new Meeting(QStringLiteral("Sync"), QDateTime(QDate(2026, 1, 31), QTime(14, 5), Qt::UTC));
    for (int i = 0; i < segments; ++i)
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("Line %1.").arg(i), Speaker::them(), i * 3.0));
    meeting->setSummary(summary);
    services.store().insert(meeting);
    services.store().save();
    return *meeting;
}

MeetingActions::Services servicesOf(AppRig& rig)
{
    return WorkspaceServices::of(*rig).actions();
}

} // namespace

// The workspace's commands without any widget, through the real services and the local
// stand-ins of the provider and the cloud.
class TestMeetingActionsModel final : public QObject
{
    Q_OBJECT

private slots:
    void availabilityFollowsTheMeetingAndTheWork()
    {
        AppRig rig;
        rig->account().setByoKey(QStringLiteral("tq-own"));
        rig.provider.on("POST", kChatPath, completion(QStringLiteral("Plan")));
        rig.provider.hold("POST", kChatPath);
        Meeting& meeting = addMeeting(*rig, 0);
        MeetingActions actions(meeting, servicesOf(rig));
        QSignalSpy availability(&actions, &MeetingActions::availabilityChanged);
        QVERIFY(!actions.canCopySummary() && !actions.canCopyTranscript() && !actions.canShare());
        // No transcript: a regeneration does nothing, silently.
        actions.regenerate();
        QVERIFY(!actions.isRegenerating() && !actions.regenerateError());
        QCOMPARE(rig.provider.requestCount(), 0);

        // An empty summary can be copied but not shared.
        meeting.setSummary(QString());
        QVERIFY(actions.canCopySummary() && !actions.canShare());
        meeting.appendSegment(new TranscriptSegment(QStringLiteral("Ship it."), Speaker::me(), 0));
        QVERIFY(actions.canCopyTranscript() && actions.canRegenerate());
        QVERIFY(availability.count() >= 2);

        actions.regenerate();
        QVERIFY(actions.isRegenerating());
        QVERIFY(!actions.canRegenerate());
        rig.provider.release("POST", kChatPath);
        QTRY_VERIFY_WITH_TIMEOUT(!actions.isRegenerating(), 10000);
        QVERIFY(actions.canRegenerate() && actions.canShare());
    }

    void regenerationEndsWithItsError_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("failed");
        QTest::newRow("written") << true << 200 << false;
        QTest::newRow("provider fails") << true << 500 << true;
        QTest::newRow("no way to the provider") << false << 200 << true;
    }

    void regenerationEndsWithItsError()
    {
        QFETCH(bool, signedIn);
        QFETCH(int, status);
        QFETCH(bool, failed);
        AppRig rig;
        if (signedIn)
            rig->account().setByoKey(QStringLiteral("tq-own"));
        rig.provider.on("POST", kChatPath,
            status == 200 ? completion(QStringLiteral("Plan")) : FakeHttpServer::Reply::json(status, "{}"));
        Meeting& meeting = addMeeting(*rig, 2);
        MeetingActions actions(meeting, servicesOf(rig));
        // What the workspace sees each time the regeneration ends: the error is already there.
        QStringList errorsAtTheEnd;
        connect(&actions, &MeetingActions::isRegeneratingChanged, this, [&] {
            if (!actions.isRegenerating())
                errorsAtTheEnd << actions.regenerateErrorText();
        });

        actions.regenerate();
        QTRY_VERIFY_WITH_TIMEOUT(!actions.isRegenerating(), 10000);
        QCOMPARE(actions.regenerateError().has_value(), failed);
        QCOMPARE(meeting.summary().has_value(), !failed);
        if (signedIn) {
            QCOMPARE(errorsAtTheEnd, QStringList { actions.regenerateErrorText() });
        } else {
            QCOMPARE(actions.regenerateErrorText(),
                QStringLiteral("Sign in or add a Tessra key in Settings to generate summaries."));
            QCOMPARE(rig.provider.requestCount(), 0);
        }
        // A new attempt takes the old error away.
        if (failed && signedIn) {
            rig.provider.on("POST", kChatPath, completion(QStringLiteral("Plan")));
            actions.regenerate();
            QVERIFY(!actions.regenerateError());
            QTRY_VERIFY_WITH_TIMEOUT(!actions.isRegenerating(), 10000);
            QVERIFY(meeting.summary());
        }
    }

    void shareOutcomes_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<FakeHttpServer::Reply>("reply");
        QTest::addColumn<QString>("failure"); // null: shared
        QTest::addColumn<bool>("opens");
        QTest::newRow("signed out") << false << FakeHttpServer::Reply::json(200, "{}")
                                    << "Sign in (Settings → Account) to share notes." << false;
        QTest::newRow("server's text") << true
                                       << FakeHttpServer::Reply::json(
                                              403, "{\"error\":{\"code\":\"off\",\"message\":\"Sharing is off\"}}")
                                       << "Sharing is off" << false;
        QTest::newRow("web link") << true
                                  << FakeHttpServer::Reply::json(
                                         200, "{\"id\":\"s\",\"url\":\"https://quillet.app/s/1\"}")
                                  << QString() << true;
        QTest::newRow("sign-in link") << true
                                      << FakeHttpServer::Reply::json(
                                             200, "{\"id\":\"s\",\"url\":\"quillet://auth?t=x\"}")
                                      << QString() << false;
    }

    void shareOutcomes()
    {
        QFETCH(bool, signedIn);
        QFETCH(FakeHttpServer::Reply, reply);
        QFETCH(QString, failure);
        QFETCH(bool, opens);
        AppRig rig;
        if (signedIn) {
            rig.secrets.write(Keychain::kService, QStringLiteral("quillet-session-token"), "sess-1");
            rig.restart();
        }
        rig.cloud.on("POST", "/v1/shares", reply);
        Meeting& meeting = addMeeting(*rig, 1, QStringLiteral("## Plan"));
        MeetingActions actions(meeting, servicesOf(rig));
        QSignalSpy shared(&actions, &MeetingActions::shared);
        QSignalSpy failed(&actions, &MeetingActions::shareFailed);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));

        actions.share();
        if (signedIn) {
            QVERIFY(actions.isSharing());
            QVERIFY(!actions.canShare());
            actions.share(); // a second press while the link is made sends nothing more
        }
        QTRY_COMPARE_WITH_TIMEOUT(shared.count() + failed.count(), 1, 10000);
        QVERIFY(!actions.isSharing());
        QCOMPARE(rig.cloud.requestCount(), signedIn ? 1 : 0);
        if (!failure.isNull()) {
            QCOMPARE(failed.first().first().toString(), failure);
            QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
            return;
        }
        QCOMPARE(QGuiApplication::clipboard()->text(), shared.first().first().toString());
        actions.openSharedLink();
        QCOMPARE(rig.browser.opened.size(), opens ? 1 : 0);
    }

    void linkBannerDecisions()
    {
        OneEventLinks links;
        AppRig rig({ .eventLinks = &links });
        Meeting& meeting = addMeeting(*rig, 0);
        Meeting& other = addMeeting(*rig, 0);
        MeetingActions actions(meeting, servicesOf(rig));
        QSignalSpy offerChanged(&actions, &MeetingActions::linkOfferChanged);
        QCOMPARE(actions.linkPrompt(), QStringLiteral("Link to “Design review”?"));

        actions.linkToEvent();
        QCOMPARE(links.linked, QStringList { "evt-7" });
        QCOMPARE(meeting.title(), QStringLiteral("Design review"));
        // The store commits the link on its own, and the archive follows the commit.
        QTRY_VERIFY(!rig->store().hasChanges());
        QCOMPARE(actions.linkPrompt(), QString());
        QVERIFY(offerChanged.count() >= 1);
        rig->archiver().idle().waitForFinished();
        QVERIFY(QFile::exists(rig.archiveRoot() + QStringLiteral("/index.json")));
        actions.linkToEvent(); // no offer left: nothing more is linked
        QCOMPARE(links.linked.size(), 1);

        MeetingActions otherActions(other, servicesOf(rig));
        otherActions.dismissLinkBanner();
        QVERIFY(other.linkBannerDismissed());
        QTRY_VERIFY(!rig->store().hasChanges());
        QCOMPARE(otherActions.linkPrompt(), QString());

        // The offer follows the meeting: taken back, the dismissal brings the banner back.
        QSignalSpy otherOffer(&otherActions, &MeetingActions::linkOfferChanged);
        other.setLinkBannerDismissed(false);
        QCOMPARE(otherOffer.count(), 1);
        QCOMPARE(otherActions.linkPrompt(), QStringLiteral("Link to “Design review”?"));
    }
};

QUILLET_GUI_TEST_MAIN(TestMeetingActionsModel)
#include "TestMeetingActionsModel.moc"
