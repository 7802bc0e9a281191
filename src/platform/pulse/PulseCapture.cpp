#include "platform/pulse/PulseCapture.h"

#include "platform/Log.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/timeval.h>
#include <thread>
#include <vector>

namespace {

// A local server answers in milliseconds; one that holds the socket but never answers must
// not freeze the caller forever.
constexpr pa_usec_t kHandshakeTimeoutUsec = 5 * PA_USEC_PER_SEC;

// Servers send record data in whatever packets their source produces: a monitor follows the
// rhythm of the players writing into its sink, often a few milliseconds at a time. Waking
// for each packet costs more than the capture itself, so the capture thread sleeps for one
// fragment and then takes everything that has arrived in one go.
constexpr auto kDrainInterval = std::chrono::milliseconds(PulseCapture::kFragmentMs);

// A drain never spins forever on an event source that keeps firing.
constexpr int kMaxIterationsPerDrain = 10000;

QString serverText(int status)
{
    return QString::fromUtf8(pa_strerror(status));
}

} // namespace

struct PulseCapture::Impl
{
    QString streamName;
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* timeout = nullptr;
    bool timedOut = false;
    bool running = false;
    SamplesHandler handler;
    NativeFormat native;
    QString source;

    // The loop belongs to the caller's thread during start() and stop(), and to the capture
    // thread in between (handed over by starting and joining the thread).
    std::thread thread;
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool stopRequested = false;

    // Lookup results of the handshake.
    QString defaultSourceName;
    QString defaultSinkName;
    bool sourceFound = false;

    // Samples received since the last delivery (bytes, as the server sent them).
    std::vector<char> pending;
    std::vector<float> scratch;

    static void onTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
    {
        static_cast<Impl*>(self)->timedOut = true;
    }

    static void onServerInfo(pa_context*, const pa_server_info* info, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (info) {
            d->defaultSourceName = QString::fromUtf8(info->default_source_name ? info->default_source_name : "");
            d->defaultSinkName = QString::fromUtf8(info->default_sink_name ? info->default_sink_name : "");
        }
    }

    static void onSourceInfo(pa_context*, const pa_source_info* info, int endOfList, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (endOfList == 0 && info) {
            d->sourceFound = true;
            d->native.sampleRate = info->sample_spec.rate;
            d->native.channels = info->sample_spec.channels;
        }
    }

    static void onStreamState(pa_stream* s, void* self)
    {
        auto* d = static_cast<Impl*>(self);
        if (d->running && pa_stream_get_state(s) == PA_STREAM_FAILED) {
            const int status = pa_context_errno(d->context);
            Log::line("[Quillet] Capture stream %@ ended: %@ (status %d)", d->streamName, serverText(status), status);
        }
    }

    // Takes everything the stream holds. Called once per drain rather than from a read
    // callback per packet: every stream call costs a system call for libpulse's fork check,
    // and the callback pattern needs two more calls per packet than peeking until empty.
    void takeReadable()
    {
        for (;;) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return;
            if (data) {
                const char* begin = static_cast<const char*>(data);
                pending.insert(pending.end(), begin, begin + bytes);
            } else {
                // A gap: zeros keep the stream's clock counting.
                pending.insert(pending.end(), bytes, char(0));
            }
            pa_stream_drop(stream);
        }
    }

    void deliverPending()
    {
        const size_t whole = pending.size() / sizeof(float);
        if (whole == 0 || !handler)
            return;
        scratch.resize(whole);
        std::memcpy(scratch.data(), pending.data(), whole * sizeof(float));
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(whole * sizeof(float)));
        handler(scratch);
    }

    // Dispatches everything that is ready without waiting, then hands it on as one buffer.
    void drain()
    {
        for (int i = 0; i < kMaxIterationsPerDrain; ++i) {
            if (pa_mainloop_iterate(loop, 0, nullptr) <= 0)
                break;
        }
        takeReadable();
        deliverPending();
    }

    void runCapture()
    {
        pthread_setname_np(pthread_self(), "quillet-capture");
        std::unique_lock lock(wakeMutex);
        while (!stopRequested) {
            lock.unlock();
            drain();
            lock.lock();
            wake.wait_for(lock, kDrainInterval, [this] { return stopRequested; });
        }
        lock.unlock();
        // What arrived since the last drain still belongs to the recording.
        drain();
    }

    // Runs the loop until `done`; false when the handshake times out or the loop fails.
    template <typename Done> bool iterateUntil(Done done)
    {
        while (!done()) {
            if (timedOut || pa_mainloop_iterate(loop, 1, nullptr) < 0)
                return false;
        }
        return true;
    }

    bool await(pa_operation* operation)
    {
        if (!operation)
            return false;
        iterateUntil([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
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

    // The handshake, on the caller's thread.
    std::optional<Error> connect(const Source& wanted)
    {
        loop = pa_mainloop_new();
        if (!loop)
            return failure(Error::Kind::ServerUnavailable, PA_ERR_INTERNAL);
        context = pa_context_new(pa_mainloop_get_api(loop), "Quillet");
        if (!context)
            return failure(Error::Kind::ServerUnavailable, PA_ERR_INTERNAL);
        timeout = pa_context_rttime_new(context, pa_rtclock_now() + kHandshakeTimeoutUsec, &Impl::onTimeout, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return failure(Error::Kind::ServerUnavailable, failureStatus());
        const bool settled = iterateUntil([&] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (!settled || pa_context_get_state(context) != PA_CONTEXT_READY)
            return failure(Error::Kind::ServerUnavailable, failureStatus());

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
        pa_buffer_attr attributes;
        attributes.maxlength = quint32(-1);
        attributes.tlength = quint32(-1);
        attributes.prebuf = quint32(-1);
        attributes.minreq = quint32(-1);
        // Without it the server may configure the source for seconds of latency.
        attributes.fragsize = quint32(pa_usec_to_bytes(pa_usec_t(kFragmentMs) * PA_USEC_PER_MSEC, &spec));
        pending.reserve(attributes.fragsize * 2);
        if (pa_stream_connect_record(stream, sourceUtf8.constData(), &attributes, PA_STREAM_ADJUST_LATENCY) < 0)
            return failure(Error::Kind::SourceUnavailable, failureStatus());
        const bool ready = iterateUntil([&] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        });
        if (!ready || pa_stream_get_state(stream) != PA_STREAM_READY)
            return failure(Error::Kind::SourceUnavailable, failureStatus());
        pa_mainloop_get_api(loop)->time_free(timeout);
        timeout = nullptr;
        return std::nullopt;
    }

    void release()
    {
        if (thread.joinable()) {
            {
                std::lock_guard lock(wakeMutex);
                stopRequested = true;
            }
            wake.notify_all();
            // After the join no callback of ours can run.
            thread.join();
        }
        running = false;
        if (loop && timeout) {
            pa_mainloop_get_api(loop)->time_free(timeout);
            timeout = nullptr;
        }
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        if (loop) {
            pa_mainloop_free(loop);
            loop = nullptr;
        }
        stopRequested = false;
        handler = nullptr;
        scratch = {};
        pending = {};
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

    const std::optional<Error> error = d->connect(source);
    if (error) {
        Log::line(
            "[Quillet] Sound server refused %@ capture: %@ (status %d)", d->streamName, error->message, error->status);
        d->release();
        return error;
    }
    d->handler = std::move(handler);
    d->running = true;
    d->thread = std::thread([impl = d.get()] { impl->runCapture(); });
    return std::nullopt;
}

void PulseCapture::stop()
{
    d->release();
}

bool PulseCapture::isRunning() const
{
    return d->running;
}

PulseCapture::NativeFormat PulseCapture::nativeFormat() const
{
    return d->native;
}

QString PulseCapture::sourceName() const
{
    return d->source;
}
