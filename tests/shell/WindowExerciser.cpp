#include "WindowExerciser.h"

#include "platform/PolyphaseResampler.h"
#include "recording/TranscriptionSession.h"
#include "shell/AppDelegate.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "support/AppRig.h"
#include "support/SessionRig.h"
#include "support/SpokenAudio.h"
#include "support/ViewProbe.h"
#include "ui/design/PillButton.h"
#include "ui/design/ReadingColumn.h"
#include "ui/design/Switch.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/ThemeTile.h"
#include "ui/window/MainWindow.h"
#include "ui/window/RecordingControlView.h"
#include "ui/workspace/MeetingChatPanel.h"
#include "ui/workspace/MeetingPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>
#include <cstdio>

namespace {

// What a person types: words the provider's sentences and the chat's answers use, so that a
// search finds something, and a few that a menu, a file name or a font treats with care.
const QStringList kWords { QStringLiteral("budget"), QStringLiteral("launch"), QStringLiteral("Thursday"),
    QStringLiteral("review"), QStringLiteral("numbers"), QStringLiteral("agenda"), QStringLiteral("design"),
    QStringLiteral("morning"), QStringLiteral("plan"), QStringLiteral("owner"), QStringLiteral("R&D"),
    QStringLiteral("Café"), QStringLiteral("naïve"), QStringLiteral("日本"), QStringLiteral("🙂"),
    QStringLiteral("a/b"), QStringLiteral("#1") };

const QStringList kQuestions { QStringLiteral("What did they decide?"), QStringLiteral("Who owns the launch?"),
    QStringLiteral("Summarise the budget review."), QStringLiteral("When do we ship?") };

template <typename Widget> Widget* shownChild(const QWidget* root, const QString& name)
{
    if (!root)
        return nullptr;
    for (Widget* widget : root->findChildren<Widget*>(name)) {
        if (WindowExerciser::reachable(widget))
            return widget;
    }
    return nullptr;
}

QString shownText(const QString& text)
{
    QString plain = text;
    return plain.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
        .remove(QLatin1Char('&'))
        .replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

QList<float> silence(double seconds)
{
    return QList<float>(qsizetype(seconds * 24000), 0.0f);
}

} // namespace

WindowExerciser::WindowExerciser(AppRig& rig, AppDelegate& delegate, FakeProvider& provider, quint64 seed)
    : m_rig(rig)
    , m_delegate(delegate)
    , m_provider(provider)
    , m_seed(seed)
{ }

WindowExerciser::~WindowExerciser()
{
    for (const auto& player : std::as_const(m_players)) {
        player->kill();
        player->waitForFinished();
    }
}

bool WindowExerciser::prepareSpeech()
{
    const QStringList sentences { QStringLiteral("Good morning everyone."),
        QStringLiteral("The budget review moves to Thursday."),
        QStringLiteral("Let us look at the launch numbers before the design meeting ends.") };
    QList<FakeProvider::Sentence> told;
    for (const QString& sentence : sentences) {
        const auto clip = SpokenAudio::speak(sentence, m_folder.filePath(QStringLiteral("spoken.wav")));
        if (!clip)
            return false;
        const auto [first, last] = SpokenAudio::soundSpan(clip->samples);
        const QList<float> audible = clip->samples.mid(first, last - first + 1);
        PolyphaseResampler resampler(clip->sampleRate, 24000);
        std::vector<float> resampled;
        resampler.process(std::span<const float>(audible.constData(), std::size_t(audible.size())), resampled);
        const QList<float> spoken(resampled.begin(), resampled.end());
        // Silence after the sentence ends the utterance.
        const QString path = m_folder.filePath(QStringLiteral("sentence-%1.raw").arg(m_clips.size()));
        if (!SpokenAudio::writeRaw(path, silence(0.3) + spoken + silence(1.2)))
            return false;
        m_clips << path;
        told.append({ sentence, spoken.size() / 24000.0 });
    }
    const QString tone = m_folder.filePath(QStringLiteral("tone.raw"));
    if (!SpokenAudio::writeRaw(tone, SessionRig::utterance()))
        return false;
    m_clips << tone;
    m_provider.setSentences(told);
    return true;
}

// --- The run ---------------------------------------------------------------------------------

const QList<WindowExerciser::Action>& WindowExerciser::actions()
{
    // Weights: roughly how often a person does it. Those marked beside a dialog are out of the
    // main window's reach, so a dialog on it does not stop them.
    static const QList<Action> list {
        { "start from the bar", 6, false, &WindowExerciser::startFromBar },
        { "pause or resume", 4, false, &WindowExerciser::pauseOrResume },
        { "stop from the bar", 5, false, &WindowExerciser::stopFromBar },
        { "quick note", 3, false, &WindowExerciser::quickNote },
        { "speak", 6, true, &WindowExerciser::speak },
        { "tray menu", 2, true, &WindowExerciser::useTrayMenu },
        { "provider", 2, true, &WindowExerciser::changeProvider },
        { "type notes", 7, false, &WindowExerciser::typeNotes },
        { "type a title", 4, false, &WindowExerciser::typeTitle },
        { "meeting page buttons", 4, false, &WindowExerciser::useMeetingPage },
        { "toggle the chat", 3, false, &WindowExerciser::toggleChat },
        { "ask the chat", 4, false, &WindowExerciser::askChat },
        { "card", 9, false, &WindowExerciser::openCard },
        { "sidebar row", 6, false, &WindowExerciser::clickSidebarRow },
        { "sidebar menu", 5, false, &WindowExerciser::sidebarMenu },
        { "delete key", 2, false, &WindowExerciser::deleteWithKey },
        { "new folder row", 2, false, &WindowExerciser::newFolderRow },
        { "search", 4, false, &WindowExerciser::search },
        { "home", 3, false, &WindowExerciser::goHome },
        { "settings", 2, false, &WindowExerciser::openSettings },
        { "settings page", 2, false, &WindowExerciser::useSettings },
        { "onboarding", 1, false, &WindowExerciser::openOnboarding },
        { "onboarding window", 3, true, &WindowExerciser::useOnboarding },
        { "resize", 2, true, &WindowExerciser::resizeWindow },
        { "close the window", 1, false, &WindowExerciser::closeWindow },
    };
    return list;
}

void WindowExerciser::step(int index)
{
    m_step = index;
    StepRandom random(StepRandom::mix(m_seed, quint64(index)));
    reapPlayers();
    const QList<Action>& all = actions();
    int total = 0;
    for (const Action& action : all)
        total += action.weight;

    // A dialog over the main window has the person's attention first; the tray and the
    // onboarding window stay in reach meanwhile.
    const bool dialogOpen = QApplication::activeModalWidget() != nullptr;
    bool done = dialogOpen && random.chance(75) && answerDialog(random);
    for (int attempt = 0; !done && attempt < 16; ++attempt) {
        int draw = random.below(total);
        const Action* chosen = &all.first();
        for (const Action& action : all) {
            if (draw < action.weight) {
                chosen = &action;
                break;
            }
            draw -= action.weight;
        }
        if (dialogOpen && !chosen->besideDialogs)
            continue;
        done = (this->*chosen->run)(random);
    }
    if (!done)
        say(QStringLiteral("looks at the window"));
    dismissPopups();
    settle(random);
    // A person looks at what is shown: every part of each window is painted.
    if (window().isVisible() && !window().isMinimized())
        window().grab();
    if (QWidget* guide = onboarding())
        guide->grab();
}

void WindowExerciser::say(const QString& what)
{
    const QString line = QStringLiteral("#%1 %2").arg(m_step).arg(what);
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
    m_lastSteps.append(line);
    if (m_lastSteps.size() > 25)
        m_lastSteps.removeFirst();
}

QString WindowExerciser::words(StepRandom& random, int count) const
{
    QStringList chosen;
    for (int i = 0; i < count; ++i)
        chosen << random.pick(kWords);
    return chosen.join(QLatin1Char(' '));
}

MainWindow& WindowExerciser::window() const
{
    return m_delegate.mainWindow();
}

MainContentView& WindowExerciser::content() const
{
    return window().content();
}

ModelContext& WindowExerciser::store() const
{
    return m_rig->store();
}

TranscriptionSession& WindowExerciser::session() const
{
    return m_rig->session();
}

QWidget* WindowExerciser::page() const
{
    return content().page();
}

QWidget* WindowExerciser::onboarding() const
{
    QWidget* guide = m_delegate.onboardingWindow();
    return guide && guide->isVisible() ? guide : nullptr;
}

// --- The hands -------------------------------------------------------------------------------

bool WindowExerciser::reachable(const QWidget* widget)
{
    return widget && widget->isVisible() && widget->isEnabled() && widget->window()->isVisible()
        && !widget->window()->isMinimized();
}

void WindowExerciser::click(QWidget* widget, QPoint at)
{
    if (at.isNull())
        at = widget->rect().center();
    // A click raises the window it lands in.
    if (QWidget* target = widget->window(); target != QApplication::activeWindow() && !qobject_cast<QMenu*>(target))
        target->activateWindow();
    // Either half may replace the widget (a page made anew): the second goes only to one
    // that is still there.
    const QPointer<QWidget> guard(widget);
    QTest::mousePress(widget, Qt::LeftButton, {}, at);
    if (guard)
        QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

void WindowExerciser::contextClick(QWidget* widget, QPoint at)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
}

void WindowExerciser::typeInto(QWidget* field, const QString& text)
{
    const QPointer<QWidget> guard(field);
    click(field);
    if (guard)
        typeText(field, text);
}

void WindowExerciser::typeText(QWidget* field, const QString& text)
{
    const QPointer<QWidget> guard(field);
    for (qsizetype i = 0; i < text.size() && guard; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n')) {
            QTest::keyClick(field, Qt::Key_Return);
        } else if (c.isHighSurrogate() && i + 1 < text.size()) {
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, text.mid(i, 2), Qt::NoModifier);
            ++i;
        } else if (c.unicode() < 0x80) {
            QTest::keyClick(field, c.toLatin1());
        } else {
            QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

bool WindowExerciser::chooseFromMenu(QMenu* shownMenu, StepRandom& random, const QString& what)
{
    // A menu may close, and go, while it is being used.
    const QPointer<QMenu> menu(shownMenu);
    if (!menu || !menu->isVisible()) {
        say(what + QStringLiteral(": no menu is open"));
        return true;
    }
    QList<QAction*> entries;
    for (QAction* action : menu->actions()) {
        // Quitting would end the run.
        if (action->isVisible() && action->isEnabled() && !action->isSeparator() && !action->text().isEmpty()
            && shownText(action->text()) != QLatin1String("Quit Quillet"))
            entries << action;
    }
    if (entries.isEmpty() || random.chance(8)) {
        say(what + QStringLiteral(": closes the menu"));
        QTest::keyClick(menu, Qt::Key_Escape);
        return true;
    }
    QAction* entry = random.pick(entries);
    const QString text = shownText(entry->text());
    const QPoint at = menu->actionGeometry(entry).center();
    if (const QPointer<QMenu> submenu = entry->menu()) {
        say(QStringLiteral("%1: %2 \u203A").arg(what, text));
        click(menu, at);
        if (submenu && !submenu->isVisible() && menu) {
            // Pointing at the entry opens it too, after the menu's delay.
            QTest::mouseMove(menu, at);
            if (!QTest::qWaitFor([&submenu] { return !submenu || submenu->isVisible(); }, 5000))
                say(QStringLiteral("the submenu stays closed"));
        }
        return chooseFromMenu(submenu, random, what + QStringLiteral(" \u203A ") + text);
    }
    say(QStringLiteral("%1: %2").arg(what, text));
    click(menu, at);
    return true;
}

void WindowExerciser::dismissPopups()
{
    for (int i = 0; i < 5; ++i) {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup)
            return;
        popup->close();
    }
}

void WindowExerciser::settle(StepRandom& random)
{
    // The application's clock moves on as a person's day does: seconds between most steps, now
    // and then an hour, or a night, so that meetings move from "Today" to the days before.
    const int elapsed = random.below(200);
    m_rig.clock.advanceMs(elapsed < 2 ? 14 * 3600'000 : elapsed < 8 ? 3600'000 : 1000 * (1 + elapsed % 30));
    const int kind = random.below(20);
    if (kind < 6)
        return;
    if (kind < 12) {
        for (int turns = 1 + random.below(3); turns > 0; --turns)
            QCoreApplication::processEvents();
        return;
    }
    if (kind < 18) {
        QTest::qWait(20 + random.below(400));
        return;
    }
    if (session().isRecording()) {
        const int ms = 1000 + random.below(3000);
        say(QStringLiteral("listens for %1 ms").arg(ms));
        QTest::qWait(ms);
        return;
    }
    say(QStringLiteral("waits for the last recording's end and its summary"));
    // While the provider holds its answers back, the summary does not come.
    waitUntilQuiet(m_answersHeld ? 3000 : 120'000);
}

void WindowExerciser::waitUntilQuiet(int limitMs)
{
    // A limit, not a speed target: the next step finds whatever state the work is in.
    if (!QTest::qWaitFor(
            [this] { return session().drainingRecordings() == 0 && !session().isGeneratingSummary(); }, limitMs))
        say(QStringLiteral("the recording's work is still going on"));
}

void WindowExerciser::reapPlayers()
{
    m_players.removeIf([](const std::shared_ptr<QProcess>& player) { return player->state() == QProcess::NotRunning; });
}

void WindowExerciser::windDown()
{
    m_step = -1;
    say(QStringLiteral("winds down"));
    dismissPopups();
    for (int i = 0; i < 10; ++i) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            break;
        dialog->reject();
        QCoreApplication::processEvents();
    }
    m_provider.openGate(QStringLiteral("\"model\""));
    m_provider.setTranscriptionStatus(200);
    if (session().isRecording())
        session().stopRecording();
    for (const auto& player : std::as_const(m_players))
        player->waitForFinished(60'000);
    waitUntilQuiet(300'000);
    if (QWidget* guide = onboarding())
        guide->close();
    QTest::qWait(50);
}

// --- Recording ---------------------------------------------------------------------------------

bool WindowExerciser::startFromBar(StepRandom&)
{
    PillButton* start = content().recordingControls()->startButton();
    if (!reachable(start))
        return false;
    say(QStringLiteral("presses \u201CStart recording\u201D"));
    click(start);
    return true;
}

bool WindowExerciser::pauseOrResume(StepRandom&)
{
    PillButton* pause = content().recordingControls()->pauseButton();
    if (!reachable(pause))
        return false;
    say(QStringLiteral("presses \u201C%1\u201D").arg(pause->text()));
    click(pause);
    return true;
}

bool WindowExerciser::stopFromBar(StepRandom&)
{
    PillButton* stop = content().recordingControls()->stopButton();
    if (!reachable(stop))
        return false;
    say(QStringLiteral("presses \u201CStop\u201D"));
    click(stop);
    return true;
}

bool WindowExerciser::quickNote(StepRandom&)
{
    auto* toolBar = window().findChild<QToolBar*>(QStringLiteral("toolbar"));
    QWidget* button = toolBar ? toolBar->widgetForAction(window().quickNoteAction()) : nullptr;
    if (!reachable(button))
        return false;
    say(QStringLiteral("presses the toolbar's \u201CQuick note\u201D"));
    click(button);
    return true;
}

bool WindowExerciser::speak(StepRandom& random)
{
    if (m_clips.isEmpty() || m_players.size() >= 2)
        return false;
    const int clip = random.below(m_clips.size());
    // The microphone is the user's voice, the speaker's sink the other side of a call.
    const bool mine = random.chance(60);
    say(QStringLiteral("%1 clip %2")
            .arg(mine ? QStringLiteral("says") : QStringLiteral("hears the call say"))
            .arg(clip));
    auto player = SpokenAudio::startPlaying(m_clips.at(clip), mine ? QStringLiteral("micsink") : QStringLiteral("spk"));
    if (player)
        m_players.append(std::shared_ptr<QProcess>(player.release()));
    return true;
}

bool WindowExerciser::useTrayMenu(StepRandom& random)
{
    QMenu* menu = m_delegate.menuBar().menu();
    say(QStringLiteral("clicks the tray icon"));
    menu->popup(QPoint(40, 10));
    return chooseFromMenu(menu, random, QStringLiteral("tray menu"));
}

// Not a person's doing: the provider holds its answers back, or fails the transcriptions, for a
// while, so that summaries, titles and chat answers arrive after what the person did meanwhile.
bool WindowExerciser::changeProvider(StepRandom& random)
{
    // Every title, summary and chat request names its model.
    const QString everyAnswer = QStringLiteral("\"model\"");
    if (m_answersHeld && random.chance(80)) {
        say(QStringLiteral("the provider answers again"));
        m_provider.openGate(everyAnswer);
        m_answersHeld = false;
        return true;
    }
    switch (random.below(3)) {
    case 0:
        say(QStringLiteral("the provider holds its answers back"));
        m_provider.closeGate(everyAnswer);
        m_answersHeld = true;
        return true;
    case 1:
        say(QStringLiteral("the provider fails the transcriptions"));
        m_provider.setTranscriptionStatus(503);
        return true;
    default:
        say(QStringLiteral("the provider transcribes again"));
        m_provider.setTranscriptionStatus(200);
        return true;
    }
}

// --- The meeting page ------------------------------------------------------------------------

bool WindowExerciser::typeNotes(StepRandom& random)
{
    auto* notes = shownChild<QTextEdit>(page(), QStringLiteral("notesEditor"));
    if (!reachable(notes))
        return false;
    if (random.chance(10)) {
        say(QStringLiteral("erases the notes"));
        click(notes);
        QTest::keyClick(notes, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(notes, Qt::Key_Backspace);
        return true;
    }
    QString text = words(random, 1 + random.below(6));
    text += random.chance(30) ? QStringLiteral("\n") : QStringLiteral(" ");
    say(QStringLiteral("types \u201C%1\u201D into the notes").arg(text.trimmed()));
    click(notes);
    QTest::keyClick(notes, Qt::Key_End, Qt::ControlModifier);
    typeText(notes, text);
    return true;
}

bool WindowExerciser::typeTitle(StepRandom& random)
{
    auto* title = shownChild<QTextEdit>(page(), QStringLiteral("titleField"));
    if (!reachable(title))
        return false;
    const int how = random.below(10);
    const QString text = how < 2 ? QString() : words(random, 1 + random.below(3));
    say(how < 2 ? QStringLiteral("erases the title") : QStringLiteral("types the title \u201C%1\u201D").arg(text));
    const QPointer<QTextEdit> guard(title);
    click(title);
    if (how < 6)
        QTest::keyClick(title, Qt::Key_A, Qt::ControlModifier);
    else
        QTest::keyClick(title, Qt::Key_End, Qt::ControlModifier);
    if (how < 2)
        QTest::keyClick(title, Qt::Key_Backspace);
    else
        typeText(title, (how < 6 ? QString() : QStringLiteral(" ")) + text);
    if (guard && random.chance(60))
        QTest::keyClick(title, Qt::Key_Return);
    return true;
}

bool WindowExerciser::useMeetingPage(StepRandom& random)
{
    QWidget* shown = page();
    if (!qobject_cast<MeetingPage*>(shown))
        return false;
    QList<QAbstractButton*> buttons;
    for (const char* name : { "transcriptToggle", "generateButton", "regenerateButton", "copySummaryButton",
             "copyTranscriptButton", "shareButton", "collapseToggle", "linkButton", "dismissLinkButton" }) {
        if (auto* button = shownChild<QAbstractButton>(shown, QString::fromLatin1(name)))
            buttons << button;
    }
    for (const QString& tab : { QStringLiteral("Enhanced"), QStringLiteral("My notes") }) {
        for (QAbstractButton* button : shown->findChildren<QAbstractButton*>()) {
            if (button->text() == tab && reachable(button))
                buttons << button;
        }
    }
    if (buttons.isEmpty())
        return false;
    QAbstractButton* button = random.pick(buttons);
    say(QStringLiteral("presses the meeting's %1")
            .arg(button->text().isEmpty() ? button->objectName()
                                          : QStringLiteral("\u201C%1\u201D").arg(button->text())));
    click(button);
    return true;
}

bool WindowExerciser::toggleChat(StepRandom&)
{
    auto* toggle = shownChild<QAbstractButton>(page(), QStringLiteral("chatToggle"));
    if (!toggle)
        return false;
    say(QStringLiteral("presses \u201CAsk\u201D"));
    click(toggle);
    return true;
}

bool WindowExerciser::askChat(StepRandom& random)
{
    auto* panel = shownChild<MeetingChatPanel>(page(), QStringLiteral("chatPanel"));
    if (!panel) {
        // The panel opens first.
        auto* toggle = shownChild<QAbstractButton>(page(), QStringLiteral("chatToggle"));
        if (!toggle)
            return false;
        say(QStringLiteral("presses \u201CAsk\u201D to ask something"));
        click(toggle);
        panel = shownChild<MeetingChatPanel>(page(), QStringLiteral("chatPanel"));
        if (!panel)
            return true;
    }
    if (reachable(panel->stopButton()) && random.chance(40)) {
        say(QStringLiteral("stops the chat's answer"));
        click(panel->stopButton());
        return true;
    }
    QPlainTextEdit* field = panel->questionField();
    if (!reachable(field))
        return false;
    const QString question = random.chance(70) ? random.pick(kQuestions) : words(random, 2);
    say(QStringLiteral("asks \u201C%1\u201D").arg(question));
    const QPointer<QPlainTextEdit> guard(field);
    typeInto(field, question);
    if (guard)
        QTest::keyClick(field, Qt::Key_Return);
    return true;
}

// --- Settings, the onboarding and the window ---------------------------------------------------

bool WindowExerciser::goHome(StepRandom&)
{
    auto* toolBar = window().findChild<QToolBar*>(QStringLiteral("toolbar"));
    QWidget* button = toolBar ? toolBar->widgetForAction(window().homeAction()) : nullptr;
    if (!reachable(button))
        return false;
    say(QStringLiteral("presses the toolbar's \u201CHome\u201D"));
    click(button);
    return true;
}

bool WindowExerciser::openSettings(StepRandom& random)
{
    if (!reachable(&window()))
        return false;
    auto* toolBar = window().findChild<QToolBar*>(QStringLiteral("toolbar"));
    QWidget* button = toolBar ? toolBar->widgetForAction(window().settingsAction()) : nullptr;
    if (random.chance(60) && reachable(button)) {
        say(QStringLiteral("presses the toolbar's \u201CSettings\u201D"));
        click(button);
        return true;
    }
    say(QStringLiteral("presses Ctrl+,"));
    window().activateWindow();
    QTest::keyClick(&window(), Qt::Key_Comma, Qt::ControlModifier);
    return true;
}

bool WindowExerciser::useSettings(StepRandom& random)
{
    auto* settings = qobject_cast<SettingsView*>(page());
    if (!settings || !reachable(settings))
        return false;
    QList<QAbstractButton*> controls;
    for (QAbstractButton* button : settings->findChildren<QAbstractButton*>()) {
        if ((qobject_cast<ThemeTile*>(button) || qobject_cast<Switch*>(button)) && reachable(button))
            controls << button;
    }
    if (controls.isEmpty())
        return false;
    QAbstractButton* control = random.pick(controls);
    say(QStringLiteral("clicks the setting \u201C%1\u201D")
            .arg(control->text().isEmpty() ? control->accessibleName() : control->text()));
    if (auto* column = settings->findChild<ReadingColumn*>())
        column->ensureWidgetVisible(control);
    click(control);
    return true;
}

bool WindowExerciser::openOnboarding(StepRandom& random)
{
    QMenuBar* bar = window().menuBar();
    if (!reachable(bar))
        return false;
    QAction* help = nullptr;
    for (QAction* action : bar->actions()) {
        if (action->text() == QLatin1String("Help"))
            help = action;
    }
    if (!help)
        return false;
    say(QStringLiteral("opens the \u201CHelp\u201D menu"));
    click(bar, bar->actionGeometry(help).center());
    return chooseFromMenu(qobject_cast<QMenu*>(QApplication::activePopupWidget()), random, QStringLiteral("Help"));
}

bool WindowExerciser::useOnboarding(StepRandom& random)
{
    QWidget* guide = onboarding();
    if (!guide)
        return false;
    if (random.chance(12)) {
        say(QStringLiteral("closes the onboarding window"));
        guide->close();
        return true;
    }
    QList<QAbstractButton*> buttons;
    for (QAbstractButton* button : guide->findChildren<QAbstractButton*>()) {
        // The run keeps its own key, so that recordings go on reaching the provider.
        if (reachable(button) && !button->text().startsWith(QLatin1String("Sign out"), Qt::CaseInsensitive))
            buttons << button;
    }
    auto* email = ViewProbe::field(*guide, QStringLiteral("name@example.com"));
    if (email && reachable(email) && random.chance(15)) {
        say(QStringLiteral("types an email address into the onboarding"));
        typeInto(email, QStringLiteral("someone@example.com"));
        return true;
    }
    if (buttons.isEmpty())
        return false;
    QAbstractButton* button = random.pick(buttons);
    say(QStringLiteral("presses the onboarding's \u201C%1\u201D").arg(button->text()));
    click(button);
    return true;
}

bool WindowExerciser::resizeWindow(StepRandom&)
{
    MainWindow& main = window();
    if (!main.isVisible() || main.isMinimized())
        return false;
    if (main.size() == main.minimumSize()) {
        say(QStringLiteral("resizes the window back to its first size"));
        main.resize(MainWindow::kDefaultSize);
    } else {
        say(QStringLiteral("resizes the window to its minimum"));
        main.resize(main.minimumSize());
    }
    return true;
}

bool WindowExerciser::closeWindow(StepRandom&)
{
    if (!reachable(&window()))
        return false;
    say(QStringLiteral("closes the main window"));
    window().close();
    return true;
}
