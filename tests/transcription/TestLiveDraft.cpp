#include "platform/PolyphaseResampler.h"
#include "platform/SpeechRecognizer.h"
#include "support/FakeClock.h"
#include "support/TestMain.h"
#include "transcription/LiveDraftRecognizer.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <numbers>

namespace {

// What the decoding thread did, in order, and the answers it is to give.
struct Script
{
    std::mutex mutex;
    std::condition_variable released;
    QStringList journal;
    std::deque<std::optional<QString>> answers;
    bool gated = false;

    QStringList events()
    {
        std::lock_guard lock(mutex);
        return journal;
    }
    void note(const QString& event)
    {
        std::lock_guard lock(mutex);
        journal << event;
    }
    void release()
    {
        {
            std::lock_guard lock(mutex);
            gated = false;
        }
        released.notify_all();
    }
};

class ScriptedRecognizer final : public SpeechRecognizer
{
public:
    explicit ScriptedRecognizer(std::shared_ptr<Script> script)
        : m_script(std::move(script))
    { }
    bool beginPhrase() override
    {
        m_script->note(QStringLiteral("begin"));
        return true;
    }
    std::optional<QString> process(std::span<const float> samples) override
    {
        std::unique_lock lock(m_script->mutex);
        m_script->released.wait(lock, [this] { return !m_script->gated; });
        m_script->journal << QStringLiteral("process %1").arg(samples.size());
        if (m_script->answers.empty())
            return QStringLiteral("unscripted");
        auto answer = m_script->answers.front();
        m_script->answers.pop_front();
        return answer;
    }
    void endPhrase() override { m_script->note(QStringLiteral("end")); }

private:
    std::shared_ptr<Script> m_script;
};

std::vector<float> sine(double frequency, double rate, int count)
{
    std::vector<float> samples(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        samples[std::size_t(i)] = float(0.5 * std::sin(2.0 * std::numbers::pi * frequency * i / rate));
    return samples;
}

double rms(std::span<const float> samples)
{
    double sum = 0;
    for (float s : samples)
        sum += double(s) * s;
    return std::sqrt(sum / double(samples.size()));
}

// A 16 kHz 16-bit recording of the recogniser's own test data, brought to the capture rate.
std::vector<float> recordingAt24kHz(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("RIFF"))
        bytes = bytes.mid(bytes.indexOf("data") + 8);
    std::vector<float> samples(std::size_t(bytes.size() / 2));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        qint16 value = 0;
        std::memcpy(&value, bytes.constData() + 2 * i, 2);
        samples[i] = float(value) / 32768.0f;
    }
    PolyphaseResampler resampler(16000, 24000);
    std::vector<float> out;
    resampler.process(samples, out);
    return out;
}

std::vector<float> chunk(int count, float value = 0.1f)
{
    return std::vector<float>(std::size_t(count), value);
}

} // namespace

class TestLiveDraft final : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<Script> m_script;
    FakeClock m_clock;

    std::unique_ptr<LiveDraftRecognizer> makeRecognizer(const QLocale& locale = QLocale(QLocale::English))
    {
        auto script = m_script;
        return std::make_unique<LiveDraftRecognizer>(
            24000, locale, [script] { return std::make_unique<ScriptedRecognizer>(script); }, m_clock);
    }

private slots:
    void init() { m_script = std::make_shared<Script>(); }

    void cleanup()
    {
        // A destroyed recogniser's thread ends on its own; none may be left running.
        QTRY_COMPARE(LiveDraftRecognizer::decodingThreadCount(), 0);
    }

    // Fed in pieces of any size, the 24 to 16 kHz filter gives the stream it gives in one go,
    // keeps the speech band and removes what would fold back into it.
    void resamplerKeepsSpeechBandAndRemovesAliases_data()
    {
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("minGainDb");
        QTest::addColumn<double>("maxGainDb");
        QTest::addColumn<int>("chunkSize");
        QTest::newRow("3 kHz passes") << 3000.0 << -0.1 << 0.1 << 7;
        QTest::newRow("6.5 kHz passes") << 6500.0 << -0.5 << 0.5 << 1;
        // These would fold back to 6.5 and 4.1 kHz, right inside the speech band.
        QTest::newRow("9.5 kHz is removed") << 9500.0 << -200.0 << -60.0 << 2400;
        QTest::newRow("11.9 kHz is removed") << 11900.0 << -200.0 << -60.0 << 13;
    }

    void resamplerKeepsSpeechBandAndRemovesAliases()
    {
        QFETCH(double, frequency);
        QFETCH(double, minGainDb);
        QFETCH(double, maxGainDb);
        QFETCH(int, chunkSize);
        const auto input = sine(frequency, 24000, 24000);
        PolyphaseResampler whole(24000, 16000);
        std::vector<float> output;
        whole.process(input, output);
        QVERIFY(std::abs(int(output.size()) - 16000) <= 1);
        // Skip the filter's start-up, where it still sees the zeros before the first sample.
        const std::span<const float> steady(output.data() + 200, output.size() - 400);
        const double gainDb = 20.0 * std::log10(rms(steady) / rms(input) + 1e-12);
        QVERIFY2(gainDb >= minGainDb && gainDb <= maxGainDb, qPrintable(QString::number(gainDb)));

        PolyphaseResampler pieces(24000, 16000);
        std::vector<float> actual;
        for (std::size_t at = 0; at < input.size(); at += std::size_t(chunkSize)) {
            const std::size_t n = std::min(std::size_t(chunkSize), input.size() - at);
            pieces.process(std::span<const float>(input.data() + at, n), actual);
        }
        QCOMPARE(actual.size(), output.size());
        for (std::size_t i = 0; i < actual.size(); ++i)
            QVERIFY2(std::abs(actual[i] - output[i]) < 1e-5f, qPrintable(QString::number(i)));
    }

    void draftsFollowTheRecognizerOnlyWhenTheTextChanges()
    {
        m_script->answers = { QString(), QStringLiteral("go"), QStringLiteral("go"), QStringLiteral("go for"),
            QStringLiteral("go forward"), std::nullopt };
        auto recognizer = makeRecognizer();
        QSignalSpy drafts(recognizer.get(), &LiveDraftRecognizer::draftChanged);
        recognizer->start();
        for (int i = 0; i < 6; ++i) {
            recognizer->feed(chunk(2400));
            // One chunk at a time, so that the thread does not decode them in one go.
            QTRY_COMPARE(m_script->events().size(), 2 + i);
        }
        QTRY_COMPARE(drafts.size(), 4);
        const QStringList texts { drafts.at(0).at(0).toString(), drafts.at(1).at(0).toString(),
            drafts.at(2).at(0).toString(), drafts.at(3).at(0).toString() };
        // The failed decode ends the phrase and clears the draft.
        QCOMPARE(texts, (QStringList { "go", "go for", "go forward", "" }));

        // The phrase stays over: later samples are not decoded until a new phrase begins.
        recognizer->feed(chunk(2400));
        recognizer->stop();
        recognizer->start();
        recognizer->feed(chunk(2400));
        QTRY_COMPARE(m_script->events().count(QStringLiteral("begin")), 2);
        QTRY_COMPARE(m_script->events().count(QStringLiteral("process 2400")), 7);
    }

    void stopClearsTheDraftAndDropsLateResults()
    {
        m_script->answers = { QStringLiteral("stale words"), QStringLiteral("fresh") };
        m_script->gated = true;
        auto recognizer = makeRecognizer();
        QSignalSpy drafts(recognizer.get(), &LiveDraftRecognizer::draftChanged);
        recognizer->start();
        recognizer->feed(chunk(2400));
        recognizer->stop();
        QCOMPARE(drafts.size(), 1);
        QCOMPARE(drafts.at(0).at(0).toString(), QString());
        QVERIFY(!recognizer->isRunning());

        // Feeding while stopped, or nothing at all, decodes nothing.
        recognizer->feed(chunk(480));
        recognizer->start();
        recognizer->feed({});
        m_script->release();
        recognizer->feed(chunk(1200));
        recognizer->feed(chunk(1200));
        // Results arrive in order, so once the new phrase's draft is here the stale one would
        // have been too.
        QTRY_COMPARE(drafts.size(), 2);
        QCOMPARE(drafts.at(1).at(0).toString(), QStringLiteral("fresh"));
        QCOMPARE(m_script->events(), (QStringList { "begin", "process 2400", "end", "begin", "process 2400" }));
    }

    void phraseRestartsAfterTheLimitDroppingTheWindowAtTheTurn()
    {
        auto recognizer = makeRecognizer();
        recognizer->start();
        recognizer->feed(chunk(2400));
        QTRY_COMPARE(m_script->events().size(), 2);
        m_clock.advanceMs(50'000);
        recognizer->feed(chunk(2400));
        QTRY_COMPARE(m_script->events().size(), 3);
        m_clock.advanceMs(1);
        recognizer->feed(chunk(2400));
        QTRY_COMPARE(m_script->events().size(), 5);
        recognizer->feed(chunk(2400));
        QTRY_COMPARE(m_script->events().size(), 6);
        QCOMPARE(m_script->events(),
            (QStringList { "begin", "process 2400", "process 2400", "end", "begin", "process 2400" }));
    }

    // Windows of 100 ms (2400 samples), fed in pieces of any size: quiet ones are not decoded;
    // a phrase opens on a loud one with the 300 ms before it, keeps the quiet after speech and
    // ends after 700 ms of it, as an utterance does.
    void onlySpeechIsDecoded_data()
    {
        QTest::addColumn<int>("pieceSize");
        QTest::newRow("whole windows") << 2400;
        QTest::newRow("odd pieces") << 1000;
    }
    void onlySpeechIsDecoded()
    {
        QFETCH(int, pieceSize);
        auto recognizer = makeRecognizer();
        recognizer->start();
        const auto feed = [&](int windows, float level) {
            const std::vector<float> samples = chunk(windows * 2400, level);
            for (std::size_t at = 0; at < samples.size(); at += std::size_t(pieceSize))
                recognizer->feed(
                    std::span<const float>(samples).subspan(at, std::min(std::size_t(pieceSize), samples.size() - at)));
        };
        feed(5, 0.002f);
        feed(1, 0.05f);
        feed(7, 0.002f);
        feed(5, 0.002f);
        feed(1, 0.05f);
        // How the decoder splits a phrase's samples depends on when it wakes; their sum does not.
        const auto phrases = [this] {
            QStringList out;
            for (const QString& event : m_script->events()) {
                if (!event.startsWith(QLatin1String("process ")))
                    out << event;
                else if (!out.isEmpty() && out.last().front().isDigit())
                    out.last() = QString::number(out.last().toInt() + event.mid(8).toInt());
                else
                    out << event.mid(8);
            }
            return out;
        };
        QTRY_COMPARE(phrases(), (QStringList { "begin", QString::number(10 * 2400), "end", "begin", "9600" }));
    }

    // The two sides of a call take turns: the side that speaks first decodes until its phrase
    // ends; the other side then starts with the last 300 ms it said meanwhile.
    void sidesTakeTurns()
    {
        auto other = std::make_shared<Script>();
        auto recognizer = makeRecognizer();
        auto otherSide = std::make_unique<LiveDraftRecognizer>(
            24000, QLocale(QLocale::English), [other] { return std::make_unique<ScriptedRecognizer>(other); }, m_clock);
        LiveDraftRecognizer::takeTurns({ recognizer.get(), otherSide.get() });
        recognizer->start();
        otherSide->start();

        recognizer->feed(chunk(2400));
        QTRY_COMPARE(m_script->events().size(), 2);
        otherSide->feed(chunk(5 * 2400));
        recognizer->feed(chunk(7 * 2400, 0.0f));
        QTRY_COMPARE(m_script->events().last(), QStringLiteral("end"));
        QCOMPARE(other->events(), QStringList());

        otherSide->feed(chunk(2400));
        recognizer->feed(chunk(2400));
        QTRY_COMPARE(other->events(), (QStringList { "begin", QStringLiteral("process %1").arg(4 * 2400) }));
        QCOMPARE(m_script->events().count(QStringLiteral("begin")), 1);

        // Stopping gives the turn away as well.
        otherSide->stop();
        recognizer->feed(chunk(2400));
        QTRY_COMPARE(m_script->events().count(QStringLiteral("begin")), 2);
    }

    // The installed recogniser, with the settings that keep the draft cheap, still hears the
    // key words of recordings it ships with, fed as capture hands them over.
    void installedRecognizerHearsSpokenWords_data()
    {
        QTest::addColumn<QString>("recording");
        QTest::addColumn<QString>("word");
        const QString data = QStringLiteral("/usr/share/pocketsphinx/test/data/");
        QTest::newRow("go forward ten meters") << data + "goforward.raw"
                                               << "forward";
        QTest::newRow("two nine three four zero") << data + "tidigits/dhd.2934z.raw"
                                                  << "three";
        QTest::newRow("eight of spades four of clubs") << data + "cards/005.wav"
                                                       << "spades";
        QTest::newRow("he might even have been made amiable himself")
            << data + "librivox/sense_and_sensibility_01_austen_64kb-0930.wav"
            << "amiable";
    }

    void installedRecognizerHearsSpokenWords()
    {
        QFETCH(QString, recording);
        QFETCH(QString, word);
        if (!SpeechRecognition::isAuthorized() || !QFile::exists(recording))
            QSKIP("the speech model or its test recordings are not installed");
        const std::vector<float> audio = recordingAt24kHz(recording);
        QVERIFY(!audio.empty());
        const auto recognizer = SpeechRecognition::createOnDevice(24000);
        QVERIFY(recognizer);
        QVERIFY(recognizer->beginPhrase());
        QString draft;
        for (std::size_t at = 0; at < audio.size(); at += 840) {
            const auto text = recognizer->process(
                std::span<const float>(audio.data() + at, std::min<std::size_t>(840, audio.size() - at)));
            QVERIFY(text);
            draft = *text;
        }
        QVERIFY2(draft.split(' ').contains(word), qPrintable(draft));
        recognizer->endPhrase();
    }

    void onlyEnglishAndTheCLocaleGetADraft_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("drafts");
        QTest::newRow("en_US") << "en_US" << true;
        QTest::newRow("C") << "C" << true;
        QTest::newRow("POSIX") << "POSIX" << true;
        QTest::newRow("vi_VN") << "vi_VN" << false;
    }

    void onlyEnglishAndTheCLocaleGetADraft()
    {
        QFETCH(QString, locale);
        QFETCH(bool, drafts);
        m_script->answers = { QStringLiteral("hello") };
        auto recognizer = makeRecognizer(QLocale(locale));
        QSignalSpy spy(recognizer.get(), &LiveDraftRecognizer::draftChanged);
        recognizer->start();
        QCOMPARE(recognizer->isRunning(), drafts);
        recognizer->feed(chunk(2400));
        if (drafts) {
            QVERIFY(spy.wait(kPatientWaitMs));
            QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("hello"));
        } else {
            recognizer->stop();
            QCOMPARE(m_script->events(), QStringList());
        }
    }
};

QUILLET_TEST_MAIN(TestLiveDraft)
#include "TestLiveDraft.moc"
