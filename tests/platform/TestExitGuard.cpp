#include "support/TestMain.h"

#include <QProcess>
#include <QTest>

// An exit() from inside a library on the main thread (the display gone) runs the guard's save
// first; one from another thread, or after the normal quit, does not touch the application.
class TestExitGuard final : public QObject
{
    Q_OBJECT

private slots:
    void savesBeforeAnExitOnItsThread_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("saved");
        QTest::newRow("exit on the main thread") << "main-thread" << true;
        QTest::newRow("exit on another thread") << "other-thread" << false;
        QTest::newRow("exit after the normal quit") << "after-guard" << false;
    }

    void savesBeforeAnExitOnItsThread()
    {
        QFETCH(QString, how);
        QFETCH(bool, saved);
        QProcess helper;
        helper.start(QStringLiteral(QUILLET_EXIT_GUARD_HELPER), { how });
        QVERIFY(helper.waitForFinished(60000));
        QCOMPARE(helper.readAllStandardOutput().contains("saved"), saved);
    }
};

QUILLET_TEST_MAIN(TestExitGuard)
#include "TestExitGuard.moc"
