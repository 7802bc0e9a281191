#include "platform/PulseCapture.h"

#include "platform/Log.h"

#include <cstdint>
#include <cstring>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>
#include <vector>

namespace {

// A local server answers in milliseconds; one that holds the socket but never answers must
// not freeze the caller forever.
constexpr pa_usec_t kHandshakeTimeoutUsec = 5 * PA_USEC_PER_SEC;

QString serverText(int status)
{
    return QString::fromUtf8(pa_strerror(status));
}

} // namespace

struct PulseCapture::Impl
{
    QString streamName;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* timeout = nullptr;
    bool timedOut = false;
    bool running = false;
    SamplesHandler handler;
    NativeFormat native;
    QString source;

    // Lookup results, written by the loop thread while the caller waits on the loop's lock.
    QString defaultSourceName;
    QString defaultSinkName;
    bool sourceFound = false;

    // Only touched on the loop thread while capturing.
    std::vector<float> scratch;
    std::vector<char> partialFrame;

    static void onContextState(pa_context*, void* self)
    {
        pa_threaded_mainloop_signal(static_cast<Impl*>(self)->loop, 0);
    }

    static void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        d->timedOut = true;
        pa_threaded_mainloop_signal(d->loop, 0);
    }

    static void onServerInfo(pa_context*, const pa_server_info* info, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (info) {
            d->defaultSourceName = QString::fromUtf8(info->default_source_name ? info->default_source_name : "");
            d->defaultSinkName = QString::fromUtf8(info->default_sink_name ? info->default_sink_name : "");
        }
        pa_threaded_mainloop_signal(d->loop, 0);
    }

    static void onSourceInfo(pa_context*, const pa_source_info* info, int endOfList, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (endOfList == 0 && info) {
            d->sourceFound = true;
            d->native.sampleRate = info->sample_spec.rate;
            d->native.channels = info->sample_spec.channels;
        }
        pa_threaded_mainloop_signal(d->loop, 0);
    }

    static void onStreamState(pa_stream* s, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (d->running && pa_stream_get_state(s) == PA_STREAM_FAILED) {
            const int status = pa_context_errno(d->context);
            Log::line("[Quillet] Capture stream %@ ended: %@ (status %d)", d->streamName, serverText(status), status);
        }
        pa_threaded_mainloop_signal(d->loop, 0);
    }

    static void onReadable(pa_stream* s, size_t, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        while (pa_stream_readable_size(s) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
                return;
            if (data)
                d->deliver(static_cast<const char*>(data), bytes);
            else
                d->deliverGap(bytes);
            pa_stream_drop(s);
        }
    }

    void deliver(const char* data, size_t bytes)
    {
        const bool aligned = reinterpret_cast<std::uintptr_t>(data) % alignof(float) == 0;
        if (partialFrame.empty() && aligned && bytes % sizeof(float) == 0) {
            handler(std::span<const float>(reinterpret_cast<const float*>(data), bytes / sizeof(float)));
            return;
        }
        partialFrame.insert(partialFrame.end(), data, data + bytes);
        const size_t whole = partialFrame.size() / sizeof(float);
        if (whole == 0)
            return;
        scratch.resize(whole);
        std::memcpy(scratch.data(), partialFrame.data(), whole * sizeof(float));
        partialFrame.erase(partialFrame.begin(), partialFrame.begin() + std::ptrdiff_t(whole * sizeof(float)));
        handler(scratch);
    }

    void deliverGap(size_t bytes)
    {
        partialFrame.clear();
        scratch.assign(bytes / sizeof(float), 0.0f);
        if (!scratch.empty())
            handler(scratch);
    }

    // Waits (the loop's lock held) until the operation ends or the handshake times out.
    bool await(pa_operation* operation)
    {
        if (!operation)
            return false;
        while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && !timedOut)
            pa_threaded_mainloop_wait(loop);
        const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
        pa_operation_unref(operation);
        return done;
    }

    int failureStatus() const
    {
        if (timedOut)
            return PA_ERR_TIMEOUT;
        const int status = context ? pa_context_errno(context) : PA_ERR_INTERNAL;
        return status != 0 ? status : PA_ERR_UNKNOWN;
    }

    Error failure(Error::Kind kind, int status) const { return Error { kind, status, serverText(status) }; }

    // Runs with the loop's lock held.
    std::optional<Error> connect(const Source& wanted)
    {
        timeout = pa_context_rttime_new(context, pa_rtclock_now() + kHandshakeTimeoutUsec, &Impl::onTimeout, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return failure(Error::Kind::ServerUnavailable, failureStatus());
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY)
                break;
            if (!PA_CONTEXT_IS_GOOD(state) || timedOut)
                return failure(Error::Kind::ServerUnavailable, failureStatus());
            pa_threaded_mainloop_wait(loop);
        }

        source = wanted.name;
        if (wanted.kind != Source::Kind::Named) {
            if (!await(pa_context_get_server_info(context, &Impl::onServerInfo, this)))
                return failure(Error::Kind::ServerUnavailable, failureStatus());
            if (wanted.kind == Source::Kind::DefaultInput)
                source = defaultSourceName;
            else if (!defaultSinkName.isEmpty())
                source = defaultSinkName + QStringLiteral(".monitor");
            if (source.isEmpty())
                return Error { Error::Kind::NoDevice, 0, QStringLiteral("No default device") };
        }

        const QByteArray sourceUtf8 = source.toUtf8();
        const bool listed
            = await(pa_context_get_source_info_by_name(context, sourceUtf8.constData(), &Impl::onSourceInfo, this));
        if (timedOut)
            return failure(Error::Kind::ServerUnavailable, PA_ERR_TIMEOUT);
        if (!listed || !sourceFound)
            return failure(Error::Kind::SourceUnavailable, failureStatus());
        if (native.sampleRate == 0 || native.channels == 0)
            return Error { Error::Kind::BadSourceFormat, 0, QStringLiteral("Invalid source format") };

        const pa_sample_spec spec { PA_SAMPLE_FLOAT32NE, quint32(kSampleRate), 1 };
        stream = pa_stream_new(context, streamName.toUtf8().constData(), &spec, nullptr);
        if (!stream)
            return failure(Error::Kind::SourceUnavailable, failureStatus());
        pa_stream_set_state_callback(stream, &Impl::onStreamState, this);
        pa_stream_set_read_callback(stream, &Impl::onReadable, this);
        pa_buffer_attr attributes;
        attributes.maxlength = quint32(-1);
        attributes.tlength = quint32(-1);
        attributes.prebuf = quint32(-1);
        attributes.minreq = quint32(-1);
        attributes.fragsize = quint32(pa_usec_to_bytes(pa_usec_t(kFragmentMs) * PA_USEC_PER_MSEC, &spec));
        if (pa_stream_connect_record(stream, sourceUtf8.constData(), &attributes, PA_STREAM_ADJUST_LATENCY) < 0)
            return failure(Error::Kind::SourceUnavailable, failureStatus());
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            if (state == PA_STREAM_READY)
                break;
            if (!PA_STREAM_IS_GOOD(state) || timedOut)
                return failure(Error::Kind::SourceUnavailable, failureStatus());
            pa_threaded_mainloop_wait(loop);
        }
        pa_threaded_mainloop_get_api(loop)->time_free(timeout);
        timeout = nullptr;
        return std::nullopt;
    }

    void release()
    {
        if (!loop)
            return;
        pa_threaded_mainloop_lock(loop);
        running = false;
        if (timeout) {
            pa_threaded_mainloop_get_api(loop)->time_free(timeout);
            timeout = nullptr;
        }
        if (stream) {
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        pa_threaded_mainloop_unlock(loop);
        // Joins the loop thread: after this no callback of ours can run.
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
        handler = nullptr;
        scratch = {};
        partialFrame = {};
    }
};

PulseCapture::PulseCapture(const QString& streamName)
    : d(std::make_unique<Impl>())
{
    d->streamName = streamName;
}

PulseCapture::~PulseCapture()
{
    stop();
}

std::optional<PulseCapture::Error> PulseCapture::start(const Source& source, SamplesHandler handler)
{
    stop();
    d->timedOut = false;
    d->sourceFound = false;
    d->native = {};
    d->source.clear();
    d->defaultSinkName.clear();
    d->defaultSourceName.clear();
    d->handler = std::move(handler);

    std::optional<Error> error;
    d->loop = pa_threaded_mainloop_new();
    if (!d->loop)
        error = d->failure(Error::Kind::ServerUnavailable, PA_ERR_INTERNAL);
    if (!error) {
        pa_threaded_mainloop_set_name(d->loop, "quillet-capture");
        pa_threaded_mainloop_lock(d->loop);
        d->context = pa_context_new(pa_threaded_mainloop_get_api(d->loop), "Quillet");
        if (!d->context) {
            error = d->failure(Error::Kind::ServerUnavailable, PA_ERR_INTERNAL);
        } else {
            pa_context_set_state_callback(d->context, &Impl::onContextState, d.get());
            if (pa_threaded_mainloop_start(d->loop) < 0)
                error = d->failure(Error::Kind::ServerUnavailable, PA_ERR_INTERNAL);
            else
                error = d->connect(source);
        }
        d->running = !error;
        pa_threaded_mainloop_unlock(d->loop);
    }
    if (error) {
        Log::line(
            "[Quillet] Sound server refused %@ capture: %@ (status %d)", d->streamName, error->message, error->status);
        d->release();
    }
    return error;
}

void PulseCapture::stop()
{
    d->release();
}

bool PulseCapture::isRunning() const
{
    return d->loop != nullptr && d->running;
}

PulseCapture::NativeFormat PulseCapture::nativeFormat() const
{
    return d->native;
}

QString PulseCapture::sourceName() const
{
    return d->source;
}
