#pragma once

#include "platform/Clock.h"
#include "platform/SpeechRecognizer.h"

#include <QLocale>
#include <QObject>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

class Settings;

// A rough on-device draft of the phrase being spoken on one stream, shown while the cloud
// transcription of the utterance is still on its way. The draft is display-only.
//
// Only speech is decoded. The stream is judged in 100 ms windows by the same loudness rule as
// the utterances sent for transcription: a phrase begins at a loud window (with the 300 ms
// before it, so that the first sound is not cut) and ends after as much silence as ends an
// utterance. The draft of a finished phrase stays until the transcript replaces it.
//
// Recognisers made to take turns (one per side of a call) decode one phrase at a time: the
// side that speaks first holds the turn until its phrase ends; the other side's speech in
// the meantime is left to the transcript. There is one draft line to show, and decoding both
// sides at once would cost twice as much for text that replaces itself.
//
// feed() may be called on a capture thread: it only judges and queues the samples. Resampling
// and decoding run on a thread of the recogniser's own, because one 100 ms chunk can take
// longer than 100 ms to decode. Drafts reach the main thread through draftChanged(), only when
// the text differs from the previous one. A phrase is restarted after 50 s of feeding.
class LiveDraftRecognizer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LiveDraftRecognizer)

public:
    // Makes the recogniser that decodes one phrase after another; called on the decoding
    // thread, at the first start().
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

    // Main thread, before start(): these recognisers decode one at a time from now on.
    static void takeTurns(std::initializer_list<LiveDraftRecognizer*> recognizers);

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
    struct Turn;
    void judgeWindowLocked();
    bool takeTurnLocked();
    void endTurnLocked();
    void beginPhraseLocked();
    void endPhraseLocked();
    void deliver(quint64 phrase, const QString& text);

    const Clock& m_clock;
    const bool m_hasRecognizer;
    const std::size_t m_windowSize;
    std::shared_ptr<Decoder> m_decoder;
    // Guards the fields below: feed() runs on a capture thread, start() and stop() on the
    // main thread.
    mutable std::mutex m_mutex;
    bool m_running = false;
    // The window being filled, and the quiet audio just before it (the start of a phrase).
    std::vector<float> m_window;
    std::vector<float> m_lead;
    bool m_speaking = false;
    int m_quietWindows = 0;
    bool m_hasPhrase = false;
    std::shared_ptr<Turn> m_turn;
    quint64 m_phrase = 0;
    QDateTime m_phraseStarted;
    const std::chrono::milliseconds m_phraseLimit { 50'000 };
};
