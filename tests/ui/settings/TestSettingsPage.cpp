#include "account/AccountService.h"
#include "platform/AutostartEntry.h"
#include "platform/Log.h"
#include "support/AccessibleNames.h"
#include "support/AccessibleTree.h"
#include "support/AppRig.h"
#include "support/TestMain.h"
#include "support/ViewProbe.h"
#include "system/LaunchAtLogin.h"
#include "ui/design/ReadingColumn.h"
#include "ui/design/SettingsRow.h"
#include "ui/design/Switch.h"
#include "ui/design/SymbolView.h"
#include "ui/design/ToneLabel.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/ThemeTile.h"
#include "ui/settings/VocabularyEditor.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QScrollArea>
#include <QSignalSpy>

using Status = MicrophonePermission::Status;

namespace {

const QString kKeyCaptionOn = QStringLiteral("Using your own Tessra key — the free allowance isn't used.");
const QString kKeyCaptionOff
    = QStringLiteral("Optional. With a key, calls go straight to Tessra instead of your Quillet account.");

// The page over the application's services, as the main window makes it at each visit.
struct Page
{
    std::unique_ptr<AppRig> rig;
    std::unique_ptr<SettingsView> view;

    explicit Page(AppRig::Options options = {})
        : rig(std::make_unique<AppRig>(options))
    { }

    SettingsView& open()
    {
        view = std::make_unique<SettingsView>((*rig)->settingsServices());
        view->resize(1120, 740);
        view->show();
        return *view;
    }
    void close() { view.reset(); }

    Settings& settings() { return (*rig)->settings(); }
    Switch* switchFor(const QString& title) const { return view->switchFor(title); }
    QLineEdit* ownKey() const { return ViewProbe::field(*view, QStringLiteral("Use my own Tessra key (tq-…)")); }
    QLineEdit* wordField() const { return ViewProbe::field(*view, QStringLiteral("Add a word…")); }
    QStringList chipWords() const
    {
        QStringList words;
        for (const QLabel* label : view->vocabulary()->chips()->findChildren<QLabel*>())
            if (label->isVisibleTo(view->vocabulary()))
                words.append(label->text());
        return words;
    }
};

// Answers of the notification centre come in the order asked: once this one is in, every
// earlier reschedule has been answered.
bool settled(NotificationCenter& center)
{
    bool answered = false;
    center.requestAuthorization([&](bool) { answered = true; });
    return QTest::qWaitFor([&] { return answered; }, 30'000);
}

// Picks a language as the user does: the arrow keys on the focused picker.
void pick(QComboBox* picker, const QString& label)
{
    const int target = picker->findText(label);
    while (picker->currentIndex() != target)
        QTest::keyClick(picker, picker->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
}

const QList<const SettingsKey<bool>*> kSwitchKeys { &SettingsKeys::liveDraftEnabled,
    &SettingsKeys::echoSuppressionEnabled, &SettingsKeys::meetingRemindersEnabled, &SettingsKeys::soundEnabled,
    &SettingsKeys::launchAtLogin };

} // namespace

class TestSettingsPage final : public QObject
{
    Q_OBJECT

private slots:
    // A first visit shows the defaults and leaves the settings file without any of the keys.
    void defaultsAreShownAndNotWritten()
    {
        Page page;
        page.open();
        QCOMPARE(page.view->languagePicker()->currentText(), QStringLiteral("Auto-detect"));
        QCOMPARE(page.switchFor("Show words as they're spoken")->isChecked(), false);
        QCOMPARE(page.switchFor("Remove duplicated speech")->isChecked(), true);
        QCOMPARE(page.switchFor("Meeting reminders")->isChecked(), true);
        QCOMPARE(page.switchFor("Sound feedback")->isChecked(), true);
        QCOMPARE(page.switchFor("Launch at login")->isChecked(), false);
        QCOMPARE(page.chipWords(), QStringList());
        page.close();

        page.rig->restart();
        for (const SettingsKey<bool>* key : kSwitchKeys)
            QVERIFY2(!page.settings().contains(*key), qPrintable(key->key()));
        QVERIFY(!page.settings().contains(SettingsKeys::transcriptionLanguage));
    }

    // Every control of the page has a name for a screen reader: the fields by their labels, the
    // symbols by their help texts.
    void everyControlIsNamed()
    {
        Page page;
        page.open();
        QUILLET_VERIFY_ALL_NAMED(*page.view);
        QCOMPARE(QAccessible::queryAccessibleInterface(page.ownKey())->text(QAccessible::Name),
            QStringLiteral("Use my own Tessra key"));
        QCOMPARE(QAccessible::queryAccessibleInterface(page.wordField())->text(QAccessible::Name),
            QStringLiteral("Add a word"));
        QVERIFY(AccessibleNames::find(*page.view, QStringLiteral("Email")));

        // The page is read by its headings, and each row's control by the title beside it, which
        // is the control's label (the relation a screen reader reads, not only a name).
        QCOMPARE(AccessibleNames::namesWithRole(*page.view, QAccessible::Heading),
            QStringList({ "Settings", "Account", "Transcription", "Notifications", "Calendar", "General", "Dictionary",
                "Advanced" }));
        QList<QWidget*> fields { page.view->languagePicker() };
        for (const char* title : { "Show words as they're spoken", "Remove duplicated speech", "Meeting reminders",
                 "Sound feedback", "Launch at login" })
            fields.append(page.switchFor(QString::fromUtf8(title)));
        for (QWidget* field : fields) {
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(field);
            const auto labels = face->relations(QAccessible::Label);
            QVERIFY2(labels.size() == 1, qPrintable(face->text(QAccessible::Name)));
            const auto* row = qobject_cast<SettingsRow*>(field->parentWidget());
            QCOMPARE(labels.first().first->object(), row->titleLabel());
            const auto labelled = labels.first().first->relations(QAccessible::Labelled);
            QCOMPARE(labelled.size(), 1);
            QCOMPARE(labelled.first().first->object(), field);
        }
        // The label takes the place of the picker's name, which is its choice: the choice is
        // read as its text.
        QAccessibleInterface* picker = QAccessible::queryAccessibleInterface(page.view->languagePicker());
        QCOMPARE(
            picker->relations(QAccessible::Label).first().first->text(QAccessible::Name), QStringLiteral("Language"));
        QVERIFY(picker->textInterface());
        QCOMPARE(
            picker->textInterface()->text(0, picker->textInterface()->characterCount()), QStringLiteral("Auto-detect"));
        page.view->languagePicker()->setFocus();
        pick(page.view->languagePicker(), QStringLiteral("English"));
        QCOMPARE(
            picker->textInterface()->text(0, picker->textInterface()->characterCount()), QStringLiteral("English"));
    }

    // The General card offers the welcome guide's theme tiles: a press writes "appTheme" and
    // a change made elsewhere moves the selection.
    void appearanceTilesWriteTheTheme()
    {
        Page page;
        page.open();
        QVERIFY(ViewProbe::label(*page.view, QStringLiteral("Appearance")));
        const auto tile = [&](const char* name) {
            return qobject_cast<ThemeTile*>(ViewProbe::button(*page.view, QString::fromLatin1(name)));
        };
        ThemeTile* system = tile("System");
        ThemeTile* light = tile("Light");
        ThemeTile* dark = tile("Dark");
        QVERIFY(system && light && dark);
        QVERIFY(system->isSelected() && !dark->isSelected());
        QVERIFY(!page.settings().contains(SettingsKeys::appTheme));
        // To a screen reader: three radio buttons of the group "Appearance", the selected one
        // checked.
        QAccessibleInterface* group = QAccessible::queryAccessibleInterface(system)->parent();
        QCOMPARE(group->role(), QAccessible::Grouping);
        QCOMPARE(group->text(QAccessible::Name), QStringLiteral("Appearance"));
        QCOMPARE(AccessibleNames::namesWithRole(*page.view, QAccessible::RadioButton),
            (QStringList { "System", "Light", "Dark" }));
        const auto checked
            = [](ThemeTile* tile) { return QAccessible::queryAccessibleInterface(tile)->state().checked; };
        QVERIFY(checked(system) && !checked(light) && !checked(dark));
        // The arrows move along the tiles and stop at either end; only a press chooses.
        system->setFocus(Qt::TabFocusReason);
        for (const auto& [key, focused] : { std::pair { Qt::Key_Left, system }, { Qt::Key_Right, light },
                 { Qt::Key_Down, dark }, { Qt::Key_Right, dark }, { Qt::Key_Up, light } }) {
            QTest::keyClick(system->window()->focusWidget(), key);
            QCOMPARE(system->window()->focusWidget(), focused);
        }
        QVERIFY(!page.settings().contains(SettingsKeys::appTheme));

        QTest::mouseClick(dark, Qt::LeftButton);
        QCOMPARE(page.settings().stored(SettingsKeys::appTheme), std::optional<QString>(QStringLiteral("dark")));
        QVERIFY(dark->isSelected() && !system->isSelected());
        QVERIFY(checked(dark) && !checked(system));

        page.settings().set(SettingsKeys::appTheme, QStringLiteral("light"));
        QVERIFY(light->isSelected() && !dark->isSelected());
        QVERIFY(checked(light) && !checked(dark));
    }

    // Each switch writes its key the moment it moves (by mouse or Space); a change made
    // elsewhere moves the switch back without writing anything.
    void switchesWriteAtOnce_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("byKeyboard");
        QTest::newRow("live draft") << "Show words as they're spoken" << 0 << false;
        QTest::newRow("echo suppression") << "Remove duplicated speech" << 1 << true;
        QTest::newRow("reminders") << "Meeting reminders" << 2 << false;
        QTest::newRow("sound") << "Sound feedback" << 3 << true;
        QTest::newRow("launch at login") << "Launch at login" << 4 << false;
    }
    void switchesWriteAtOnce()
    {
        QFETCH(QString, title);
        QFETCH(int, key);
        QFETCH(bool, byKeyboard);
        const SettingsKey<bool>& setting = *kSwitchKeys[key];
        Page page;
        page.open();
        Switch* control = page.switchFor(title);
        QVERIFY(control);
        QCOMPARE(control->accessibleName(), title);
        const bool before = control->isChecked();
        if (byKeyboard)
            QTest::keyClick(control, Qt::Key_Space);
        else
            QTest::mouseClick(control, Qt::LeftButton);
        QCOMPARE(control->isChecked(), !before);
        QCOMPARE(page.settings().stored(setting), std::optional<bool>(!before));

        QSignalSpy writes(&page.settings(), &Settings::changed);
        page.settings().set(setting, before);
        QCOMPARE(control->isChecked(), before);
        QCOMPARE(writes.size(), 1); // the page wrote nothing back
        LaunchAtLogin::set(false);
    }

    // The picker shows the stored language, or "Auto-detect" for anything else, and writes the
    // raw value of the user's pick only.
    void languagePicker_data()
    {
        QTest::addColumn<QString>("stored"); // empty: absent
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("picked"); // empty: no pick
        QTest::addColumn<QString>("storedAfter");
        QTest::newRow("absent, pick English") << ""
                                              << "Auto-detect"
                                              << "English"
                                              << "en";
        QTest::newRow("vi shown, pick English") << "vi"
                                                << "Vietnamese"
                                                << "English"
                                                << "en";
        QTest::newRow("en, pick Auto-detect") << "en"
                                              << "English"
                                              << "Auto-detect"
                                              << "auto";
        QTest::newRow("unknown stays stored") << "fr"
                                              << "Auto-detect"
                                              << ""
                                              << "fr";
    }
    void languagePicker()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QFETCH(QString, picked);
        QFETCH(QString, storedAfter);
        Page page;
        if (!stored.isEmpty())
            page.settings().set(SettingsKeys::transcriptionLanguage, stored);
        page.open();
        QComboBox* picker = page.view->languagePicker();
        QCOMPARE(picker->currentText(), shown);
        if (!picked.isEmpty())
            pick(picker, picked);
        QCOMPARE(page.settings().get(SettingsKeys::transcriptionLanguage), storedAfter);

        page.settings().set(SettingsKeys::transcriptionLanguage, QStringLiteral("vi"));
        QCOMPARE(picker->currentText(), QStringLiteral("Vietnamese"));
    }

    // The reminders switch reschedules the real reminders; opening the page does not.
    void remindersSwitchReschedules()
    {
        Page page;
        AppRig& rig = *page.rig;
        rig.calendars.addCalendar("work", "Work");
        rig.calendars.addEvent("work", "standup", "Standup", rig.clock.now().addSecs(600)).url
            = QStringLiteral("https://meet.google.com/abc-defg-hij");
        rig->calendar().start();
        QTRY_COMPARE(rig->calendar().events().size(), 1);
        rig->reminders().activate();
        QTRY_COMPARE(rig->notifications().pendingRequests().size(), 1);

        page.open();
        QTest::mouseClick(page.switchFor("Meeting reminders"), Qt::LeftButton);
        QTRY_VERIFY(rig->notifications().pendingRequests().isEmpty());
        QTest::mouseClick(page.switchFor("Meeting reminders"), Qt::LeftButton);
        QTRY_COMPARE(rig->notifications().pendingRequests().size(), 1);
        page.close();

        // Stored off while a reminder is pending: a visit leaves it pending.
        page.settings().set(SettingsKeys::meetingRemindersEnabled, false);
        page.open();
        QVERIFY(settled(rig->notifications()));
        QCOMPARE(rig->notifications().pendingRequests().size(), 1);
        QCOMPARE(page.switchFor("Meeting reminders")->isChecked(), false);
    }

    // The switch writes and removes the autostart entry in this test's home; a visit leaves an
    // entry alone even when it disagrees with the setting.
    void launchAtLoginFollowsTheSwitch()
    {
        const QString entry = AutostartEntry::defaultPath();
        QVERIFY2(entry.startsWith(TestSupport::isolatedHome().path()), qPrintable(entry));
        Page page;
        page.open();
        LogCapture log;
        QTest::mouseClick(page.switchFor("Launch at login"), Qt::LeftButton);
        QVERIFY(QFile::exists(entry));
        QTest::mouseClick(page.switchFor("Launch at login"), Qt::LeftButton);
        QVERIFY(!QFile::exists(entry));
        QCOMPARE(
            log.lines(), (QStringList { "[Quillet] Launch at login enabled", "[Quillet] Launch at login disabled" }));
        page.close();

        LaunchAtLogin::set(true);
        page.open();
        page.close();
        QVERIFY(QFile::exists(entry));
        page.settings().set(SettingsKeys::launchAtLogin, true);
        LaunchAtLogin::set(false);
        page.open();
        QCOMPARE(page.switchFor("Launch at login")->isChecked(), true);
        QVERIFY(!QFile::exists(entry));
    }

    void microphoneRow_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("subtitle");
        QTest::newRow("authorised") << Status::Authorized << "Access granted";
        QTest::newRow("not asked yet") << Status::NotDetermined << "No microphone found — connect one to record";
        QTest::newRow("denied") << Status::Denied << "No microphone found — connect one to record";
    }
    void microphoneRow()
    {
        QFETCH(Status, status);
        QFETCH(QString, subtitle);
        Page page;
        page.rig->microphonePermission.setStatus(status);
        SettingsView& view = page.open();
        const auto checkMarkShown = [&] {
            for (const SymbolView* symbol : view.findChildren<SymbolView*>())
                if (symbol->name() == "checkmark.circle.fill" && symbol->isVisibleTo(&view))
                    return true;
            return false;
        };
        QVERIFY(ViewProbe::label(view, subtitle));
        QCOMPARE(checkMarkShown(), status == Status::Authorized);
        if (status == Status::Authorized)
            return;

        QVERIFY(ViewProbe::click(view, QStringLiteral("Open Settings")));
        QCOMPARE(page.rig->desktopSettings.opened, { DesktopSettingsOpener::Pane::Microphone });
        QCOMPARE(page.rig->microphonePermission.requestCount(), 0);

        // Granted in the desktop's settings; seen when Quillet becomes active again.
        page.rig->microphonePermission.setStatus(Status::Authorized);
        QVERIFY(!checkMarkShown());
        emit qApp->applicationStateChanged(Qt::ApplicationActive);
        QVERIFY(checkMarkShown());
        QVERIFY(ViewProbe::label(view, QStringLiteral("Access granted")));
        QVERIFY(!ViewProbe::button(view, QStringLiteral("Open Settings")));

        // A look at the desktop that finds the microphone gone shows at once.
        page.rig->microphonePermission.findStatus(Status::Denied);
        QVERIFY(ViewProbe::label(view, subtitle));
        QVERIFY(ViewProbe::button(view, QStringLiteral("Open Settings")));
    }

    // Typed one character at a time into the real keyring; the field shows the stored key.
    void ownKeyIsStoredAsTyped()
    {
        Page page({ .realKeyring = true });
        Keychain& keychain = (*page.rig)->keychain();
        page.open();
        QLineEdit* field = page.ownKey();
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QVERIFY(ViewProbe::label(*page.view, kKeyCaptionOff));

        const QString typed = QStringLiteral("  tq-a");
        for (qsizetype i = 0; i < typed.size(); ++i) {
            QTest::keyClick(field, typed[i].toLatin1());
            const QString sofar = typed.left(i + 1).trimmed();
            QCOMPARE(
                keychain.string(AccountService::kByoKeyAccount), sofar.isEmpty() ? std::nullopt : std::optional(sofar));
            QVERIFY(ViewProbe::label(*page.view, sofar.isEmpty() ? kKeyCaptionOff : kKeyCaptionOn));
        }
        page.close();

        page.open();
        QCOMPARE(page.ownKey()->text(), typed);
        QVERIFY(ViewProbe::label(*page.view, kKeyCaptionOn));
        page.ownKey()->selectAll();
        QTest::keyClick(page.ownKey(), Qt::Key_Backspace);
        QCOMPARE(keychain.string(AccountService::kByoKeyAccount), std::nullopt);
        QVERIFY(ViewProbe::label(*page.view, kKeyCaptionOff));
    }

    // A key the keyring refuses works for this run, and the own-key area says so, until the
    // key is kept or cleared.
    void ownKeyTheKeyringRefusesIsSaid()
    {
        const QString unkept = QStringLiteral("No keyring could keep this key: it works until Quillet quits.");
        Page page;
        page.rig->secrets.setFailure(SecretStore::Failed);
        page.open();
        // In a small window the field, its caption and then its message are kept in view when
        // the keyboard reaches it from the control before.
        page.view->resize(720, 420);
        page.view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(page.view.get()));
        QWidget* viewport = page.view->scrollArea()->viewport();
        const auto inView = [viewport](const QWidget* widget) {
            return viewport->rect().contains(QRect(widget->mapTo(viewport, QPoint(0, 0)), widget->size()));
        };
        page.wordField()->setFocus(Qt::OtherFocusReason);
        for (int presses = 0; presses < 5 && !page.ownKey()->hasFocus(); ++presses)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(page.ownKey()->hasFocus());
        QVERIFY(inView(page.ownKey()));
        QVERIFY(inView(ViewProbe::label(*page.view, kKeyCaptionOff)));
        AccessibleTree::EventSpy told;
        QTest::keyClicks(page.ownKey(), QStringLiteral("tq-a"));
        QVERIFY(ViewProbe::label(*page.view, kKeyCaptionOn));
        QVERIFY(ViewProbe::label(*page.view, unkept));
        QTRY_COMPARE(told.announcements(), QStringList { unkept });
        QTRY_VERIFY(inView(ViewProbe::label(*page.view, unkept)));
        QVERIFY(inView(page.ownKey()));
        page.ownKey()->selectAll();
        QTest::keyClick(page.ownKey(), Qt::Key_Backspace);
        QVERIFY(ViewProbe::label(*page.view, kKeyCaptionOff));
        QVERIFY(!ViewProbe::label(*page.view, unkept));
        QTest::keyClicks(page.ownKey(), QStringLiteral("tq"));
        QVERIFY(ViewProbe::label(*page.view, unkept));
        page.rig->secrets.setFailure(SecretStore::Success);
        QTest::keyClick(page.ownKey(), 'b');
        QVERIFY(!ViewProbe::label(*page.view, unkept));
        QVERIFY(ViewProbe::label(*page.view, kKeyCaptionOn));
    }

    void vocabulary()
    {
        Page page;
        page.settings().set(SettingsKeys::customDictionary, QStringList { "Quillet", "Tessra" });
        page.open();
        QLineEdit* field = page.wordField();
        QAbstractButton* add = ViewProbe::button(*page.view, QStringLiteral("Add"));
        const auto stored = [&] { return page.settings().get(SettingsKeys::customDictionary); };

        QTest::keyClicks(field, "  Acme  ");
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(stored(), (QStringList { "Quillet", "Tessra", "Acme" }));
        QCOMPARE(field->text(), QString());
        QCOMPARE(page.chipWords(), stored());

        // A duplicate still empties the field; another letter case is a new word.
        QTest::keyClicks(field, "Acme");
        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(field->text(), QString());
        QCOMPARE(stored().size(), 3);
        QTest::keyClicks(field, "acme");
        QTest::keyClick(field, Qt::Key_Return);
        QCOMPARE(stored(), (QStringList { "Quillet", "Tessra", "Acme", "acme" }));

        // Blank, with spaces of any width: "Add" stays disabled and Return keeps the spaces.
        for (const QString& blank :
            { QStringLiteral("   "), QStringLiteral("\u00a0\u00a0"), QStringLiteral("\t\u3000") }) {
            field->setText(blank);
            QVERIFY2(!add->isEnabled(), qPrintable(blank.toUtf8().toHex()));
            QTest::keyClick(field, Qt::Key_Return);
            QCOMPARE(field->text(), blank);
            QCOMPARE(stored().size(), 4);
        }
        field->clear();

        // The second chip's cross removes the word at its position, whatever the word.
        page.settings().set(SettingsKeys::customDictionary, QStringList { "one", "two", "one" });
        QCOMPARE(page.chipWords(), (QStringList { "one", "two", "one" }));
        QList<QAbstractButton*> crosses;
        for (QAbstractButton* button : page.view->vocabulary()->chips()->findChildren<QAbstractButton*>())
            if (button->isVisibleTo(page.view.get()))
                crosses.append(button);
        QCOMPARE(crosses.size(), 3);
        QTest::mouseClick(crosses[1], Qt::LeftButton);
        QCOMPARE(stored(), (QStringList { "one", "one" }));
        QTRY_COMPARE(page.chipWords(), stored());

        page.settings().set(SettingsKeys::customDictionary, QStringList {});
        QTRY_VERIFY(!page.view->vocabulary()->chips()->isVisibleTo(page.view.get()));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestSettingsPage)
#include "TestSettingsPage.moc"
