#include "platform/Settings.h"
#include "support/TestMain.h"
#include "transcription/EchoSuppressor.h"
#include "transcription/TranscriptionLanguage.h"

#include <QTemporaryDir>

namespace {

using Candidates = QStringList; // "<timestamp>|<text>"

QList<EchoSuppressor::Candidate> parse(const Candidates& candidates)
{
    QList<EchoSuppressor::Candidate> out;
    for (const QString& item : candidates) {
        const qsizetype bar = item.indexOf(QLatin1Char('|'));
        out.append({ item.mid(bar + 1), item.left(bar).toDouble() });
    }
    return out;
}

QString nfd(const QString& text)
{
    return text.normalized(QString::NormalizationForm_D);
}

} // namespace

class TestEchoSuppressor final : public QObject
{
    Q_OBJECT

private slots:
    void findsRepeats_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("offset");
        QTest::addColumn<Candidates>("candidates");
        QTest::addColumn<int>("expected"); // -1: no repeat

        const QString ten = QStringLiteral("we should ship the new build to the beta testers");
        QTest::newRow("case and punctuation differ")
            << "Let's start the meeting!" << 10.0 << Candidates { "12|let's START the meeting" } << 0;
        QTest::newRow("apostrophe splits words") << "don't stop now" << 0.0 << Candidates { "0|don t stop now" } << 0;
        QTest::newRow("two words never") << "sounds good" << 5.0 << Candidates { "5|sounds good" } << -1;
        QTest::newRow("3.5 s is inside") << "see you tomorrow" << 10.0 << Candidates { "13.5|see you tomorrow" } << 0;

        QTest::newRow("3.6 s is outside") << "see you tomorrow" << 10.0 << Candidates { "13.6|see you tomorrow" } << -1;
        QTest::newRow("nine of ten words in any order")
            << ten << 1.0 << Candidates { "2|the beta testers should get the new build we ship" } << 0;
        QTest::newRow("eight of ten words")
            << ten << 1.0 << Candidates { "2|the beta users should get the new build we sent" } << -1;
        QTest::newRow("seven words inside twelve")
            << "we should ship the new build today" << 1.0
            << Candidates { "1|so we should ship the new build today or maybe tomorrow morning" } << -1;
        QTest::newRow("a twice-said word matches twice only if said twice")
            << "no no no no no no no no no maybe" << 0.0
            << Candidates { "0|no maybe one two three four five six seven eight" } << -1;
        QTest::newRow("first qualifying candidate wins")
            << "shall we begin then" << 3.0
            << Candidates { "20|shall we begin then", "!!!|", "2|shall we begin then", "4|Shall we begin then?" } << 2;
        QTest::newRow("candidate without words is passed over")
            << "thank you everyone" << 3.0 << Candidates { "3|...", "3|thank you, everyone" } << 1;

        QTest::newRow("Vietnamese composed against decomposed")
            << "Chúng ta bắt đầu cuộc họp nhé" << 20.0 << Candidates { "21|" + nfd("chúng ta bắt đầu cuộc họp nhé.") }
            << 0;
        QTest::newRow("marks are part of the word")
            << "xin chào các bạn" << 0.0 << Candidates { "0|xin chao cac ban" } << -1;
        QTest::newRow("decomposed near repeat") << nfd("hôm nay chúng ta sẽ bàn về kế hoạch quý tới") << 0.0
                                                << Candidates { "1|hôm nay chúng ta sẽ bàn về kế hoạch quý sau" } << 0;
    }
    void findsRepeats()
    {
        QFETCH(QString, text);
        QFETCH(double, offset);
        QFETCH(Candidates, candidates);
        QFETCH(int, expected);
        const std::optional<qsizetype> found = EchoSuppressor::duplicateIndex(text, offset, parse(candidates));
        QCOMPARE(found ? int(*found) : -1, expected);
    }

    void settingsChoices_data()
    {
        QTest::addColumn<QVariant>("language");
        QTest::addColumn<QVariant>("echo");
        QTest::addColumn<QString>("expectedLanguage");
        QTest::addColumn<bool>("expectedEcho");
        QTest::newRow("nothing stored") << QVariant() << QVariant() << "auto" << true;
        QTest::newRow("Vietnamese, echo off") << QVariant("vi") << QVariant(false) << "vi" << false;
        QTest::newRow("English, echo on") << QVariant("en") << QVariant(true) << "en" << true;
        QTest::newRow("letter case differs") << QVariant("VI") << QVariant("no") << "auto" << true;
        QTest::newRow("other word") << QVariant("french") << QVariant(0.5) << "auto" << true;
        QTest::newRow("padded") << QVariant(" en") << QVariant() << "auto" << true;
    }
    void settingsChoices()
    {
        QFETCH(QVariant, language);
        QFETCH(QVariant, echo);
        QFETCH(QString, expectedLanguage);
        QFETCH(bool, expectedEcho);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.ini"));
        {
            Settings writer(path);
            if (language.isValid())
                writer.setValue(SettingsKeys::transcriptionLanguage.key(), language);
            if (echo.isValid())
                writer.setValue(SettingsKeys::echoSuppressionEnabled.key(), echo);
        }
        // Read back from the file, as at the next start.
        Settings settings(path);
        const TranscriptionLanguage current = TranscriptionLanguage::current(settings);
        QCOMPARE(current.rawValue(), expectedLanguage);
        QCOMPARE(current.code(),
            expectedLanguage == QLatin1String("auto") ? std::nullopt : std::optional<QString>(expectedLanguage));
        QCOMPARE(EchoSuppressor::isEnabled(settings), expectedEcho);
    }
};

QUILLET_TEST_MAIN(TestEchoSuppressor)
#include "TestEchoSuppressor.moc"
