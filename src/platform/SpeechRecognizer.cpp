#include "platform/SpeechRecognizer.h"

#include "platform/PolyphaseResampler.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <err.h>
#include <mutex>
#include <pocketsphinx.h>
#include <vector>

namespace {

constexpr int kDecoderRate = 16000;

// Audio is decoded in pieces of at least this many samples (a quarter of a second). Capture
// hands over a few dozen milliseconds at a time; decoding each piece as it comes wakes the
// decoder into cold caches every time, which costs as much again as the decoding itself. The
// draft lags by at most this much, which a rough preview can afford.
constexpr std::size_t kMinDecodeSamples = kDecoderRate / 4;

// The search is tuned for a live preview on two streams at once, not for the best final
// transcript (the cloud text replaces the draft within seconds):
//  - the draft only ever reads the first pass's partial result, so the flat-lexicon second
//    pass and the best-path pass (both run when a phrase ends) are work for nothing;
//  - Gaussian selection on every other frame (the top Gaussians of the frame before are
//    rescored in between), three Gaussians per mixture instead of four;
//  - at most 1000 active models and 5 word ends per frame: the full model otherwise keeps
//    tens of thousands of models alive on speech it matches poorly;
constexpr const char* kSearchSettings[]
    = { "-fwdflat", "no", "-bestpath", "no", "-ds", "2", "-topn", "3", "-maxhmmpf", "1000", "-maxwpf", "5" };

QString acousticModelPath(const QString& dir)
{
    return dir + QStringLiteral("/en-us/en-us");
}
QString languageModelPath(const QString& dir)
{
    return dir + QStringLiteral("/en-us/en-us.lm.bin");
}
QString dictionaryPath(const QString& dir)
{
    return dir + QStringLiteral("/en-us/cmudict-en-us.dict");
}

class PocketSphinxRecognizer final : public SpeechRecognizer
{
public:
    PocketSphinxRecognizer(cmd_ln_t* config, ps_decoder_t* decoder, int inputRate)
        : m_config(config)
        , m_decoder(decoder)
    {
        if (inputRate != kDecoderRate)
            m_resampler = std::make_unique<PolyphaseResampler>(inputRate, kDecoderRate);
    }

    ~PocketSphinxRecognizer() override
    {
        if (m_inPhrase)
            ps_end_utt(m_decoder);
        ps_free(m_decoder);
        cmd_ln_free_r(m_config);
    }

    PocketSphinxRecognizer(const PocketSphinxRecognizer&) = delete;
    PocketSphinxRecognizer& operator=(const PocketSphinxRecognizer&) = delete;

    bool beginPhrase() override
    {
        endPhrase();
        if (m_resampler)
            m_resampler->reset();
        m_pending.clear();
        m_hypothesis.clear();
        m_inPhrase = ps_start_utt(m_decoder) >= 0;
        return m_inPhrase;
    }

    std::optional<QString> process(std::span<const float> samples) override
    {
        if (!m_inPhrase)
            return std::nullopt;
        if (m_resampler) {
            m_resampler->process(samples, m_pending);
        } else {
            m_pending.insert(m_pending.end(), samples.begin(), samples.end());
        }
        if (m_pending.size() < kMinDecodeSamples)
            return m_hypothesis;
        m_pcm.resize(m_pending.size());
        std::transform(m_pending.begin(), m_pending.end(), m_pcm.begin(),
            [](float s) { return int16(std::lrint(std::clamp(s, -1.0f, 1.0f) * 32767.0f)); });
        m_pending.clear();
        if (ps_process_raw(m_decoder, m_pcm.data(), m_pcm.size(), FALSE, FALSE) < 0) {
            endPhrase();
            return std::nullopt;
        }
        int32 score = 0;
        const char* hypothesis = ps_get_hyp(m_decoder, &score);
        m_hypothesis = hypothesis ? QString::fromUtf8(hypothesis) : QString();
        return m_hypothesis;
    }

    void endPhrase() override
    {
        if (!m_inPhrase)
            return;
        ps_end_utt(m_decoder);
        m_inPhrase = false;
    }

private:
    cmd_ln_t* m_config;
    ps_decoder_t* m_decoder;
    std::unique_ptr<PolyphaseResampler> m_resampler;
    // Samples at the decoder's rate that wait for a piece long enough to decode.
    std::vector<float> m_pending;
    std::vector<int16> m_pcm;
    QString m_hypothesis;
    bool m_inPhrase = false;
};

} // namespace

namespace SpeechRecognition {

bool supportsLocale(const QLocale& locale)
{
    return locale.language() == QLocale::English || locale.language() == QLocale::C;
}

QString modelDirectory()
{
    return QStringLiteral(QUILLET_POCKETSPHINX_MODELDIR);
}

bool isAuthorized(const QString& dir)
{
    return QFileInfo(acousticModelPath(dir) + QStringLiteral("/mdef")).isFile()
        && QFileInfo(languageModelPath(dir)).isFile() && QFileInfo(dictionaryPath(dir)).isFile();
}

std::unique_ptr<SpeechRecognizer> createOnDevice(double sampleRate, const QString& dir)
{
    const int rate = int(std::lround(sampleRate));
    if (rate <= 0 || !isAuthorized(dir))
        return nullptr;
    // The library's own logging goes to stderr by default; the decoder's chatter is of no use
    // to a user, so it is sent nowhere.
    static std::once_flag quietLogging;
    std::call_once(quietLogging, [] { err_set_logfp(nullptr); });

    const QByteArray hmm = QFile::encodeName(acousticModelPath(dir));
    const QByteArray lm = QFile::encodeName(languageModelPath(dir));
    const QByteArray dict = QFile::encodeName(dictionaryPath(dir));
    std::vector<const char*> arguments { "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict", dict.constData(),
        "-samprate", "16000" };
    arguments.insert(arguments.end(), std::begin(kSearchSettings), std::end(kSearchSettings));
    // The parser takes non-const pointers but only reads the strings.
    cmd_ln_t* config
        = cmd_ln_parse_r(nullptr, ps_args(), int(arguments.size()), const_cast<char**>(arguments.data()), TRUE);
    if (!config)
        return nullptr;
    ps_decoder_t* decoder = ps_init(config);
    if (!decoder) {
        cmd_ln_free_r(config);
        return nullptr;
    }
    return std::make_unique<PocketSphinxRecognizer>(config, decoder, rate);
}

} // namespace SpeechRecognition
