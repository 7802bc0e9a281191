#include "platform/pulse/PulseMicrophonePermission.h"
#include "support/PrivateSoundServer.h"
#include "support/TestMain.h"

#include <QLocalServer>
#include <QSignalSpy>
#include <optional>

using Status = MicrophonePermission::Status;

namespace {

// Waits for the answer to one request; never inside the call itself.
std::optional<bool> ask(MicrophonePermission& permission)
{
    QObject caller;
    std::optional<bool> answer;
    permission.requestAccess(&caller, [&](bool granted) { answer = granted; });
    if (answer)
        return std::nullopt;
    if (!QTest::qWaitFor([&] { return answer.has_value(); }, 30000))
        return std::nullopt;
    return answer;
}

} // namespace

class TestMicrophonePermission final : public QObject
{
    Q_OBJECT

private slots:
    // Access follows the server's input devices: a monitor alone is no microphone.
    void followsTheServersInputs()
    {
        PrivateSoundServer server;
        PulseMicrophonePermission permission(server.address());
        QSignalSpy changed(&permission, &MicrophonePermission::statusChanged);
        QTRY_COMPARE_WITH_TIMEOUT(permission.status(), Status::Denied, 30000);
        QCOMPARE(ask(permission), std::optional(false));

        const int microphone = server.load({ QStringLiteral("module-remap-source"),
            QStringLiteral("master=out.monitor"), QStringLiteral("source_name=mic") });
        QVERIFY(microphone >= 0);
        // Found without any request: a denied state is looked at again whenever it is read.
        QTRY_COMPARE_WITH_TIMEOUT(permission.status(), Status::Authorized, 30000);
        QCOMPARE(changed.size(), 2);
        QCOMPARE(ask(permission), std::optional(true));

        QVERIFY(server.unload(microphone));
        QCOMPARE(ask(permission), std::optional(false));
        QCOMPARE(permission.status(), Status::Denied);
        QCOMPARE(changed.size(), 3);
    }

    void deniedWithoutAnAnsweringServer_data()
    {
        QTest::addColumn<bool>("silentServer");
        QTest::newRow("no server") << false;
        // Holds its socket and never answers: the window must not wait for it.
        QTest::newRow("server never answers") << true;
    }
    void deniedWithoutAnAnsweringServer()
    {
        QFETCH(bool, silentServer);
        QTemporaryDir dir;
        const QString socket = dir.filePath(QStringLiteral("native"));
        QLocalServer silent;
        if (silentServer)
            QVERIFY(silent.listen(socket));
        PulseMicrophonePermission permission("unix:" + socket.toUtf8());
        QCOMPARE(permission.status(), Status::NotDetermined);
        QCOMPARE(ask(permission), std::optional(false));
        QCOMPARE(permission.status(), Status::Denied);
    }

    // A requester that is gone before the answer comes is not called.
    void dropsTheAnswerOfAGoneRequester()
    {
        PrivateSoundServer server;
        PulseMicrophonePermission permission(server.address());
        auto* leaving = new QObject;
        bool called = false;
        permission.requestAccess(leaving, [&](bool) { called = true; });
        delete leaving;
        QTRY_COMPARE_WITH_TIMEOUT(permission.status(), Status::Denied, 30000);
        QCOMPARE(ask(permission), std::optional(false));
        QVERIFY(!called);
    }
};

QUILLET_TEST_MAIN(TestMicrophonePermission)
#include "TestMicrophonePermission.moc"
