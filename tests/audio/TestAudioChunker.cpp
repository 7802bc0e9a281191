#include "audio/AudioChunker.h"
#include "support/TestMain.h"

#include <QRandomGenerator>
#include <QtEndian>
#include <limits>

namespace {

// Decodes a chunk strictly, so a malformed base64 text fails the test instead of decoding to junk.
QList<qint16> decode(const QString& base64)
{
    const auto result = QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() % 2 != 0)
        return { QList<qint16> { std::numeric_limits<qint16>::min() } };
    QList<qint16> samples;
    for (qsizetype i = 0; i < result.decoded.size(); i += 2)
        samples.append(qFromLittleEndian<qint16>(result.decoded.constData() + i));
    return samples;
}

// A chunker with a consumer that keeps what it is handed.
struct LoggedChunker
{
    AudioChunker chunker;
    QList<QString> chunks;

    LoggedChunker()
    {
        chunker.setOnChunkReady([this](const QString& chunk) { chunks.append(chunk); });
    }
    QList<int> sizes() const
    {
        QList<int> result;
        for (const QString& chunk : chunks)
            result.append(int(decode(chunk).size()));
        return result;
    }
};

} // namespace

class TestAudioChunker final : public QObject
{
    Q_OBJECT

private slots:
    void chunkSizes_data()
    {
        QTest::addColumn<QList<int>>("feeds");
        QTest::addColumn<QList<int>>("sizesAfterFeeding");
        QTest::addColumn<QList<int>>("sizesAfterFlush");
        QTest::newRow("three small feeds")
            << QList<int> { 1000, 1000, 1000 } << QList<int> { 2400 } << QList<int> { 2400, 600 };
        QTest::newRow("one large feed") << QList<int> { 5000 } << QList<int> { 2400, 2400 }
                                        << QList<int> { 2400, 2400, 200 };
        QTest::newRow("exactly one chunk") << QList<int> { 2400 } << QList<int> { 2400 } << QList<int> { 2400 };
        QTest::newRow("empty feeds") << QList<int> { 0, 0 } << QList<int> {} << QList<int> {};
        QTest::newRow("one sample short") << QList<int> { 2399 } << QList<int> {} << QList<int> { 2399 };
    }
    void chunkSizes()
    {
        QFETCH(QList<int>, feeds);
        QFETCH(QList<int>, sizesAfterFeeding);
        QFETCH(QList<int>, sizesAfterFlush);
        LoggedChunker logged;
        for (const int count : feeds)
            logged.chunker.feed(std::vector<float>(std::size_t(count), 0.25f));
        QCOMPARE(logged.sizes(), sizesAfterFeeding);
        logged.chunker.flush();
        QCOMPARE(logged.sizes(), sizesAfterFlush);
        logged.chunker.flush();
        QCOMPARE(logged.sizes(), sizesAfterFlush);
    }

    void sampleConversion_data()
    {
        QTest::addColumn<float>("sample");
        QTest::addColumn<int>("expected");
        QTest::newRow("full scale") << 1.0f << 32767;
        QTest::newRow("negative full scale") << -1.0f << -32767;
        QTest::newRow("half cuts toward zero") << 0.5f << 16383;
        QTest::newRow("negative half cuts toward zero") << -0.5f << -16383;
        QTest::newRow("beyond full scale") << 2.0f << 32767;
        QTest::newRow("far below") << -3.0f << -32767;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 32767;
        QTest::newRow("negative infinity") << -std::numeric_limits<float>::infinity() << -32767;
    }
    void sampleConversion()
    {
        QFETCH(float, sample);
        QFETCH(int, expected);
        LoggedChunker logged;
        // Surround the value so that byte order and position errors show too.
        logged.chunker.feed(std::vector<float> { 0.0f, sample, 0.0f });
        logged.chunker.flush();
        QCOMPARE(logged.chunks.size(), 1);
        QCOMPARE(decode(logged.chunks[0]), (QList<qint16> { 0, qint16(expected), 0 }));
    }

    void base64RoundTrip()
    {
        std::vector<float> samples(2400 * 3 + 7);
        for (float& sample : samples)
            sample = float(QRandomGenerator::global()->generateDouble() * 2.0 - 1.0);
        LoggedChunker logged;
        logged.chunker.feed(samples);
        logged.chunker.flush();
        QCOMPARE(logged.sizes(), (QList<int> { 2400, 2400, 2400, 7 }));
        QCOMPARE(logged.chunks[0].size(), 6400);
        // 7 samples = 14 bytes: the last group is padded.
        QCOMPARE(logged.chunks[3],
            QString::fromLatin1(QByteArray(AudioChunker::toPcm16({ samples.data() + 7200, 7 })).toBase64()));
        QVERIFY(logged.chunks[3].endsWith(QLatin1Char('=')));
        QList<qint16> decoded;
        for (const QString& chunk : logged.chunks) {
            QVERIFY(!chunk.contains(QLatin1Char('\n')));
            decoded += decode(chunk);
        }
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const int expected = int(samples[i] * 32767.0f);
            if (decoded[qsizetype(i)] != expected)
                QFAIL(qPrintable(
                    QStringLiteral("sample %1: %2 instead of %3").arg(i).arg(decoded[qsizetype(i)]).arg(expected)));
        }
    }

    // The consumer runs outside the chunker's lock, so it may call back in (the session
    // flushes and clears from its own callbacks); under the lock this would deadlock.
    void consumerMayCallBackIn()
    {
        AudioChunker chunker;
        QList<int> sizes;
        chunker.setOnChunkReady([&](const QString& chunk) {
            sizes.append(int(decode(chunk).size()));
            if (sizes.size() == 1)
                chunker.flush();
        });
        chunker.feed(std::vector<float>(2400 + 2400 + 100, 0.1f));
        // The first chunk's consumer flushed what was left at that moment (2,500 samples).
        QCOMPARE(sizes, (QList<int> { 2400, 2500 }));
    }

    void clearDropsBufferedSamples()
    {
        LoggedChunker logged;
        logged.chunker.feed(std::vector<float>(2000, 0.5f));
        logged.chunker.clear();
        logged.chunker.feed(std::vector<float>(2000, 0.25f));
        logged.chunker.flush();
        QCOMPARE(logged.chunks.size(), 1);
        QCOMPARE(decode(logged.chunks[0]), QList<qint16>(2000, qint16(0.25f * 32767.0f)));
    }
};

QUILLET_TEST_MAIN(TestAudioChunker)
#include "TestAudioChunker.moc"
