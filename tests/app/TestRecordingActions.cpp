#include "app/RecordingActions.h"
#include "app/RecordingController.h"
#include "recording/TranscriptionSession.h"
#include "support/AppRig.h"
#include "support/TestMain.h"

#include <QAction>

// The one set of recording actions that the tray's menu and the window show, over the real
// services recording silence on the test sound server.
class TestRecordingActions final : public QObject
{
    Q_OBJECT

private slots:
    void followTheRecordingAndSendItCommands()
    {
        AppRig rig({ .capture = true });
        rig->account().setByoKey(QStringLiteral("tq-own-key"));
        RecordingActions& actions = rig->recordingActions();
        RecordingController& recordings = rig->recordings();
        QCOMPARE(&rig->recordingActions(), &actions);
        QCOMPARE(actions.start()->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
        QCOMPARE(actions.stop()->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
        QVERIFY(actions.start()->isEnabled() && !actions.stop()->isEnabled());
        QVERIFY(!actions.pauseResume()->isEnabled());

        actions.start()->trigger();
        QVERIFY(recordings.isRecording());
        QVERIFY(!actions.start()->isEnabled() && actions.stop()->isEnabled());
        QCOMPARE(actions.pauseResume()->text(), QStringLiteral("Pause"));
        actions.pauseResume()->trigger();
        QVERIFY(recordings.isPaused());
        QCOMPARE(actions.pauseResume()->text(), QStringLiteral("Resume"));
        actions.pauseResume()->trigger();
        QVERIFY(!recordings.isPaused());

        // The quick note asks first while one records.
        actions.quickNote()->trigger();
        QCOMPARE(recordings.asking(), RecordingController::Ask::quickNote);
        recordings.answer(false);

        actions.stop()->trigger();
        QVERIFY(!recordings.isRecording());
        QVERIFY(actions.start()->isEnabled() && !actions.pauseResume()->isEnabled());
        QTRY_COMPARE(rig->session().drainingRecordings(), 0);
    }
};

QUILLET_GUI_TEST_MAIN(TestRecordingActions)
#include "TestRecordingActions.moc"
