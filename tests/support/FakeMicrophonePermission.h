#pragma once

#include "platform/MicrophonePermission.h"

#include <QPointer>
#include <QTimer>
#include <utility>

// Answers with whatever status it was given; a request resolves a NotDetermined status into
// the configured answer, as the user's choice would.
class FakeMicrophonePermission final : public MicrophonePermission
{
public:
    explicit FakeMicrophonePermission(Status status, QObject* parent = nullptr)
        : MicrophonePermission(parent)
        , m_status(status)
    { }

    Status status() const override { return m_status; }

    void requestAccess(QObject* context, Completion completion) override
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

    // The desktop's state as the next read finds it, unannounced (as before a look at it).
    void setStatus(Status status) { m_status = status; }
    // A look at the desktop that found it changed, announced as the real one does.
    void findStatus(Status status)
    {
        if (std::exchange(m_status, status) != status)
            emit statusChanged();
    }
    // What the "user" answers when a request finds the status NotDetermined.
    void setAnswer(bool granted) { m_answer = granted; }
    int requestCount() const { return m_requestCount; }

private:
    Status m_status;
    bool m_answer = true;
    int m_requestCount = 0;
};
