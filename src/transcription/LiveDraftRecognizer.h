#pragma once

#include "platform/Clock.h"
#include "platform/SpeechRecognizer.h"

#include <QLocale>
#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <span>

class Settings;

// A rough on-device draft of the phrase being spoken on one stream, shown while the cloud
// transcription of the utterance is still on its way. The draft is display-only.
//
// feed() may be called on a capture thread: it only queues the samples. Resampling and
// decoding run on a thread of the recogniser's own, because one 100 ms chunk can take longer
// than 100 ms to decode. Drafts reach the main thread through draftChanged(), only when the
// text differs from the previous one. A phrase is restarted after 50 s of feeding.
class LiveDraftRecognizer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveDraftRecognizer)

public:
    // Makes the recogniser that decodes one phrase after another; called on the decoding
    // thread, at the first phrase.
    using RecognizerFactory = std::function<std::unique_ptr<SpeechRecognizer>()>;

    // The installed recogniser, for the user's locale.
    explicit LiveDraftRecognizer(double sampleRate, QObject* parent = nullptr);
    LiveDraftRecognizer(double sampleRate, const QLocale& locale, RecognizerFactory factory, const Clock& clock,
        QObject* parent = nullptr);
    ~LiveDraftRecognizer() override;

    // The "liveDraftEnabled" setting; absent or not a boolean counts as off.
    static bool isEnabled(const Settings& settings);
    // True when the installed recogniser may be used (its model files are present).
    static bool authorize();
    // True when a recogniser exists for the user's locale and can run.
    static bool isAvailable();

    // Number of decoding threads still alive (they end on their own after the recogniser is
    // destroyed, once the decoder is released).
    static int decodingThreadCount();

    void setPhraseLimit(std::chrono::milliseconds limit);

    // Any thread. Mono samples at the rate given to the constructor.
    void feed(std::span<const float> samples);

    // Main thread.
    void start();
    void stop();
    bool isRunning() const;

signals:
    // The best guess of the current phrase; the empty text clears the draft.
    void draftChanged(const QString& text);

private:
    struct Decoder;
    void beginPhraseLocked();
    void endPhraseLocked();
    void deliver(quint64 phrase, const QString& text);

    const Clock& m_clock;
    const bool m_hasRecognizer;
    std::shared_ptr<Decoder> m_decoder;
    // Guards the fields below: feed() runs on a capture thread, start() and stop() on the
    // main thread.
    mutable std::mutex m_mutex;
    bool m_running = false;
    bool m_hasPhrase = false;
    quint64 m_phrase = 0;
    QDateTime m_phraseStarted;
    std::chrono::milliseconds m_phraseLimit { 50'000 };
};
