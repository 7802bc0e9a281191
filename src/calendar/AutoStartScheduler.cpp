#include "calendar/AutoStartScheduler.h"

#include "platform/Clock.h"
#include "storage/Meeting.h"
#include "storage/ModelContext.h"
#include "system/LocalNotifier.h"

#include <QUuid>

namespace {

const QString kCouldNotStart = QStringLiteral("Couldn't auto-start recording");

QString quoted(const QString& title)
{
    return QStringLiteral("\u201C") + title + QStringLiteral("\u201D");
}

} // namespace

AutoStartScheduler::AutoStartScheduler(Recorder recorder, NotificationCenter& notifications, const Clock& clock,
    std::chrono::milliseconds checkInterval, QObject* parent)
    : QObject(parent)
    , m_recorder(std::move(recorder))
    , m_notifications(notifications)
    , m_clock(clock)
    , m_checkInterval(checkInterval)
{ }

AutoStartScheduler::~AutoStartScheduler() = default;

void AutoStartScheduler::start(ModelContext& context)
{
    m_context = &context;
    if (m_timer)
        return;
    m_timer = std::make_unique<QTimer>();
    m_timer->setInterval(m_checkInterval);
    connect(m_timer.get(), &QTimer::timeout, this, &AutoStartScheduler::tick);
    m_timer->start();
    tick();
}

void AutoStartScheduler::tick()
{
    if (!m_context)
        return;
    ModelContext& context = *m_context;
    const QDateTime now = m_clock.now();
    // By scheduled start, so that of two meetings due at once the earlier one records,
    // whatever the store's order.
    const QList<Meeting*> candidates = context.fetchMeetings(
        { [](const Meeting& m) { return m.autoStartEnabled() && !m.autoStartFired() && m.scheduledStart(); },
            MeetingSort::ScheduledStartAscending });
    if (candidates.isEmpty())
        return;
    for (Meeting* meeting : candidates) {
        const QDateTime start = *meeting->scheduledStart();
        if (start > now)
            continue;
        meeting->setAutoStartFired(true);
        if (start.msecsTo(now) > std::chrono::milliseconds(kFireTolerance).count())
            continue;
        if (const std::optional<const Meeting*> recording = m_recorder.recording()) {
            // Started a little early by the user: this very meeting is already recording.
            if (*recording == meeting)
                continue;
            post(kCouldNotStart,
                QStringLiteral("Another recording was already running when ") + quoted(meeting->title())
                    + QStringLiteral(" was scheduled to start."));
            continue;
        }
        if (const std::optional<QString> refused = m_recorder.start(context, *meeting)) {
            post(kCouldNotStart, refused->isEmpty() ? QStringLiteral("Open Quillet to see what's missing.") : *refused);
            continue;
        }
        post(QStringLiteral("Recording started"),
            QStringLiteral("Recording started for ") + quoted(meeting->title()) + QStringLiteral("."));
    }
    context.save();
}

void AutoStartScheduler::post(const QString& title, const QString& body)
{
    LocalNotifier::post(m_notifications, title, body, QUuid::createUuid().toString(QUuid::WithoutBraces));
}
