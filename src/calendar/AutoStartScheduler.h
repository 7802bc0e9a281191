#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class Clock;
class Meeting;
class ModelContext;
class NotificationCenter;

// Starts the recording of meetings the user marked to record by themselves, at their scheduled
// start and no later than 90 s after it, and tells the user with a notification. Each meeting
// is dealt with once: it is marked fired when its start has come, recorded or not. A running
// recording is never interrupted. Main thread.
class AutoStartScheduler final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AutoStartScheduler)

public:
    // What the automatic start asks of the recording, which lives above the calendar.
    struct Recorder
    {
        // The meeting being recorded; none while nothing records (null: a recording whose
        // meeting is gone).
        std::function<std::optional<const Meeting*>()> recording;
        // Starts recording into the meeting; the user's text of the refusal when it does not.
        std::function<std::optional<QString>(ModelContext&, Meeting&)> start;
    };

    static constexpr std::chrono::milliseconds kCheckInterval { 30'000 };
    static constexpr std::chrono::seconds kFireTolerance { 90 };

    AutoStartScheduler(Recorder recorder, NotificationCenter& notifications, const Clock& clock,
        std::chrono::milliseconds checkInterval = kCheckInterval, QObject* parent = nullptr);
    ~AutoStartScheduler() override;

    // Keeps the context meetings are read from and saved to. The first call starts the
    // periodic check and checks at once; later calls only replace the context.
    void start(ModelContext& context);

private:
    void tick();
    void post(const QString& title, const QString& body);

    Recorder m_recorder;
    NotificationCenter& m_notifications;
    const Clock& m_clock;
    const std::chrono::milliseconds m_checkInterval;
    QPointer<ModelContext> m_context;
    std::unique_ptr<QTimer> m_timer;
};
