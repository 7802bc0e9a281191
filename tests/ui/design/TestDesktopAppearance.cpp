#include "platform/Settings.h"
#include "platform/portal/DesktopAppearance.h"
#include "support/AppRig.h"
#include "support/FakeDesktopPortal.h"
#include "support/TestMain.h"
#include "ui/design/ThemeController.h"
#include "ui/window/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStyle>
#include <QStyleFactory>
#include <optional>

// "System" appearance as the desktop's dark-style switch sets it: the window as the desktop
// portal has it at the start, and again after each switch, and light where no portal answers.

using Answers = FakeDesktopPortal::Answers;

namespace {

bool isDark(const QWidget& window)
{
    return window.palette().color(QPalette::Window) == ThemeController::darkPalette().color(QPalette::Window);
}

} // namespace

class TestDesktopAppearance final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        m_startStyle = QApplication::style()->name();
        m_startPalette = QApplication::palette();
    }

    // The controller takes the look it starts with as the desktop's own: each test starts
    // with the application's.
    void cleanup()
    {
        QApplication::setStyle(QStyleFactory::create(m_startStyle));
        QApplication::setPalette(m_startPalette);
    }

    void atTheStart_data()
    {
        QTest::addColumn<std::optional<Answers>>("portal");
        QTest::addColumn<uint>("scheme");
        QTest::addColumn<QString>("theme");
        QTest::addColumn<bool>("dark");
        QTest::newRow("prefers dark") << std::optional(Answers::readOne) << 1u << "system" << true;
        QTest::newRow("prefers dark, older portal") << std::optional(Answers::readOnly) << 1u << "system" << true;
        QTest::newRow("prefers light") << std::optional(Answers::readOne) << 2u << "system" << false;
        QTest::newRow("no preference") << std::optional(Answers::readOne) << 0u << "system" << false;
        QTest::newRow("prefers dark, Light chosen") << std::optional(Answers::readOne) << 1u << "light" << false;
        QTest::newRow("no portal") << std::optional<Answers>() << 0u << "system" << false;
        QTest::newRow("never answers") << std::optional(Answers::never) << 1u << "system" << false;
    }

    void atTheStart()
    {
        QFETCH(std::optional<Answers>, portal);
        QFETCH(uint, scheme);
        QFETCH(QString, theme);
        QFETCH(bool, dark);
        std::optional<FakeDesktopPortal> desktop;
        if (portal) {
            desktop.emplace(scheme, *portal);
            QVERIFY(desktop->joinBus());
        }
        AppRig rig;
        rig->settings().set(SettingsKeys::appTheme, theme);

        QElapsedTimer started;
        started.start();
        PortalAppearance appearance;
        // A portal that holds its name and never answers would keep a plain call waiting for
        // the bus's own limit of 25 s.
        QVERIFY2(started.elapsed() < 15'000, qPrintable(QString::number(started.elapsed())));
        ThemeController themes(rig->settings(), &appearance);
        MainWindow window(rig->windowServices());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // A busy bus may answer after the wait at the start: the answer counts when it comes.
        if (dark)
            QTRY_VERIFY(isDark(window));
        QCOMPARE(isDark(window), dark);
        if (desktop && *portal != Answers::never)
            QTRY_VERIFY(desktop->reads() > 0);
    }

    // The desktop's switch turns the open window dark and back, while "System" is chosen.
    void followsTheSwitch()
    {
        FakeDesktopPortal desktop(2);
        QVERIFY(desktop.joinBus());
        AppRig rig;
        PortalAppearance appearance;
        ThemeController themes(rig->settings(), &appearance);
        MainWindow window(rig->windowServices());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!isDark(window));

        desktop.setColorScheme(1);
        QTRY_VERIFY(isDark(window));
        desktop.setColorScheme(0);
        QTRY_VERIFY(!isDark(window));

        // A chosen theme stands whatever the desktop prefers.
        rig->settings().set(SettingsKeys::appTheme, QStringLiteral("light"));
        desktop.setColorScheme(1);
        QTRY_COMPARE(appearance.colorScheme(), DesktopAppearance::ColorScheme::dark);
        QVERIFY(!isDark(window));
        rig->settings().set(SettingsKeys::appTheme, QStringLiteral("system"));
        QTRY_VERIFY(isDark(window));
    }

private:
    QString m_startStyle;
    QPalette m_startPalette;
};

QUILLET_WIDGET_TEST_MAIN(TestDesktopAppearance)
#include "TestDesktopAppearance.moc"
