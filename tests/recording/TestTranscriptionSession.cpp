#include "platform/Log.h"
#include "support/SessionRig.h"
#include "support/TestMain.h"

namespace {

const QString kMicrophoneOff
    = QStringLiteral("No microphone found. Connect one or turn it on in the sound settings, then try again.");

} // namespace

class TestTranscriptionSession final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SessionRig> m_rig;

private slots:
    void init() { m_rig = std::make_unique<SessionRig>(); }
    void cleanup() { m_rig.reset(); }

    void refusesToStart_data()
    {
        QTest::addColumn<bool>("hasCredentials");
        QTest::addColumn<bool>("viaAccount");
        QTest::addColumn<bool>("allowanceUsedUp");
        QTest::addColumn<int>("microphone");
        QTest::addColumn<bool>("userAllowsMicrophone");
        QTest::addColumn<QString>("error");
        const int authorized = int(MicrophonePermission::Status::Authorized);
        QTest::newRow("no credentials") << false << false << false << authorized << true
                                        << QStringLiteral("Sign in to start transcribing \u2014 or add your own "
                                                          "Tessra key in Settings");
        QTest::newRow("cloud minutes used up")
            << true << true << true << authorized << true
            << QStringLiteral("You've used your free minutes this month \u2014 they reset on the 1st");
        QTest::newRow("microphone denied")
            << true << false << false << int(MicrophonePermission::Status::Denied) << true << kMicrophoneOff;
        QTest::newRow("microphone refused when asked")
            << true << false << false << int(MicrophonePermission::Status::NotDetermined) << false << kMicrophoneOff;
    }

    void refusesToStart()
    {
        QFETCH(bool, hasCredentials);
        QFETCH(bool, viaAccount);
        QFETCH(bool, allowanceUsedUp);
        QFETCH(int, microphone);
        QFETCH(bool, userAllowsMicrophone);
        QFETCH(QString, error);
        SessionRig& rig = *m_rig;
        rig.credentials = hasCredentials ? std::optional(rig.provider.credentials(viaAccount)) : std::nullopt;
        rig.allowanceExhausted = allowanceUsedUp;
        rig.permission.setStatus(MicrophonePermission::Status(microphone));
        rig.permission.setAnswer(userAllowsMicrophone);

        rig.session.startRecording(rig.context());
        QTRY_COMPARE(rig.session.error(), error);
        QVERIFY(!rig.session.isRecording());
        QVERIFY(!rig.mixer.isRunning());
        QCOMPARE(rig.context().meetingCount(), 0);
    }

    // "No microphone found" is true until a microphone is found: then it goes, and only it.
    void microphoneRefusalGoesWhenOneIsFound()
    {
        SessionRig& rig = *m_rig;
        rig.permission.setStatus(MicrophonePermission::Status::Denied);
        rig.session.startRecording(rig.context());
        QCOMPARE(rig.session.error(), kMicrophoneOff);
        QSignalSpy changed(&rig.session, &TranscriptionSession::errorChanged);
        rig.permission.findStatus(MicrophonePermission::Status::Authorized);
        QCOMPARE(rig.session.error(), QString());
        QCOMPARE(changed.size(), 1);

        // Another refusal stays when the microphone comes and goes.
        rig.credentials.reset();
        rig.session.startRecording(rig.context());
        const QString signInFirst = rig.session.error();
        QVERIFY(!signInFirst.isEmpty());
        rig.permission.findStatus(MicrophonePermission::Status::Denied);
        rig.permission.findStatus(MicrophonePermission::Status::Authorized);
        QCOMPARE(rig.session.error(), signInFirst);
    }

    // Own key with the cloud allowance used up, microphone permission asked first: the
    // recording starts once granted, into the given meeting.
    void ownKeyIgnoresUsedUpAllowanceAndRecordsIntoGivenMeeting()
    {
        SessionRig& rig = *m_rig;
        rig.allowanceExhausted = true; // only the cloud account has an allowance
        rig.permission.setStatus(MicrophonePermission::Status::NotDetermined);
        rig.permission.setAnswer(true);
        auto* given = new Meeting(QStringLiteral("Design review"), QDateTime(QDate(2020, 1, 2), QTime(3, 4), Qt::UTC));
        given->setUserNotes(QStringLiteral("Bring the mock-ups"));
        rig.context().insert(given);
        QVERIFY(rig.context().save().ok());

        LogCapture log;
        rig.session.startRecording(rig.context(), given);
        QVERIFY(!rig.session.isRecording()); // nothing happens before the answer
        QVERIFY(!given->isRecording());
        QTRY_VERIFY(rig.session.isRecording());
        QCOMPARE(rig.session.meeting(), given);
        QCOMPARE(rig.permission.requestCount(), 1);
        rig.provider.expectRecordingId(given->id());
        QVERIFY(rig.session.error().isEmpty());
        QVERIFY(given->isRecording());
        QVERIFY(given->date().secsTo(QDateTime::currentDateTimeUtc()) < 600);
        QCOMPARE(rig.context().meetingCount(), 1);
        QVERIFY(rig.session.systemAudioActive());
        QVERIFY(log.contains(QStringLiteral("[Quillet] Recording session started (system audio: active)")));

        // Starting again while recording changes nothing.
        rig.session.startRecording(rig.context());
        QCOMPARE(rig.context().meetingCount(), 1);

        QVERIFY(rig.stopAndFinalize());
        QVERIFY(!given->isRecording());
        QVERIFY(given->duration() > 0);
        // Kept for its notes, but with no transcript there is nothing to summarise.
        QCOMPARE(rig.meetingById(given->id()), given);
        QVERIFY(!given->summary());
        QVERIFY(!rig.session.isGeneratingSummary());
    }

    // Capture that cannot start must not leave a meeting flagged as recording, nor an empty
    // "New Meeting" made just for it.
    void failedMicrophoneStartLeavesNothingRecording_data()
    {
        QTest::addColumn<bool>("intoGivenMeeting");
        QTest::newRow("new meeting") << false;
        QTest::newRow("given meeting") << true;
    }

    void failedMicrophoneStartLeavesNothingRecording()
    {
        QFETCH(bool, intoGivenMeeting);
        SessionRig& rig = *m_rig;
        Meeting* given = nullptr;
        if (intoGivenMeeting) {
            given = new Meeting(QStringLiteral("Planning"), QDateTime::currentDateTimeUtc());
            rig.context().insert(given);
            QVERIFY(rig.context().save().ok());
        }
        const QByteArray server = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/quillet-test/native");
        rig.session.startRecording(rig.context(), given);
        qputenv("PULSE_SERVER", server);

        QVERIFY(!rig.session.isRecording());
        QVERIFY(!rig.session.error().isEmpty());
        QCOMPARE(rig.context().meetingCount(), intoGivenMeeting ? 1 : 0);
        if (given)
            QVERIFY(!given->isRecording());
        QCOMPARE(rig.store.reopen().fetchMeetings({ [](const Meeting& m) { return m.isRecording(); } }).size(), 0);
    }

    void transcriptionErrorKeepsTheMeeting()
    {
        SessionRig& rig = *m_rig;
        rig.provider.setTranscriptionStatus(500);
        LogCapture log;
        const QUuid id = rig.start()->id();
        QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance()));
        QVERIFY(rig.stopAndFinalize());
        QVERIFY(rig.meetingById(id));
        QVERIFY(!log.contains(QStringLiteral("[Quillet] Empty meeting deleted")));
        QCOMPARE(rig.session.error(), QStringLiteral("provider is down"));
        QVERIFY(log.containsPart(QStringLiteral("[Quillet] Me transcriber error: provider is down")));
        QCOMPARE(rig.store.reopen().meetingCount(), 1);
    }

    // A transcription error of a recording still draining belongs to that recording only: the
    // next one, where nothing was said, is deleted as empty.
    void errorOfADrainingRecordingStaysWithIt()
    {
        SessionRig& rig = *m_rig;
        rig.provider.setTranscriptionStatus(500);
        rig.server.hold("POST", "/v1/audio/transcriptions");
        Meeting* first = rig.start();
        const QUuid firstId = first->id();
        QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance()));
        QTRY_VERIFY_WITH_TIMEOUT(rig.server.heldCount() == 1, kLongWaitMs);
        QSignalSpy finalized(&rig.session, &TranscriptionSession::recordingFinalized);
        rig.session.stopRecording();

        Meeting* second = rig.start();
        QVERIFY(second && second != first);
        const QUuid secondId = second->id();
        rig.server.release("POST", "/v1/audio/transcriptions");
        QVERIFY(finalized.wait(kLongWaitMs));
        QCOMPARE(finalized.at(0).at(0).toUuid(), firstId);
        QVERIFY(rig.meetingById(firstId)); // kept: its transcriber failed

        LogCapture log;
        QVERIFY(rig.stopAndFinalize());
        QVERIFY(!rig.meetingById(secondId)); // nothing said, nothing failed: deleted
        QVERIFY(log.contains(QStringLiteral("[Quillet] Empty meeting deleted")));
        QCOMPARE(rig.store.reopen().meetingCount(), 1);
    }

    // Uploads still running at the limit: the meeting is kept, the late text reaches it (or
    // it is deleted when nothing comes), and text for a deleted meeting is dropped.
    void lateTextAfterTheDrainLimit_data()
    {
        QTest::addColumn<QString>("lateText");
        QTest::addColumn<bool>("deleteMeetingMeanwhile");
        QTest::newRow("text arrives") << QStringLiteral("The budget is approved.") << false;
        QTest::newRow("nothing arrives") << QString() << false;
        QTest::newRow("meeting deleted meanwhile") << QStringLiteral("The budget is approved.") << true;
    }

    void lateTextAfterTheDrainLimit()
    {
        QFETCH(QString, lateText);
        QFETCH(bool, deleteMeetingMeanwhile);
        SessionRig& rig = *m_rig;
        rig.session.setDrainLimit(std::chrono::milliseconds(200));
        rig.provider.setTranscript(lateText);
        rig.server.hold("POST", "/v1/audio/transcriptions");
        LogCapture log;
        Meeting* meeting = rig.start();
        const QUuid id = meeting->id();
        QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance()));
        QTRY_VERIFY_WITH_TIMEOUT(rig.server.heldCount() == 1, kLongWaitMs);

        QVERIFY(rig.stopAndFinalize());
        QCOMPARE(rig.meetingById(id), meeting);
        QVERIFY(!meeting->isRecording());
        QVERIFY(meeting->segments().isEmpty());
        QCOMPARE(rig.session.drainingRecordings(), 1);
        if (deleteMeetingMeanwhile) {
            rig.context().remove(meeting);
            QVERIFY(rig.context().save().ok());
        }

        rig.server.release("POST", "/v1/audio/transcriptions");
        QTRY_COMPARE_WITH_TIMEOUT(rig.session.drainingRecordings(), 0, kLongWaitMs);
        if (deleteMeetingMeanwhile) {
            QVERIFY(log.contains(QStringLiteral("[Quillet] Late transcript dropped: meeting gone")));
            QCOMPARE(rig.store.reopen().meetingCount(), 0);
        } else if (lateText.isEmpty()) {
            QVERIFY(!rig.meetingById(id));
            QVERIFY(log.contains(QStringLiteral("[Quillet] Empty meeting deleted")));
        } else {
            QCOMPARE(SessionRig::texts(*meeting), QStringList { QStringLiteral("Me: ") + lateText });
            QVERIFY(!rig.archivedText(lateText).isEmpty());
            QCOMPARE(rig.store.reopen().meetingById(id)->segments().size(), 1);
        }
    }

    // The published progress belongs to the newest summary run.
    void earlierSummaryEndingDoesNotClearNewerProgress()
    {
        SessionRig& rig = *m_rig;
        rig.provider.closeGate(QStringLiteral("Alpha"));
        rig.provider.closeGate(QStringLiteral("Bravo"));
        QSignalSpy finished(&rig.session, &TranscriptionSession::summaryFinished);

        QUuid ids[2];
        const QString words[2] = { QStringLiteral("Alpha"), QStringLiteral("Bravo") };
        for (int i = 0; i < 2; ++i) {
            rig.provider.setTranscript(words[i] + QStringLiteral(" team numbers are in."));
            ids[i] = rig.start()->id();
            QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance()));
            QVERIFY(rig.stopAndFinalize());
            QTRY_COMPARE(rig.session.generatingSummaryMeetingID(), ids[i]);
            QVERIFY(rig.session.isGeneratingSummary());
        }

        rig.provider.openGate(QStringLiteral("Alpha"));
        QVERIFY(finished.wait(kLongWaitMs));
        QCOMPARE(finished.at(0).at(0).toUuid(), ids[0]);
        QVERIFY(rig.meetingById(ids[0])->summary());
        QVERIFY(rig.session.isGeneratingSummary());
        QCOMPARE(rig.session.generatingSummaryMeetingID(), ids[1]);

        rig.provider.openGate(QStringLiteral("Bravo"));
        QVERIFY(finished.wait(kLongWaitMs));
        QVERIFY(!rig.session.isGeneratingSummary());
        QVERIFY(rig.session.generatingSummaryMeetingID().isNull());
    }

    // A model title that is empty once cleaned up leaves the meeting's title alone (the
    // end-to-end test shows a real title being stored).
    void emptyModelTitleKeepsTheTitle()
    {
        SessionRig& rig = *m_rig;
        const QString title = QStringLiteral("New Meeting");
        rig.provider.setTitleAnswer(QStringLiteral("\"\"\"\""));
        QSignalSpy finished(&rig.session, &TranscriptionSession::summaryFinished);
        LogCapture log;
        Meeting* meeting = rig.start();
        QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance()));
        QVERIFY(rig.stopAndFinalize());
        QVERIFY(finished.wait(kLongWaitMs));
        QCOMPARE(meeting->title(), title);
        QCOMPARE(meeting->summary().value_or(QString()), FakeProvider::summaryAnswer());
        QVERIFY(log.contains(QStringLiteral("[Quillet] Summary generated: ") + title));
        QCOMPARE(rig.store.reopen().fetchMeetings().first()->title(), title);
    }

    // Without system audio the microphone alone is recorded; paused audio is neither sent
    // nor counted in the segment times.
    void microphoneAloneAndPausedAudio()
    {
        SessionRig& rig = *m_rig;
        rig.systemRecorder.setSourceOverride(QStringLiteral("no-such-source-in-this-test"));
        LogCapture log;
        QElapsedTimer wall;
        wall.start();
        Meeting* meeting = rig.start();
        QVERIFY(rig.session.isRecording());
        QVERIFY(!rig.session.systemAudioActive());
        QVERIFY(log.contains(QStringLiteral("[Quillet] Recording session started (system audio: unavailable)")));
        QVERIFY(rig.play(QStringLiteral("micsink"), QList<float>(12000, 0.0f)));
        const qint64 pausedAt = wall.elapsed();
        rig.session.pauseRecording();
        QVERIFY(rig.session.isPaused());
        QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance(3.0)));
        const qint64 resumedAt = wall.elapsed();
        rig.session.resumeRecording();
        QVERIFY(!rig.session.isPaused());
        QVERIFY(rig.play(QStringLiteral("micsink"), SessionRig::utterance(1.0)));
        const qint64 playedAt = wall.elapsed();
        QVERIFY(rig.stopAndFinalize());

        QCOMPARE(SessionRig::texts(*meeting), QStringList { QStringLiteral("Me: Let us look at the numbers.") });
        QVERIFY2(rig.provider.violations().isEmpty(), qPrintable(rig.provider.violations().join(QStringLiteral("; "))));
        QCOMPARE(rig.provider.transcriptionCount(), 1);
        QCOMPARE(rig.provider.uploadedSeconds().size(), 1);
        QVERIFY(rig.provider.uploadedSeconds().first() < 2.5);
        // The three paused seconds do not count: the tone began no later than the time spent
        // recording unpaused (however slowly the players ran), but over four seconds into the
        // recording.
        const double unpaused = double(pausedAt + (playedAt - resumedAt)) / 1000.0;
        QVERIFY2(meeting->segments().first()->timestamp() < unpaused,
            qPrintable(QStringLiteral("%1 s, unpaused %2 s").arg(meeting->segments().first()->timestamp()).arg(unpaused)));
        QVERIFY(meeting->duration() > 4.0);
    }
};

QUILLET_TEST_MAIN(TestTranscriptionSession)
#include "TestTranscriptionSession.moc"
