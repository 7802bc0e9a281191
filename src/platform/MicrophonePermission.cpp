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
