#include "platform/pulse/PulseMicrophonePermission.h"

#include "platform/Mailbox.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThreadPool>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

namespace {

// A local server answers in milliseconds; one that holds the socket but never answers counts
// as no server once this has passed.
constexpr pa_usec_t kAnswerTimeoutUsec = 5 * PA_USEC_PER_SEC;

struct Look
{
    bool timedOut = false;
    bool listed = false;
    int inputs = 0;

    static void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
    {
        static_cast<Look*>(self)->timedOut = true;
    }

    static void onSource(pa_context*, const pa_source_info* info, int endOfList, void* self)
    {
        auto* look = static_cast<Look*>(self);
        if (endOfList != 0) {
            look->listed = endOfList > 0;
            return;
        }
        if (info && info->monitor_of_sink == PA_INVALID_INDEX && hasUsablePort(*info))
            ++look->inputs;
    }

    // A jack with nothing plugged in is a source whose every port is unavailable.
    static bool hasUsablePort(const pa_source_info& info)
    {
        if (info.n_ports == 0)
            return true;
        for (quint32 i = 0; i < info.n_ports; ++i)
            if (info.ports[i]->available != PA_PORT_AVAILABLE_NO)
                return true;
        return false;
    }
};

} // namespace

PulseMicrophonePermission::PulseMicrophonePermission(QByteArray server, QObject* parent)
    : MicrophonePermission(parent)
    , m_server(std::move(server))
    , m_mailbox(std::make_shared<Mailbox>(this))
{
    // The user may have plugged in a microphone or started the sound server meanwhile.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                refresh();
        });
    refresh();
}

PulseMicrophonePermission::~PulseMicrophonePermission()
{
    m_mailbox->close();
}

MicrophonePermission::Status PulseMicrophonePermission::status() const
{
    if (m_status == Status::Denied)
        lookAgain();
    return m_status;
}

void PulseMicrophonePermission::requestAccess(QObject* context, Completion completion)
{
    Request request { QPointer<QObject>(context ? context : this), std::move(completion) };
    if (m_probing) {
        m_waitingForNext.append(std::move(request));
        return;
    }
    m_waiting.append(std::move(request));
    lookAgain();
}

void PulseMicrophonePermission::refresh()
{
    lookAgain();
}

void PulseMicrophonePermission::lookAgain() const
{
    if (m_probing)
        return;
    m_probing = true;
    // The pool outlives this object; the mailbox drops the answer once it is gone.
    QThreadPool::globalInstance()->start([server = m_server, mailbox = m_mailbox, self = this] {
        const Finding finding = probe(server);
        mailbox->post([self, finding] { const_cast<PulseMicrophonePermission*>(self)->probed(finding); });
    });
}

void PulseMicrophonePermission::probed(Finding finding)
{
    m_probing = false;
    const Status status = finding == Finding::Input ? Status::Authorized : Status::Denied;
    const bool changed = status != m_status;
    m_status = status;
    // Answers go out before the change is announced, so a requester sees its own answer first.
    const auto waiting = std::exchange(m_waiting, {});
    for (const auto& [context, completion] : waiting)
        if (context && completion)
            completion(status == Status::Authorized);
    if (changed)
        emit statusChanged();
    if (!m_waitingForNext.isEmpty() && !m_probing) {
        m_waiting = std::exchange(m_waitingForNext, {});
        lookAgain();
    }
}

PulseMicrophonePermission::Finding PulseMicrophonePermission::probe(const QByteArray& server)
{
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return Finding::NoServer;
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Quillet");
    if (!context) {
        pa_mainloop_free(loop);
        return Finding::NoServer;
    }
    Look look;
    pa_time_event* timeout
        = pa_context_rttime_new(context, pa_rtclock_now() + kAnswerTimeoutUsec, &Look::onTimeout, &look);
    const auto runUntil = [&](auto done) {
        while (!done())
            if (look.timedOut || pa_mainloop_iterate(loop, 1, nullptr) < 0)
                return false;
        return true;
    };

    Finding finding = Finding::NoServer;
    if (pa_context_connect(context, server.isEmpty() ? nullptr : server.constData(), PA_CONTEXT_NOAUTOSPAWN, nullptr)
        >= 0) {
        const bool settled = runUntil([&] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (settled && pa_context_get_state(context) == PA_CONTEXT_READY) {
            if (pa_operation* listing = pa_context_get_source_info_list(context, &Look::onSource, &look)) {
                runUntil([&] { return pa_operation_get_state(listing) != PA_OPERATION_RUNNING; });
                pa_operation_unref(listing);
            }
            if (look.listed)
                finding = look.inputs > 0 ? Finding::Input : Finding::NoInput;
        }
        pa_context_disconnect(context);
    }
    if (timeout)
        pa_mainloop_get_api(loop)->time_free(timeout);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return finding;
}
