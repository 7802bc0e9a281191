#pragma once

// An X server of the test's own (Xvfb), on the first free display, for a child that must run
// on X11 rather than offscreen; kill() takes it away under its clients, as a logout does.
//
//   VirtualDisplay display;
//   QVERIFY2(display.isRunning(), qPrintable(display.errors()));
//   environment.insert("DISPLAY", display.name());

#include <QProcess>
#include <QTest>

class VirtualDisplay final
{
public:
    VirtualDisplay()
    {
        // -displayfd: the server picks a free display and writes its number there once it
        // accepts clients.
        m_server.start(QStringLiteral("Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x800x24") });
        QByteArray number;
        static_cast<void>(QTest::qWaitFor(
            [&] {
                number += m_server.readAllStandardOutput();
                return number.contains('\n') || m_server.state() == QProcess::NotRunning;
            },
            60000));
        if (number.contains('\n'))
            m_name = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    }

    ~VirtualDisplay() { kill(); }

    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool isRunning() const { return !m_name.isEmpty() && m_server.state() == QProcess::Running; }
    // ":N", for DISPLAY.
    QString name() const { return m_name; }
    QString errors() { return QString::fromLocal8Bit(m_server.readAllStandardError()); }

    void kill()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.kill();
        m_server.waitForFinished();
    }

private:
    QProcess m_server;
    QString m_name;
};
