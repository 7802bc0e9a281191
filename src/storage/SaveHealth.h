#pragma once

#include <QObject>
#include <QString>
#include <chrono>

class ModelContext;
class Scheduler;

// Whether the store's changes reach its file. A failed save is published at once, for the
// window to say; the changes stay pending in the model context, and a save is tried again just
// after the next change and every kRetryInterval, until one goes through and clears the
// problem. So nothing typed is lost while space runs out, as long as Quillet runs.
// Main thread only.
class SaveHealth final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SaveHealth)
    Q_PROPERTY(Problem problem READ problem NOTIFY problemChanged)

public:
    enum class Problem { none, diskFull, writeFailed };
    Q_ENUM(Problem)

    static constexpr std::chrono::milliseconds kRetryInterval { 15000 };

    SaveHealth(ModelContext& store, Scheduler& scheduler, QObject* parent = nullptr);

    Problem problem() const { return m_problem; }

signals:
    void problemChanged();

private:
    void saveFailed(const QString& reason);
    void changedWhileFailing();
    void scheduleTimedRetry();
    void retry();
    void setProblem(Problem problem);

    ModelContext& m_store;
    Scheduler& m_scheduler;
    Problem m_problem = Problem::none;
    bool m_retryQueued = false;
    bool m_timedRetryQueued = false;
};
