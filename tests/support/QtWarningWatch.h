#pragma once

// Qt's warnings, criticals and fatals while a watch is installed, from any thread, except those
// that contain one of the allowed parts: a test that must stay free of them (a warning about a
// deleted object, a connection to a null sender, a painter on a widget that is gone) asks
// takeUnexpected() after each step. Every message still reaches the handler that was there
// before (Qt Test's log).
//
//   QtWarningWatch watch({ QStringLiteral("propagateSizeHints") });
//   ...
//   QVERIFY2(watch.takeUnexpected().isEmpty(), ...);

#include <QMessageLogContext>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <atomic>

class QtWarningWatch final
{
public:
    explicit QtWarningWatch(QStringList allowedParts)
        : m_allowed(std::move(allowedParts))
    {
        Q_ASSERT(!s_current.load());
        s_current.store(this);
        m_previous = qInstallMessageHandler(&QtWarningWatch::handle);
    }

    ~QtWarningWatch()
    {
        qInstallMessageHandler(m_previous);
        s_current.store(nullptr);
    }

    QtWarningWatch(const QtWarningWatch&) = delete;
    QtWarningWatch& operator=(const QtWarningWatch&) = delete;

    // The messages not allowed since the last call, oldest first.
    QStringList takeUnexpected()
    {
        QMutexLocker lock(&m_mutex);
        return std::exchange(m_unexpected, {});
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        QtWarningWatch* watch = s_current.load();
        if (watch && (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg))
            watch->note(message);
        if (watch && watch->m_previous)
            watch->m_previous(type, context, message);
    }

    void note(const QString& message)
    {
        for (const QString& part : std::as_const(m_allowed)) {
            if (message.contains(part))
                return;
        }
        QMutexLocker lock(&m_mutex);
        m_unexpected.append(message);
    }

    static inline std::atomic<QtWarningWatch*> s_current = nullptr;

    const QStringList m_allowed;
    QtMessageHandler m_previous = nullptr;
    QMutex m_mutex;
    QStringList m_unexpected;
};
