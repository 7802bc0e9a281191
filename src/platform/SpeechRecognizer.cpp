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
        m_inPhrase = ps_start_utt(m_decoder) >= 0;
        return m_inPhrase;
    }

    std::optional<QString> process(std::span<const float> samples) override
    {
        if (!m_inPhrase)
            return std::nullopt;
        std::span<const float> atDecoderRate = samples;
        if (m_resampler) {
            m_resampled.clear();
            m_resampler->process(samples, m_resampled);
            atDecoderRate = m_resampled;
        }
        m_pcm.resize(atDecoderRate.size());
        std::transform(atDecoderRate.begin(), atDecoderRate.end(), m_pcm.begin(),
            [](float s) { return int16(std::lrint(std::clamp(s, -1.0f, 1.0f) * 32767.0f)); });
        if (!m_pcm.empty() && ps_process_raw(m_decoder, m_pcm.data(), m_pcm.size(), FALSE, FALSE) < 0) {
            endPhrase();
            return std::nullopt;
        }
        int32 score = 0;
        const char* hypothesis = ps_get_hyp(m_decoder, &score);
        return hypothesis ? QString::fromUtf8(hypothesis) : QString();
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
    std::vector<float> m_resampled;
    std::vector<int16> m_pcm;
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
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
        dict.constData(), "-samprate", "16000", static_cast<const char*>(nullptr));
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
