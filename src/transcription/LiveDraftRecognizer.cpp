#include "transcription/LiveDraftRecognizer.h"

#include "platform/Settings.h"
#include "transcription/UtteranceDetector.h"

#include <QMetaObject>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_decodingThreads { 0 };

// Decoding normally keeps up several times over; when it falls this far behind (a starved
// machine), newer audio is dropped rather than letting the queue grow without bound.
constexpr double kMaxQueuedSeconds = 10.0;

// Loudness is judged per window of this length, like the chunks of the utterance detector.
constexpr double kWindowSeconds = 0.1;
// Windows of quiet audio kept to open a phrase with: the recogniser expects a little silence
// before the first word, and the window that crossed the threshold may hold only its end.
constexpr std::size_t kLeadWindows = 3;

bool isLoud(const std::vector<float>& window)
{
    double sum = 0;
    for (float s : window)
        sum += double(s) * double(s);
    return std::sqrt(sum / double(window.size())) >= double(UtteranceDetector::silenceRmsThreshold);
}

} // namespace

// The decoding side. It outlives the recogniser when the recogniser is destroyed mid-decode:
// the thread finishes the chunk in hand, releases the model and ends, and the main thread
// never waits for it.
struct LiveDraftRecognizer::Decoder
{
    enum class Kind { Load, Begin, Samples, End };
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
            case Kind::Load:
            case Kind::Begin:
                if (!triedToMake) {
                    triedToMake = true;
                    recognizer = factory();
                }
                if (command.kind == Kind::Load)
                    break;
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

// Which of the recognisers taking turns decodes now (none: the first to speak takes it).
struct LiveDraftRecognizer::Turn
{
    std::atomic<const LiveDraftRecognizer*> holder { nullptr };
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
    , m_windowSize(std::max<std::size_t>(1, std::size_t(std::lround(sampleRate * kWindowSeconds))))
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
    {
        std::lock_guard lock(m_mutex);
        endTurnLocked();
    }
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

void LiveDraftRecognizer::takeTurns(std::initializer_list<LiveDraftRecognizer*> recognizers)
{
    const auto turn = std::make_shared<Turn>();
    for (LiveDraftRecognizer* recognizer : recognizers) {
        std::lock_guard lock(recognizer->m_mutex);
        recognizer->m_turn = turn;
    }
}

bool LiveDraftRecognizer::takeTurnLocked()
{
    if (!m_turn)
        return true;
    const LiveDraftRecognizer* expected = nullptr;
    return m_turn->holder.compare_exchange_strong(expected, this) || expected == this;
}

void LiveDraftRecognizer::endTurnLocked()
{
    if (!m_turn)
        return;
    const LiveDraftRecognizer* expected = this;
    m_turn->holder.compare_exchange_strong(expected, nullptr);
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
    // The model loads now rather than when the first word is spoken, which would then wait
    // for it (a third of a second).
    m_decoder->push({ Decoder::Kind::Load, 0, {} });
    // Words of a phrase from before a stop are not shown after the restart.
    ++m_phrase;
    m_window.clear();
    m_lead.clear();
    m_speaking = false;
    m_quietWindows = 0;
}

void LiveDraftRecognizer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
        endPhraseLocked();
        endTurnLocked();
    }
    emit draftChanged(QString());
}

void LiveDraftRecognizer::feed(std::span<const float> samples)
{
    if (samples.empty())
        return;
    std::lock_guard lock(m_mutex);
    if (!m_running)
        return;
    while (!samples.empty()) {
        const std::size_t taken = std::min(m_windowSize - m_window.size(), samples.size());
        m_window.insert(m_window.end(), samples.begin(), samples.begin() + std::ptrdiff_t(taken));
        samples = samples.subspan(taken);
        if (m_window.size() == m_windowSize) {
            judgeWindowLocked();
            m_window.clear();
        }
    }
}

void LiveDraftRecognizer::judgeWindowLocked()
{
    if (isLoud(m_window)) {
        m_speaking = true;
        m_quietWindows = 0;
    } else if (m_speaking && ++m_quietWindows >= UtteranceDetector::trailingSilenceChunks) {
        m_speaking = false;
    }

    if (!m_speaking) {
        endPhraseLocked();
        endTurnLocked();
    }
    if (!m_speaking || (!m_hasPhrase && !takeTurnLocked())) {
        // Kept to open the next phrase with: the quiet before it, or the speech heard while
        // the other side held the turn.
        m_lead.insert(m_lead.end(), m_window.begin(), m_window.end());
        const std::size_t keep = kLeadWindows * m_windowSize;
        if (m_lead.size() > keep)
            m_lead.erase(m_lead.begin(), m_lead.end() - std::ptrdiff_t(keep));
        return;
    }
    if (!m_hasPhrase) {
        beginPhraseLocked();
        std::vector<float> opening = std::move(m_lead);
        m_lead.clear();
        opening.insert(opening.end(), m_window.begin(), m_window.end());
        m_decoder->push({ Decoder::Kind::Samples, m_phrase, std::move(opening) });
        return;
    }
    if (m_phraseStarted.msecsTo(m_clock.now()) > m_phraseLimit.count()) {
        endPhraseLocked();
        beginPhraseLocked();
        return;
    }
    m_decoder->push({ Decoder::Kind::Samples, m_phrase, m_window });
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
        // The last phrase's words may still come in after it ended; older phrases' may not.
        std::lock_guard lock(m_mutex);
        if (!m_running || phrase != m_phrase)
            return;
    }
    emit draftChanged(text);
}
