#include "WindowExerciser.h"
#include "archive/ArchiveFileParser.h"
#include "archive/ArchiveIndex.h"
#include "shell/AppDelegate.h"
#include "storage/Folder.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "support/AppRig.h"
#include "support/QtWarningWatch.h"
#include "support/SessionRig.h"
#include "support/TestMain.h"
#include "ui/design/ThemeController.h"

#include <QDirIterator>
#include <QRandomGenerator>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLET_EXERCISER_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUILLET_EXERCISER_SANITIZED 1
#endif
#ifdef QUILLET_EXERCISER_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// Qt's warnings that say nothing about the application, each allowed for a reason; every
// other warning fails the run.
const QStringList kBenignWarnings {
    // The offscreen platform has no window manager: no size hints, raising, keyboard or mouse
    // grabs.
    QStringLiteral("This plugin does not support"),
    // Qt's tray icon listens for a signal that only the X11 platform has.
    QStringLiteral("No such signal QPlatformNativeInterface::systemTrayWindowChanged"),
};

// Written when the process dies (a crash, a sanitizer's report, an abort): the run to repeat.
char g_crashNote[512];

void writeCrashNote()
{
    const ssize_t written = ::write(STDERR_FILENO, g_crashNote, std::strlen(g_crashNote));
    Q_UNUSED(written);
}

void noteStep(quint64 seed, int step, int actions)
{
    std::snprintf(g_crashNote, sizeof g_crashNote,
        "\n*** The window exerciser died at step %d of seed %llu. Run it again with\n"
        "*** QUILLET_EXERCISER_SEED=%llu QUILLET_EXERCISER_ACTIONS=%d\n",
        step, static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed), actions);
}

struct sigaction g_previous[NSIG];

void onFatalSignal(int signal)
{
    writeCrashNote();
    // Qt Test's own handler (its report of the test function) follows, then the default end.
    sigaction(signal, &g_previous[signal], nullptr);
    raise(signal);
}

void installCrashNote()
{
#ifdef QUILLET_EXERCISER_SANITIZED
    // The sanitizers handle the faults themselves and call this before the process ends.
    __sanitizer_set_death_callback(&writeCrashNote);
    const int fatal[] = { SIGABRT };
#else
    const int fatal[] = { SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT };
#endif
    for (const int signal : fatal) {
        struct sigaction action
        {
        };
        action.sa_handler = &onFatalSignal;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, &g_previous[signal]);
    }
}

quint64 seedOfRun()
{
    bool ok = false;
    const quint64 chosen = qEnvironmentVariable("QUILLET_EXERCISER_SEED").toULongLong(&ok);
    return ok ? chosen : QRandomGenerator::system()->generate64();
}

int actionsOfRun()
{
    bool ok = false;
    const int chosen = qEnvironmentVariable("QUILLET_EXERCISER_ACTIONS").toInt(&ok);
    return ok && chosen >= 0 ? chosen : QUILLET_EXERCISER_DEFAULT_ACTIONS;
}

// What the store keeps of each meeting and folder that a person sees, one line each.
QStringList storedLines(ModelContext& store)
{
    QStringList lines;
    for (const Meeting* meeting : store.fetchMeetings()) {
        lines << QStringLiteral("meeting %1: \u201C%2\u201D, notes \u201C%3\u201D, folder %4, %5 segments, %6")
                     .arg(meeting->id().toString(), meeting->title(), meeting->userNotes(),
                         meeting->folder() ? meeting->folder()->id().toString() : QStringLiteral("none"))
                     .arg(meeting->segments().size())
                     .arg(meeting->summary() ? QStringLiteral("summary") : QStringLiteral("no summary"));
    }
    for (const Folder* folder : store.fetchFolders())
        lines << QStringLiteral("folder %1: \u201C%2\u201D").arg(folder->id().toString(), folder->name());
    lines.sort();
    return lines;
}

// The archive against the store: each meeting with something in it has its file, with its
// title and notes as the store has them, and nothing is left of a meeting that is gone.
QStringList archiveDisagreements(ModelContext& store, const QString& root)
{
    QStringList wrong;
    const ArchiveIndex index = ArchiveIndex::load(root + QStringLiteral("/index.json"));
    QSet<QString> indexedPaths;
    for (auto entry = index.entries().cbegin(); entry != index.entries().cend(); ++entry) {
        const QString path = entry->path;
        indexedPaths.insert(path);
        const Meeting* meeting = store.meetingById(QUuid(entry.key()));
        if (!meeting) {
            wrong << QStringLiteral("the archive keeps %1 of a meeting that is not in the store").arg(path);
            continue;
        }
        QFile file(root + QLatin1Char('/') + path);
        if (!file.open(QIODevice::ReadOnly)) {
            wrong << QStringLiteral("the archive's index lists %1, which is not there").arg(path);
            continue;
        }
        const QString text = QString::fromUtf8(file.readAll());
        const auto parsed = ArchiveFileParser::parse(text);
        if (!parsed || parsed->id != meeting->id()) {
            wrong << QStringLiteral("%1 is not the file of its meeting").arg(path);
            continue;
        }
        // A meeting without a title is archived as "Untitled".
        const QString title = meeting->title().isEmpty() ? QStringLiteral("Untitled") : meeting->title();
        if (parsed->title != title)
            wrong << QStringLiteral("%1 has the title \u201C%2\u201D where the store has \u201C%3\u201D")
                         .arg(path, parsed->title, title);
        const QString notes = meeting->userNotes().trimmed();
        if (!notes.isEmpty() && !text.contains(QStringLiteral("## My Notes\n\n") + notes + QLatin1Char('\n')))
            wrong << QStringLiteral("%1 lacks the notes \u201C%2\u201D").arg(path, notes);
    }
    for (const Meeting* meeting : store.fetchMeetings()) {
        const bool hasContent = meeting->hasUserNotes() || meeting->summary() || !meeting->segments().isEmpty();
        if (hasContent && !index.contains(meeting->id().toString(QUuid::WithoutBraces).toUpper()))
            wrong << QStringLiteral("the archive has no file of \u201C%1\u201D").arg(meeting->title());
    }
    QDirIterator files(root, { QStringLiteral("*.md") }, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = QDir(root).relativeFilePath(files.next());
        if (!indexedPaths.contains(path))
            wrong << QStringLiteral("the archive keeps %1, which its index does not list").arg(path);
    }
    return wrong;
}

} // namespace

// The real window, as the application composes it, driven by a long random sequence of what a
// person does (WindowExerciser), on a store of its own, the test sound server and the local
// stand-ins for the provider and the cloud. It fails on a crash or a sanitizer's report (with
// the seed that repeats the run), on any Qt warning that is not known to be harmless, on a
// window that disagrees with its store after a step, on a store that does not keep what the
// window showed, and on an archive that does not mirror the store. QUILLET_EXERCISER_SEED and
// QUILLET_EXERCISER_ACTIONS repeat a run: the same steps are drawn, though what the sound
// server and the local servers answer, and when, can differ, and with it what a step finds to
// do.
class TestWindowExerciser final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void exercise()
    {
        const quint64 seed = seedOfRun();
        const int actions = actionsOfRun();
        std::fprintf(stderr,
            "Window exerciser: seed %llu, %d actions (QUILLET_EXERCISER_SEED=%llu QUILLET_EXERCISER_ACTIONS=%d)\n",
            static_cast<unsigned long long>(seed), actions, static_cast<unsigned long long>(seed), actions);
        std::fflush(stderr);
        noteStep(seed, -1, actions);
        installCrashNote();
        QtWarningWatch warnings(kBenignWarnings);

        AppRig rig { { .capture = true } };
        FakeProvider provider { rig.provider };
        rig->account().setByoKey(QString::fromLatin1(kToken));
        rig->settings().set(SettingsKeys::onboardingCompleted, true);
        // As the application is composed: the theme over every window, the launch, the delegate.
        ThemeController theme(rig->settings());
        rig->launch();
        AppDelegate::Options options;
        // Half the runs on a desktop with a status tray (closing hides the window), half without
        // (closing minimises it).
        const bool tray = (seed & 1) != 0;
        options.window.trayAvailable = [tray] { return tray; };
        auto delegate = std::make_unique<AppDelegate>(*rig, options);
        delegate->applicationDidFinishLaunching();
        QVERIFY(QTest::qWaitForWindowExposed(&delegate->mainWindow()));

        QStringList stored;
        {
            WindowExerciser exerciser(rig, *delegate, provider, seed);
            QVERIFY2(exerciser.prepareSpeech(), "espeak-ng is needed");
            const auto verifyWindow = [&](int step) {
                const QStringList wrong = warnings.takeUnexpected() + exerciser.inconsistencies();
                if (wrong.isEmpty())
                    return true;
                const QString report
                    = QStringLiteral("The window went wrong at step %1 of seed %2 "
                                     "(QUILLET_EXERCISER_SEED=%2 QUILLET_EXERCISER_ACTIONS=%3):\n  %4\n"
                                     "The last steps:\n  %5")
                          .arg(step)
                          .arg(seed)
                          .arg(actions)
                          .arg(wrong.join(QStringLiteral("\n  ")), exerciser.lastSteps().join(QStringLiteral("\n  ")));
                std::fprintf(stderr, "%s\n", qPrintable(report));
                return false;
            };
            for (int step = 0; step < actions; ++step) {
                noteStep(seed, step, actions);
                exerciser.step(step);
                if (!verifyWindow(step))
                    QFAIL("the window went wrong (see above)");
            }
            noteStep(seed, actions, actions);
            exerciser.windDown();
            if (!verifyWindow(actions))
                QFAIL("the window went wrong (see above)");
            stored = storedLines(rig->store());
        }

        // The store, opened again, holds what the window showed.
        delegate.reset();
        rig.restart();
        QCOMPARE(storedLines(rig->store()), stored);
        const QStringList archive = archiveDisagreements(rig->store(), rig.archiveRoot());
        QVERIFY2(archive.isEmpty(), qPrintable(archive.join(QLatin1Char('\n'))));
        const QStringList late = warnings.takeUnexpected();
        QVERIFY2(late.isEmpty(), qPrintable(late.join(QLatin1Char('\n'))));
        std::fprintf(
            stderr, "Window exerciser: seed %llu, %d actions done\n", static_cast<unsigned long long>(seed), actions);
    }
};

QUILLET_WIDGET_TEST_MAIN(TestWindowExerciser)
#include "TestWindowExerciser.moc"
