#include "transcription/LiveDraftRecognizer.h"

#include "platform/Settings.h"

#include <QMetaObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_decodingThreads { 0 };

// Decoding normally keeps up several times over; when it falls this far behind (a starved
// machine), newer audio is dropped rather than letting the queue grow without bound.
constexpr double kMaxQueuedSeconds = 10.0;

} // namespace

// The decoding side. It outlives the recogniser when the recogniser is destroyed mid-decode:
// the thread finishes the chunk in hand, releases the model and ends, and the main thread
// never waits for it.
struct LiveDraftRecognizer::Decoder
{
    enum class Kind { Begin, Samples, End };
    struct Command
    {
        Kind kind;
        quint64 phrase;
        std::vector<float> samples;
    };

    Decoder(RecognizerFactory makeRecognizer, LiveDraftRecognizer* recognizer, double sampleRate)
        : factory(std::move(makeRecognizer))
        , owner(recognizer)
        , maxQueuedSamples(std::size_t(sampleRate * kMaxQueuedSeconds))
    { }

    void push(Command command)
    {
        {
            std::lock_guard lock(mutex);
            if (command.kind == Kind::Samples) {
                if (queuedSamples + command.samples.size() > maxQueuedSamples)
                    return;
                queuedSamples += command.samples.size();
            }
            queue.push_back(std::move(command));
        }
        wake.notify_one();
    }

    void detach()
    {
        {
            std::lock_guard lock(mutex);
            owner = nullptr;
            quit = true;
            queue.clear();
        }
        wake.notify_one();
    }

    void post(quint64 phrase, const QString& text)
    {
        std::lock_guard lock(mutex);
        if (!owner)
            return;
        LiveDraftRecognizer* target = owner;
        // Queued to the recogniser's own thread; Qt drops the call if it is destroyed first.
        QMetaObject::invokeMethod(
            target, [target, phrase, text] { target->deliver(phrase, text); }, Qt::QueuedConnection);
    }

    void run()
    {
        std::unique_ptr<SpeechRecognizer> recognizer;
        bool triedToMake = false;
        bool phraseOpen = false;
        quint64 phrase = 0;
        QString lastText;

        while (true) {
            Command command;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return quit || !queue.empty(); });
                if (quit)
                    break;
                command = std::move(queue.front());
                queue.pop_front();
                // Samples that piled up while the previous chunk was decoding are decoded in
                // one go: the partial result is only worth reading once per catch-up.
                while (command.kind == Kind::Samples && !queue.empty() && queue.front().kind == Kind::Samples
                    && queue.front().phrase == command.phrase) {
                    auto& more = queue.front().samples;
                    command.samples.insert(command.samples.end(), more.begin(), more.end());
                    queuedSamples -= more.size();
                    queue.pop_front();
                }
                if (command.kind == Kind::Samples)
                    queuedSamples -= std::min(queuedSamples, command.samples.size());
            }

            switch (command.kind) {
            case Kind::Begin:
                if (!triedToMake) {
                    triedToMake = true;
                    recognizer = factory();
                }
                if (recognizer && phraseOpen)
                    recognizer->endPhrase();
                phraseOpen = recognizer && recognizer->beginPhrase();
                phrase = command.phrase;
                lastText.clear();
                break;
            case Kind::Samples: {
                if (!phraseOpen || command.phrase != phrase)
                    break;
                const std::optional<QString> text = recognizer->process(command.samples);
                if (!text) {
                    // The recogniser gave up on this phrase: clear the draft; the phrase stays
                    // over until the phrase limit starts a new one.
                    phraseOpen = false;
                    if (!lastText.isEmpty())
                        post(phrase, QString());
                    lastText.clear();
                } else if (*text != lastText) {
                    lastText = *text;
                    post(phrase, lastText);
                }
                break;
            }
            case Kind::End:
                if (phraseOpen && command.phrase == phrase) {
                    recognizer->endPhrase();
                    phraseOpen = false;
                }
                break;
            }
        }
        recognizer.reset();
    }

    const RecognizerFactory factory;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Command> queue;
    std::size_t queuedSamples = 0;
    bool quit = false;
    LiveDraftRecognizer* owner;
    const std::size_t maxQueuedSamples;
};

LiveDraftRecognizer::LiveDraftRecognizer(double sampleRate, QObject* parent)
    : LiveDraftRecognizer(
        sampleRate, QLocale::system(), [sampleRate] { return SpeechRecognition::createOnDevice(sampleRate); },
        Clock::system(), parent)
{ }

LiveDraftRecognizer::LiveDraftRecognizer(
    double sampleRate, const QLocale& locale, RecognizerFactory factory, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
    , m_hasRecognizer(SpeechRecognition::supportsLocale(locale) && factory)
    , m_phraseStarted(clock.now())
{
    if (!m_hasRecognizer)
        return;
    m_decoder = std::make_shared<Decoder>(std::move(factory), this, sampleRate);
    ++g_decodingThreads;
    std::thread([decoder = m_decoder] {
        decoder->run();
        --g_decodingThreads;
    }).detach();
}

LiveDraftRecognizer::~LiveDraftRecognizer()
{
    if (m_decoder)
        m_decoder->detach();
}

bool LiveDraftRecognizer::isEnabled(const Settings& settings)
{
    return settings.get(SettingsKeys::liveDraftEnabled);
}

bool LiveDraftRecognizer::authorize()
{
    return SpeechRecognition::isAuthorized();
}

bool LiveDraftRecognizer::isAvailable()
{
    return SpeechRecognition::supportsLocale(QLocale::system());
}

int LiveDraftRecognizer::decodingThreadCount()
{
    return g_decodingThreads.load();
}

void LiveDraftRecognizer::setPhraseLimit(std::chrono::milliseconds limit)
{
    std::lock_guard lock(m_mutex);
    m_phraseLimit = limit;
}

bool LiveDraftRecognizer::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

void LiveDraftRecognizer::start()
{
    if (!m_hasRecognizer)
        return;
    std::lock_guard lock(m_mutex);
    if (m_running)
        return;
    m_running = true;
    beginPhraseLocked();
}

void LiveDraftRecognizer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
        endPhraseLocked();
    }
    emit draftChanged(QString());
}

void LiveDraftRecognizer::feed(std::span<const float> samples)
{
    if (samples.empty())
        return;
    std::lock_guard lock(m_mutex);
    if (!m_running || !m_hasPhrase)
        return;
    if (m_phraseStarted.msecsTo(m_clock.now()) > m_phraseLimit.count()) {
        endPhraseLocked();
        beginPhraseLocked();
        return;
    }
    m_decoder->push({ Decoder::Kind::Samples, m_phrase, std::vector<float>(samples.begin(), samples.end()) });
}

void LiveDraftRecognizer::beginPhraseLocked()
{
    ++m_phrase;
    m_hasPhrase = true;
    m_phraseStarted = m_clock.now();
    m_decoder->push({ Decoder::Kind::Begin, m_phrase, {} });
}

void LiveDraftRecognizer::endPhraseLocked()
{
    if (!m_hasPhrase)
        return;
    m_hasPhrase = false;
    m_decoder->push({ Decoder::Kind::End, m_phrase, {} });
}

void LiveDraftRecognizer::deliver(quint64 phrase, const QString& text)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || !m_hasPhrase || phrase != m_phrase)
            return;
    }
    emit draftChanged(text);
}
