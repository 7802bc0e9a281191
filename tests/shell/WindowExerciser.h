#pragma once

// A person at the real window, chosen at random: records with and without speech, pauses and
// stops, types notes and titles, files, renames and deletes meetings and folders, searches,
// asks the chat, opens settings and the onboarding, switches the theme, resizes and closes the
// window, through the widgets a person uses (clicks on what is shown, menus, keys). After every
// step it checks that the window agrees with the store.
//
// Each step draws from a generator of its own, made from the run's seed and the step's number,
// so a step that finds the window in another state (the sound server and the local servers
// answer when they answer) changes no later step's draws.

#include <QList>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class AppDelegate;
class AppRig;
class FakeProvider;
class MainContentView;
class MainWindow;
class Meeting;
class ModelContext;
class QMenu;
class QWidget;
class TranscriptionSession;

// splitmix64: small, fast and the same on every compiler, so a seed means one sequence.
class StepRandom final
{
public:
    explicit StepRandom(quint64 seed)
        : m_state(seed)
    { }

    static quint64 mix(quint64 seed, quint64 step) { return StepRandom(seed ^ (step * 0x9E3779B97F4A7C15ull)).next(); }

    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 ... n - 1; 0 when n is not positive.
    int below(qsizetype n) { return n <= 1 ? 0 : int(next() % quint64(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T> const T& pick(const QList<T>& list) { return list.at(below(list.size())); }

private:
    quint64 m_state;
};

class WindowExerciser final
{
public:
    WindowExerciser(AppRig& rig, AppDelegate& delegate, FakeProvider& provider, quint64 seed);
    ~WindowExerciser();

    WindowExerciser(const WindowExerciser&) = delete;
    WindowExerciser& operator=(const WindowExerciser&) = delete;

    // Speaks the sentences the recordings hear and tells the provider their texts; false
    // when espeak-ng is missing.
    bool prepareSpeech();
    // One action of a person, then a pause of a chosen kind.
    void step(int index);
    // What does not agree between the window and the store; empty when all does.
    QStringList inconsistencies();
    // Answers every dialog, stops the recording and waits until the work it started is done.
    void windDown();
    // The last steps, oldest first, for a failure's message.
    QStringList lastSteps() const { return m_lastSteps; }

    // A widget a person can use now: on screen, enabled, in a window that is shown and not
    // minimised.
    static bool reachable(const QWidget* widget);

private:
    struct Action
    {
        const char* name;
        int weight;
        bool besideDialogs; // out of the main window, so a dialog on it does not stop it
        bool (WindowExerciser::*run)(StepRandom&);
    };
    static const QList<Action>& actions();

    void say(const QString& what);
    MainWindow& window() const;
    MainContentView& content() const;
    ModelContext& store() const;
    TranscriptionSession& session() const;
    QWidget* page() const;
    QWidget* onboarding() const;
    QString words(StepRandom& random, int count) const;

    // The hands.
    void click(QWidget* widget, QPoint at = {});
    void contextClick(QWidget* widget, QPoint at);
    // Clicks into the field, then types; typeText types where the cursor is.
    void typeInto(QWidget* field, const QString& text);
    void typeText(QWidget* field, const QString& text);
    bool chooseFromMenu(QMenu* shownMenu, StepRandom& random, const QString& what);
    void dismissPopups();
    void settle(StepRandom& random);
    void waitUntilQuiet(int limitMs);
    void reapPlayers();

    // The actions; each says what it does and returns false when it cannot be done now.
    bool answerDialog(StepRandom& random);
    bool startFromBar(StepRandom& random);
    bool pauseOrResume(StepRandom& random);
    bool stopFromBar(StepRandom& random);
    bool quickNote(StepRandom& random);
    bool speak(StepRandom& random);
    bool useTrayMenu(StepRandom& random);
    bool changeProvider(StepRandom& random);
    bool typeNotes(StepRandom& random);
    bool typeTitle(StepRandom& random);
    bool useMeetingPage(StepRandom& random);
    bool toggleChat(StepRandom& random);
    bool askChat(StepRandom& random);
    bool openCard(StepRandom& random);
    bool clickSidebarRow(StepRandom& random);
    bool sidebarMenu(StepRandom& random);
    bool deleteWithKey(StepRandom& random);
    bool newFolderRow(StepRandom& random);
    bool search(StepRandom& random);
    bool goHome(StepRandom& random);
    bool openSettings(StepRandom& random);
    bool useSettings(StepRandom& random);
    bool openOnboarding(StepRandom& random);
    bool useOnboarding(StepRandom& random);
    bool resizeWindow(StepRandom& random);
    bool closeWindow(StepRandom& random);

    AppRig& m_rig;
    AppDelegate& m_delegate;
    FakeProvider& m_provider;
    const quint64 m_seed;
    int m_step = 0;
    QStringList m_lastSteps;
    QTemporaryDir m_folder;
    QStringList m_clips; // raw 24 kHz files: spoken sentences, and a tone
    QList<std::shared_ptr<QProcess>> m_players;
    bool m_answersHeld = false;
};
