#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "support/AppChild.h"
#include "support/FullDisk.h"
#include "support/TestMain.h"
#include "support/VirtualDisplay.h"

#include <QDirIterator>
#include <QTest>
#include <csignal>
#include <memory>

namespace {

const QString kLaunched = QStringLiteral("[Quillet] App launched");

// The one meeting of a store the application has closed: its notes and whether it is still
// marked as recording; nothing when the store holds no single meeting.
struct StoredMeeting
{
    QString notes;
    bool recording = false;
};

std::optional<StoredMeeting> storedMeeting(const QString& storeFile)
{
    auto opened = ModelContext::open(storeFile);
    if (!opened.ok() || opened.value()->meetingCount() != 1)
        return std::nullopt;
    const Meeting* meeting = opened.value()->fetchMeetings().constFirst();
    return StoredMeeting { meeting->userNotes(), meeting->isRecording() };
}

bool makeMeeting(const QString& storeFile, const QString& title, const QString& notes)
{
    QDir().mkpath(QFileInfo(storeFile).path());
    auto opened = ModelContext::open(storeFile);
    if (!opened.ok())
        return false;
    auto* meeting = new Meeting(title, QDateTime::currentDateTimeUtc().addSecs(-3600));
    meeting->setUserNotes(notes);
    opened.value()->insert(meeting);
    return opened.value()->save().ok();
}

// Every markdown file of the archive, read whole, one after another.
QString archived(const QString& archiveRoot)
{
    QString text;
    for (QDirIterator it(archiveRoot, { QStringLiteral("*.md") }, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

} // namespace

// The application ends in many ways besides its own quit; none of them loses what was typed,
// and a quit whose save fails asks before it throws anything away.
class TestSessionEndings final : public QObject
{
    Q_OBJECT

private slots:
    // Notes typed into a running recording survive every end of the session, even one that
    // comes in the same turn of the event loop as the last key; the next start finishes the
    // recording that was left running.
    void everyEndingKeepsWhatWasTyped_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("SIGTERM (kill, a service manager)") << "raise 15";
        QTest::newRow("SIGINT (Ctrl-C)") << "raise 2";
        QTest::newRow("SIGHUP (the terminal closed)") << "raise 1";
        QTest::newRow("SIGQUIT (Ctrl-\\)") << "raise 3";
        QTest::newRow("the session manager's save, then a kill") << "commit-data";
        QTest::newRow("the X display going away") << "display";
    }

    void everyEndingKeepsWhatWasTyped()
    {
        QFETCH(QString, ending);
        const bool signal = ending.startsWith(QLatin1String("raise"));
        AppChild app;
        app.environment().insert(QStringLiteral("QUILLET_TEST_CAPTURE"), QStringLiteral("1"));
        app.environment().insert(QStringLiteral("QUILLET_TEST_PROVIDER_KEY"), QStringLiteral("test-key"));
        std::unique_ptr<VirtualDisplay> display;
        if (ending == QLatin1String("display")) {
            display = std::make_unique<VirtualDisplay>();
            QVERIFY2(display->isRunning(), qPrintable(display->errors()));
            app.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            app.environment().insert(QStringLiteral("DISPLAY"), display->name());
        }
        app.start();
        QVERIFY2(app.waitForLog(kLaunched), qPrintable(app.errors()));
        app.command(QStringLiteral("record"));
        QVERIFY2(app.waitForLog(QStringLiteral("[Quillet] Recording session started")), qPrintable(app.errors()));

        const QString typed = QStringLiteral("Ship on Friday; Ana writes the notes");
        if (signal) {
            app.command(QStringLiteral("notes ") + typed + u'\n' + ending);
            QVERIFY(app.waitForExit());
            QCOMPARE(app.exitCode(), 0);
        } else if (ending == QLatin1String("commit-data")) {
            app.command(QStringLiteral("notes ") + typed + QStringLiteral("\ncommit-data"));
            QVERIFY2(app.waitForOutput(QStringLiteral("committed")), qPrintable(app.output() + app.errors()));
            QVERIFY(app.signal(SIGKILL));
            QVERIFY(app.waitForExit());
        } else {
            app.command(QStringLiteral("notes ") + typed);
            QVERIFY2(app.waitForOutput(QStringLiteral("typed")), qPrintable(app.output() + app.errors()));
            display->kill();
            QVERIFY(app.waitForExit());
            QVERIFY2(app.errors().contains(QLatin1String("The X11 connection broke")), qPrintable(app.errors()));
        }
        QVERIFY2(app.output().contains(QLatin1String("typed")), qPrintable(app.output() + app.errors()));
        const std::optional<StoredMeeting> left = storedMeeting(app.storeFile());
        QVERIFY2(left, qPrintable(app.errors()));
        QCOMPARE(left->notes, typed);

        app.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        app.start();
        QVERIFY2(app.waitForLog(left->recording ? QStringLiteral("Finalizing 1 stale recording(s)") : kLaunched),
            qPrintable(app.errors()));
        QVERIFY(app.signal(SIGTERM));
        QVERIFY(app.waitForExit());
        const std::optional<StoredMeeting> repaired = storedMeeting(app.storeFile());
        QVERIFY(repaired);
        QCOMPARE(repaired->notes, typed);
        QVERIFY(!repaired->recording);
    }

    // Quitting while the disk is full says so, names the meeting whose changes would be lost,
    // and waits for the person. The meeting's markdown file keeps what it had until the store
    // holds the change, so it never runs ahead of the store.
    void quitOnAFullDiskAsksFirst_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::newRow("quit anyway") << "Quit Anyway";
        QTest::newRow("make room, then try again") << "Try Again";
        QTest::newRow("cancel, make room, quit") << "Cancel";
    }

    void quitOnAFullDiskAsksFirst()
    {
        QFETCH(QString, choice);
        FullDisk disk;
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.skipReason()));
        AppChild app(disk.path());
        QVERIFY(makeMeeting(app.storeFile(), QStringLiteral("Plans"), QStringLiteral("First line.")));
        app.start();
        QVERIFY2(app.waitForLog(kLaunched), qPrintable(app.errors()));
        // The window's back-fill writes the meeting's file.
        QVERIFY(QTest::qWaitFor(
            [&] { return archived(app.archiveRoot()).contains(QLatin1String("First line.")); }, kPatientWaitMs));

        QVERIFY(disk.fill());
        app.command(QStringLiteral("notes  Second line."));
        QVERIFY2(app.waitForOutput(QStringLiteral("typed")), qPrintable(app.output() + app.errors()));
        app.command(QStringLiteral("quit"));
        const QString asked = QStringLiteral("dialog: Quillet couldn't save your changes: the disk is full.");
        QVERIFY2(app.waitForOutput(asked), qPrintable(app.output() + app.errors()));
        QVERIFY2(app.output().contains(
                     QStringLiteral("If you quit now, the changes to these meetings will be lost: \u2022 Plans")),
            qPrintable(app.output()));
        QVERIFY(app.isRunning());

        if (choice == QLatin1String("Try Again"))
            disk.makeRoom();
        app.command(QStringLiteral("press ") + choice);
        if (choice == QLatin1String("Cancel")) {
            // Quillet stays (a quit here would end it without the line), and its next quit goes
            // through once there is room.
            disk.makeRoom();
            app.command(QStringLiteral("quit"));
        }
        QVERIFY(app.waitForExit());
        QCOMPARE(app.exitCode(), 0);
        const std::optional<StoredMeeting> stored = storedMeeting(app.storeFile());
        QVERIFY(stored);
        const bool kept = choice != QLatin1String("Quit Anyway");
        QCOMPARE(stored->notes, kept ? QStringLiteral("First line. Second line.") : QStringLiteral("First line."));
        const QString file = archived(app.archiveRoot());
        QVERIFY2(file.contains(QLatin1String("First line.")), qPrintable(file));
        QCOMPARE(file.contains(QLatin1String("Second line.")), kept);
    }
};

QUILLET_TEST_MAIN(TestSessionEndings)
#include "TestSessionEndings.moc"
