#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>
#include <span>

// One record stream from the sound server (PulseAudio, or PipeWire through pipewire-pulse),
// delivered as 24 kHz mono Float32 on a thread of its own. The server does the down-mix and
// the resampling, so every consumer sees the same format whatever the device runs at.
class PulseCapture final
{
public:
    static constexpr int kSampleRate = 24000;
    // The server's default fragments can be seconds long, which would wreck utterance timing.
    static constexpr int kFragmentMs = 85;

    // Which source to record.
    struct Source
    {
        enum class Kind { DefaultInput, DefaultOutputMonitor, Named };
        Kind kind = Kind::DefaultInput;
        QString name; // for Named

        static Source defaultInput() { return { Kind::DefaultInput, {} }; }
        // The monitor of the default sink, resolved by name at each start ("@DEFAULT_MONITOR@"
        // is not reliable under PipeWire).
        static Source defaultOutputMonitor() { return { Kind::DefaultOutputMonitor, {} }; }
        static Source named(const QString& sourceName) { return { Kind::Named, sourceName }; }
    };

    struct Error
    {
        enum class Kind {
            ServerUnavailable, // no connection to the sound server
            NoDevice, // the server names no default source / sink
            SourceUnavailable, // the source does not exist or the stream failed
            BadSourceFormat, // the source reports a rate or channel count of 0
        };
        Kind kind;
        int status = 0; // the server's error number (PA_ERR_*), 0 where there is none
        QString message; // the server's own text
    };

    // The source's own format, before the server converts it.
    struct NativeFormat
    {
        quint32 sampleRate = 0;
        int channels = 0;
    };

    // Called on the capture thread with each fragment, in order. A gap the server reports is
    // delivered as zeros so that the stream's clock keeps counting.
    using SamplesHandler = std::function<void(std::span<const float> samples)>;

    explicit PulseCapture(const QString& streamName);
    ~PulseCapture();
    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    // Connects and starts recording; blocks the caller only for the handshake (bounded by
    // a timeout). On failure nothing stays allocated. Any earlier capture is stopped first.
    std::optional<Error> start(const Source& source, SamplesHandler handler);

    // Returns only when the handler can no longer run. Never call it from the handler.
    void stop();

    bool isRunning() const;
    // Valid after a successful start().
    NativeFormat nativeFormat() const;
    QString sourceName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
