#include "TranscriptionTestSupport.h"
#include "support/TestMain.h"
#include "transcription/StrictBase64.h"
#include "transcription/UtteranceDetector.h"

#include <QRandomGenerator>
#include <QtEndian>

namespace {

using Utterances = QStringList; // "<chunks>@<start seconds>"

QString describe(const UtteranceDetector::Utterance& utterance)
{
    return QStringLiteral("%1@%2").arg(utterance.pcm.size() / (2 * Chunks::samplesPerChunk)).arg(utterance.startOffset);
}

// "4s 7q": 4 speech chunks then 7 silent ones; "c": commit what is open (as at a stop).
Utterances run(UtteranceDetector& detector, const QString& pattern)
{
    Utterances cut;
    const QStringList tokens = pattern.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& token : tokens) {
        if (token == QLatin1String("c")) {
            if (auto utterance = detector.commit())
                cut.append(describe(*utterance));
            continue;
        }
        const int count = token.chopped(1).toInt();
        const QByteArray chunk = Chunks::pcm(token.endsWith(QLatin1Char('s')) ? Chunks::speech : Chunks::silence);
        for (int i = 0; i < count; ++i) {
            if (auto utterance = detector.addChunk(chunk, UtteranceDetector::rms(chunk), true))
                cut.append(describe(*utterance));
        }
    }
    return cut;
}

// 854 samples of 394, 337 of 392 and the rest 393: a chunk whose loudness is exactly the
// threshold in single precision; one more 392 puts it just below.
QByteArray thresholdChunk(int extraQuieterSamples = 0)
{
    QByteArray out(Chunks::samplesPerChunk * 2, Qt::Uninitialized);
    for (int i = 0; i < Chunks::samplesPerChunk; ++i) {
        const qint16 value = i < 854 ? 394 : (i < 854 + 337 + extraQuieterSamples ? 392 : 393);
        qToLittleEndian(value, out.data() + 2 * i);
    }
    return out;
}

} // namespace

class TestUtteranceDetector final : public QObject
{
    Q_OBJECT

private slots:
    void cutsUtterances_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<Utterances>("expected");
        QTest::newRow("silence only") << "300q" << Utterances {};
        QTest::newRow("too little speech") << "3s 7q" << Utterances {};
        QTest::newRow("four speech chunks") << "4s 7q" << Utterances { "11@0" };
        QTest::newRow("speech need not be in a row") << "2s 5q 2s 7q" << Utterances { "16@0" };
        QTest::newRow("six silent chunks are bridged") << "5s 6q 5s 7q" << Utterances { "23@0" };
        QTest::newRow("leading silence dropped, start counts it") << "10q 5s 7q" << Utterances { "12@1" };
        QTest::newRow("two utterances") << "5s 7q 3q 5s 7q" << Utterances { "12@0", "12@1.5" };
        QTest::newRow("cut at fifteen seconds") << "200s 7q" << Utterances { "150@0", "57@15" };
        QTest::newRow("silence fills the last places") << "140s 10q" << Utterances { "147@0" };
        QTest::newRow("long silent tail") << "4s 6q 140q" << Utterances { "11@0" };
        QTest::newRow("commit with enough speech") << "3q 4s 2q c" << Utterances { "6@0.3" };
        QTest::newRow("commit with too little speech") << "3s 2q c" << Utterances {};
        QTest::newRow("commit with nothing open") << "5q c" << Utterances {};
    }
    void cutsUtterances()
    {
        QFETCH(QString, pattern);
        QFETCH(Utterances, expected);
        UtteranceDetector detector;
        QCOMPARE(run(detector, pattern), expected);
        if (pattern.endsWith(QLatin1String(" c"))) {
            QVERIFY(!detector.hasOpenUtterance());
            QVERIFY(!detector.commit());
        }
    }

    void thresholdIsSpeech()
    {
        const QByteArray atThreshold = thresholdChunk();
        const QByteArray below = thresholdChunk(1);
        QCOMPARE(UtteranceDetector::rms(atThreshold), 0.012f);
        QVERIFY(UtteranceDetector::rms(below) < 0.012f);

        UtteranceDetector detector;
        for (int i = 0; i < 4; ++i)
            QVERIFY(!detector.addChunk(atThreshold, UtteranceDetector::rms(atThreshold), true));
        QCOMPARE(run(detector, QStringLiteral("7q")), Utterances { "11@0" });

        for (int i = 0; i < 4; ++i)
            detector.addChunk(below, UtteranceDetector::rms(below), true);
        QVERIFY(!detector.hasOpenUtterance());
    }

    void decodesWhatTheChunkerWrites()
    {
        QRandomGenerator random(42);
        for (int size : { 0, 1, 2, 3, 4, 5, 6, 400, 4800, 4801, 4802 }) {
            QByteArray bytes(size, Qt::Uninitialized);
            for (char& byte : bytes)
                byte = char(random.bounded(256));
            QCOMPARE(StrictBase64::decode(bytes.toBase64()), std::optional<QByteArray>(bytes));
        }
    }

    void refusesOtherText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("stray character") << QByteArray("AAAA$AAA");
        QTest::newRow("padding in the middle") << QByteArray("AA==AAAA");
        QTest::newRow("too much padding") << QByteArray("A===");
        QTest::newRow("cut-off group") << QByteArray("AAAAAA");
        QTest::newRow("url alphabet") << QByteArray("AA-_");
        QTest::newRow("line break") << QByteArray("AAAA\nAAA");
        QTest::newRow("high byte") << QByteArray("AAA\xc3");
    }
    void refusesOtherText()
    {
        QFETCH(QByteArray, text);
        QCOMPARE(StrictBase64::decode(text), std::nullopt);
        // Qt's strict decoder agrees wherever both are strict.
        if (text.size() % 4 == 0)
            QVERIFY(!QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors));
    }
};

QUILLET_TEST_MAIN(TestUtteranceDetector)
#include "TestUtteranceDetector.moc"
