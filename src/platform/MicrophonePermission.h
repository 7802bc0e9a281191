#pragma once

#include <QObject>
#include <functional>

// Access to the microphone as the recording session asks for it. The interface exists so that
// the session and the views can be tested against a refusal and an unanswered request.
class MicrophonePermission : public QObject
{
    Q_OBJECT

public:
    enum class Status { NotDetermined, Denied, Authorized };
    Q_ENUM(Status)

    using Completion = std::function<void(bool granted)>;

    using QObject::QObject;

    virtual Status status() const = 0;

    // Asks for access. The answer always arrives later on the caller's thread, never inside
    // this call, and is dropped when `context` is gone by then.
    virtual void requestAccess(QObject* context, Completion completion) = 0;

signals:
    // The status changed without anyone asking (the desktop's state was read again).
    void statusChanged();
};
