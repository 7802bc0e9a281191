#include "platform/MicrophonePermission.h"

#include <QTimer>

namespace {

void answerLater(QObject* context, MicrophonePermission::Completion completion, bool granted)
{
    if (!completion)
        return;
    QTimer::singleShot(0, context, [completion = std::move(completion), granted] { completion(granted); });
}

} // namespace

void SystemMicrophonePermission::requestAccess(QObject* context, Completion completion)
{
    answerLater(context ? context : this, std::move(completion), true);
}

FakeMicrophonePermission::FakeMicrophonePermission(Status status, QObject* parent)
    : MicrophonePermission(parent)
    , m_status(status)
{ }

void FakeMicrophonePermission::requestAccess(QObject* context, Completion completion)
{
    ++m_requestCount;
    const QPointer<QObject> target = context ? context : this;
    // The status changes when the "user" answers, not when the question is put.
    QTimer::singleShot(0, this, [this, target, completion = std::move(completion)] {
        if (m_status == Status::NotDetermined)
            m_status = m_answer ? Status::Authorized : Status::Denied;
        if (target && completion)
            completion(m_status == Status::Authorized);
    });
}
