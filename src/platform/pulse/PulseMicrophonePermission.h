#pragma once

#include "platform/MicrophonePermission.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <memory>

class Mailbox;

// This desktop has no per-application microphone switch: what stands between Quillet and the
// microphone is the sound server and its devices. So access counts as granted while the
// server answers and offers at least one input that is not the monitor of an output, and as
// denied otherwise. NotDetermined means only that the first answer has not come yet.
//
// The server is asked on a worker thread (a server that holds its socket but never answers
// would otherwise freeze the window); the state is read again when Quillet becomes active,
// when access is requested, and whenever a denied state is read, so that a microphone plugged
// in meanwhile is found. Main thread only.
class PulseMicrophonePermission final : public MicrophonePermission
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PulseMicrophonePermission)

public:
    // What one look at the server found.
    enum class Finding { NoServer, NoInput, Input };

    // server: the sound server's address as libpulse takes it ("unix:/path"); empty for the
    // desktop's own.
    explicit PulseMicrophonePermission(QByteArray server = {}, QObject* parent = nullptr);
    ~PulseMicrophonePermission() override;

    Status status() const override;
    void requestAccess(QObject* context, Completion completion) override;

    // Looks at the server again; statusChanged() follows when the answer differs.
    void refresh();

    // One look at the server, blocking for at most a few seconds; any thread.
    static Finding probe(const QByteArray& server);

private:
    // A cached answer: reading a denied one starts another look, hence const.
    void lookAgain() const;
    void probed(Finding finding);

    const QByteArray m_server;
    Status m_status = Status::NotDetermined;
    mutable bool m_probing = false;
    using Request = std::pair<QPointer<QObject>, Completion>;
    // Answered by the look under way, and by the next one: a request made during a look may
    // follow a change that look started too early to see.
    QList<Request> m_waiting;
    QList<Request> m_waitingForNext;
    std::shared_ptr<Mailbox> m_mailbox;
};
