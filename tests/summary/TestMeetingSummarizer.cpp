#include "archive/ArchiveQueue.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "summary/MeetingSummarizer.h"
#include "support/FakeHttpServer.h"
#include "support/FakeScheduler.h"
#include "support/RecordingArchiver.h"
#include "support/TempStore.h"
#include "support/TestMain.h"

#include <QJsonArray>
#include <QTest>

namespace {

FakeHttpServer::Reply answer(const QString& content)
{
    const QJsonObject message { { QStringLiteral("role"), QStringLiteral("assistant") },
        { QStringLiteral("content"), content } };
    const QJsonObject reply { { QStringLiteral("choices"), QJsonArray { QJsonObject { { "message", message } } } } };
    return FakeHttpServer::Reply::json(200, QJsonDocument(reply).toJson());
}

} // namespace

// The run the meeting view's regeneration shares with the summary on stop (which the session
// tests drive end to end).
class TestMeetingSummarizer final : public QObject
{
    Q_OBJECT

private slots:
    void runStoresOnlyWhatBothAnswersAllow_data()
    {
        QTest::addColumn<bool>("userEditedTitle");
        QTest::addColumn<QString>("titleAnswer");
        QTest::addColumn<int>("summaryStatus");
        QTest::addColumn<QString>("expectedTitle");
        QTest::addColumn<QString>("expectedSummary");
        const QString summary = QStringLiteral("## Key points\n- Ship it");
        QTest::newRow("new title and summary") << false << "Launch Review" << 200 << "Launch Review" << summary;
        QTest::newRow("user's title kept") << true << "Launch Review" << 200 << "My title" << summary;
        QTest::newRow("blank title kept out") << false << "  " << 200 << "My title" << summary;
        QTest::newRow("failed summary stores nothing") << false << "Launch Review" << 500 << "My title" << QString();
    }

    void runStoresOnlyWhatBothAnswersAllow()
    {
        QFETCH(bool, userEditedTitle);
        QFETCH(QString, titleAnswer);
        QFETCH(int, summaryStatus);
        QFETCH(QString, expectedTitle);
        QFETCH(QString, expectedSummary);

        FakeHttpServer server;
        server.on("POST", "/v1/chat/completions", [&](const FakeHttpServer::Request& request) {
            if (request.json().value(QStringLiteral("max_tokens")).toInt() == SummaryGenerator::kTitleMaxTokens)
                return answer(titleAnswer);
            return summaryStatus == 200 ? answer(expectedSummary) : FakeHttpServer::Reply::json(summaryStatus, "{}");
        });
        TempStore store;
        auto* meeting = new Meeting(QStringLiteral("My title"), QDateTime::currentDateTimeUtc());
        meeting->setTitleIsUserEdited(userEditedTitle);
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("We ship on Monday."), Speaker::me(), 0));
        store->insert(meeting);
        QVERIFY(store->save().ok());
        const QUuid id = meeting->id();

        RecordingArchiver archiver;
        FakeScheduler scheduler;
        ArchiveQueue queue(store.context(), archiver, scheduler);
        MeetingSummarizer summarizer({});
        std::optional<MeetingSummarizer::Result> result;
        summarizer.run(*meeting, store.context(), { server.url(QStringLiteral("/")), QStringLiteral("tq-1") },
            [&](const MeetingSummarizer::Result& r) { result = r; });
        QVERIFY(!summarizer.isGeneratingSummary());
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);

        QCOMPARE(result->ok(), summaryStatus == 200);
        const Meeting* saved = store.reopen().meetingById(id);
        QCOMPARE(saved->title(), expectedTitle);
        QCOMPARE(saved->summary().value_or(QString()), expectedSummary);
        if (summaryStatus != 200) {
            QVERIFY(archiver.archived.isEmpty());
            return;
        }
        QCOMPARE(archiver.archived.size(), 1);
        QCOMPARE(archiver.archived.first().title, expectedTitle);
        QCOMPARE(archiver.archived.first().summary, std::optional<QString>(expectedSummary));
    }

    void meetingDeletedDuringTheRunIsLeftAlone()
    {
        FakeHttpServer server;
        server.hold("POST", "/v1/chat/completions");
        server.on("POST", "/v1/chat/completions", answer(QStringLiteral("Anything")));
        TempStore store;
        auto* meeting = new Meeting(QStringLiteral("Gone"), QDateTime::currentDateTimeUtc());
        meeting->appendSegment(new TranscriptSegment(QStringLiteral("Hello"), Speaker::me(), 0));
        store->insert(meeting);
        QVERIFY(store->save().ok());

        RecordingArchiver archiver;
        FakeScheduler scheduler;
        ArchiveQueue queue(store.context(), archiver, scheduler);
        MeetingSummarizer summarizer({});
        bool done = false;
        summarizer.run(*meeting, store.context(), { server.url(QStringLiteral("/")), QStringLiteral("tq-1") },
            [&](const MeetingSummarizer::Result&) { done = true; });
        QTRY_COMPARE(server.heldCount(), 2);
        store->remove(meeting);
        QVERIFY(store->save().ok());
        server.release("POST", "/v1/chat/completions");
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        QVERIFY(archiver.archived.isEmpty());
        QCOMPARE(store.reopen().meetingCount(), 0);
    }
};

QUILLET_TEST_MAIN(TestMeetingSummarizer)
#include "TestMeetingSummarizer.moc"
