#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <memory>

class Clock;
class Meeting;
class ModelContext;
class NotificationCenter;
class TranscriptionSession;

// Starts the recording of meetings the user marked to record by themselves, at their scheduled
// start and no later than 90 s after it, and tells the user with a notification. Each meeting
// is dealt with once: it is marked fired when its start has come, recorded or not. A running
// recording is never interrupted. Main thread.
class AutoStartScheduler final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AutoStartScheduler)

public:
    static constexpr std::chrono::milliseconds kCheckInterval { 30'000 };
    static constexpr std::chrono::seconds kFireTolerance { 90 };

    AutoStartScheduler(TranscriptionSession& session, NotificationCenter& notifications, const Clock& clock,
        std::chrono::milliseconds checkInterval = kCheckInterval, QObject* parent = nullptr);
    ~AutoStartScheduler() override;

    // Keeps the context meetings are read from and saved to. The first call starts the
    // periodic check and checks at once; later calls only replace the context.
    void start(ModelContext& context);

private:
    void tick();
    void post(const QString& title, const QString& body);

    TranscriptionSession& m_session;
    NotificationCenter& m_notifications;
    const Clock& m_clock;
    const std::chrono::milliseconds m_checkInterval;
    QPointer<ModelContext> m_context;
    std::unique_ptr<QTimer> m_timer;
};
