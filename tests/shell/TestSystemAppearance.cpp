#include "support/AppChild.h"
#include "support/TestMain.h"

#include <QColor>
#include <QProcess>
#include <QRegularExpression>

// "System" appearance in the program as it runs: the application in a child process, and the
// desktop portal in another (tests/support/desktop_portal.py), both on this test's own bus. The
// window, its menu bar and the first-run guide's window take the desktop's colour scheme at the
// start and follow each switch of it while they are open; the guide's own "Dark" choice turns
// them dark at once.

namespace {

// The portal: started with a scheme, told new ones on its stdin.
class DesktopPortal
{
public:
    explicit DesktopPortal(uint scheme)
    {
        m_process.start(
            QStringLiteral(QUILLET_SYSTEM_PYTHON), { QStringLiteral(QUILLET_DESKTOP_PORTAL), QString::number(scheme) });
    }

    ~DesktopPortal()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10'000))
            m_process.kill();
        m_process.waitForFinished();
    }

    DesktopPortal(const DesktopPortal&) = delete;
    DesktopPortal& operator=(const DesktopPortal&) = delete;

    bool waitUntilReady() { return waitForOutput(QStringLiteral("ready\n")); }

    // The desktop's dark-style switch: true once the portal has announced the new scheme.
    bool switchTo(uint scheme)
    {
        m_process.write(QByteArray::number(scheme) + '\n');
        return waitForOutput(QStringLiteral("changed %1\n").arg(scheme));
    }

    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

private:
    bool waitForOutput(const QString& text)
    {
        return QTest::qWaitFor(
                   [&] {
                       m_output += QString::fromUtf8(m_process.readAllStandardOutput());
                       return m_output.contains(text) || m_process.state() == QProcess::NotRunning;
                   },
                   60'000)
            && m_output.contains(text);
    }

    QProcess m_process;
    QString m_output;
};

struct Look
{
    QColor window, menuBar, onboarding;
};

enum class Shade { dark, light };

bool hasShade(const QColor& colour, Shade shade)
{
    return colour.isValid() && (colour.lightness() < 128) == (shade == Shade::dark);
}

} // namespace

class TestSystemAppearance final : public QObject
{
    Q_OBJECT

private slots:
    void followsTheDesktopWhileOpen()
    {
        DesktopPortal portal(1);
        QVERIFY2(portal.waitUntilReady(), qPrintable(portal.errors()));
        AppChild app;
        // Without a sound server the guide's microphone and computer-audio steps wait for the
        // person instead of moving on by themselves, so that its buttons are where the test
        // expects them.
        app.environment().insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse"));
        app.start();
        QVERIFY2(app.waitForLog(QStringLiteral("[Quillet] App launched")), qPrintable(app.errors()));

        // The desktop prefers dark from the start; the first run shows its guide beside the window.
        QVERIFY2(waitForShade(app, Shade::dark), qPrintable(m_lastLook));
        for (const auto& [scheme, shade] :
            { std::pair { 2u, Shade::light }, { 1u, Shade::dark }, { 2u, Shade::light } }) {
            QVERIFY2(portal.switchTo(scheme), qPrintable(portal.errors()));
            QVERIFY2(waitForShade(app, shade), qPrintable(QStringLiteral("scheme %1: %2").arg(scheme).arg(m_lastLook)));
        }

        // The guide's own choice, made under a light desktop, applies at once to every window.
        for (const QString& label : { QStringLiteral("Get started"), QStringLiteral("Skip"), QStringLiteral("Skip"),
                 QStringLiteral("Skip"), QStringLiteral("Dark") })
            QVERIFY2(click(app, label), qPrintable(label + u'\n' + app.output()));
        QVERIFY2(waitForShade(app, Shade::dark), qPrintable(m_lastLook));
    }

private:
    // Asks the child for its colours until all three have the shade.
    bool waitForShade(AppChild& app, Shade shade)
    {
        return QTest::qWaitFor(
            [&] {
                const std::optional<Look> look = lookOf(app);
                return look && hasShade(look->window, shade) && hasShade(look->menuBar, shade)
                    && hasShade(look->onboarding, shade);
            },
            60'000);
    }

    std::optional<Look> lookOf(AppChild& app)
    {
        static const QRegularExpression line(
            QStringLiteral("appearance window=(\\S+) menubar=(\\S+) onboarding=(\\S+)\n"));
        const qsizetype seen = app.output().size();
        app.command(QStringLiteral("appearance"));
        if (!QTest::qWaitFor([&] { return app.output().indexOf(line, seen) >= 0 || !app.isRunning(); }, 60'000))
            return std::nullopt;
        const QRegularExpressionMatch match = line.match(app.output(), seen);
        if (!match.hasMatch())
            return std::nullopt;
        m_lastLook = match.captured(0).trimmed();
        return Look { QColor(match.captured(1)), QColor(match.captured(2)), QColor(match.captured(3)) };
    }

    // Clicks the button in the guide once it is shown: a step slides in before its buttons are.
    static bool click(AppChild& app, const QString& label)
    {
        const QString clicked = QStringLiteral("clicked ") + label + u'\n';
        return QTest::qWaitFor(
            [&] {
                const qsizetype seen = app.output().size();
                app.command(QStringLiteral("click ") + label);
                const QString missing = QStringLiteral("no button ") + label + u'\n';
                static_cast<void>(QTest::qWaitFor(
                    [&] {
                        const QString answer = app.output().mid(seen);
                        return answer.contains(clicked) || answer.contains(missing) || !app.isRunning();
                    },
                    60'000));
                return app.output().mid(seen).contains(clicked);
            },
            60'000);
    }

    QString m_lastLook;
};

QUILLET_TEST_MAIN(TestSystemAppearance)
#include "TestSystemAppearance.moc"
