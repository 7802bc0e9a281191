#include "format/NumberFormat.h"
#include "format/Result.h"
#include "format/TextPrefix.h"
#include "format/TimeText.h"
#include "platform/Log.h"
#include "support/TestMain.h"

#include <QTest>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

class TestFormat final : public QObject
{
    Q_OBJECT

private slots:
    void numbersAreWrittenAsPrintfWritesThem_data()
    {
        QTest::addColumn<QString>("conversion");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* conversion, double value, const char* expected) {
            QTest::newRow(name) << QString::fromLatin1(conversion) << value << QString::fromLatin1(expected);
        };
        row("half rounds to even 0", "%.0f", 0.5, "0");
        row("half rounds to even 2", "%.0f", 1.5, "2");
        row("2.5 gives 2", "%.0f", 2.5, "2");
        row("negative half keeps its sign", "%.0f", -0.5, "-0");
        row("balance 0.125", "%.2f", 0.125, "0.12");
        row("balance 0.375", "%.2f", 0.375, "0.38");
        row("binary value above the half", "%.1f", 0.05, "0.1");
        row("binary value below the half", "%.2f", 1.005, "1.00");
        row("default precision", "%f", 3.0, "3.000000");
        row("long double length", "%lf", 0.25, "0.250000");
        row("scientific tie", "%.3e", 12345.0, "1.234e+04");
        row("general small", "%g", 0.0001, "0.0001");
        row("general exponent", "%g", 1e-5, "1e-05");
        row("general upper", "%G", 1e-5, "1E-05");
        row("width", "%8.2f", 3.14159, "    3.14");
        row("left aligned", "%-8.2f", 3.14159, "3.14    ");
        row("zero padded negative", "%08.2f", -3.14159, "-0003.14");
        row("plus sign", "%+.1f", 2.25, "+2.2");
        row("space sign", "% .1f", 2.25, " 2.2");
        row("infinity", "%.0f", std::numeric_limits<double>::infinity(), "inf");
        row("negative infinity upper", "%08.1F", -std::numeric_limits<double>::infinity(), "    -INF");
        row("not a number", "%f", std::numeric_limits<double>::quiet_NaN(), "nan");
        row("large", "%.0f", 1e21, "1000000000000000000000");
    }

    void numbersAreWrittenAsPrintfWritesThem()
    {
        QFETCH(QString, conversion);
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(NumberFormat::printf(conversion.toStdString(), value), expected);
    }

    void everyQuarterAndEighthMatchesTheCLibrary()
    {
        for (int k = -4000; k <= 4000; ++k) {
            const double value = k / 8.0;
            for (int decimals = 0; decimals <= 3; ++decimals) {
                char expected[64];
                std::snprintf(expected, sizeof expected, "%.*f", decimals, value);
                QCOMPARE(NumberFormat::fixed(value, decimals), QString::fromLatin1(expected));
            }
        }
    }

    void conversionsOtherThanOneDoubleAreRefused_data()
    {
        QTest::addColumn<QString>("conversion");
        for (const char* conversion : { "%d", "%.2", "%.2fs", "f", "%#f", "%Lf", "" })
            QTest::newRow(conversion) << QString::fromLatin1(conversion);
    }

    void conversionsOtherThanOneDoubleAreRefused()
    {
        QFETCH(QString, conversion);
        QCOMPARE(NumberFormat::printf(conversion.toStdString(), 1.0), std::nullopt);
    }

    void logLinesRoundAsPrintf_data()
    {
        QTest::addColumn<double>("delay");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0.5") << 0.5 << QStringLiteral("[Quillet] Retrying in 0s (balance 0.12)");
        QTest::newRow("2.5") << 2.5 << QStringLiteral("[Quillet] Retrying in 2s (balance 0.12)");
        QTest::newRow("3.5") << 3.5 << QStringLiteral("[Quillet] Retrying in 4s (balance 0.12)");
    }

    void logLinesRoundAsPrintf()
    {
        QFETCH(double, delay);
        QFETCH(QString, expected);
        LogCapture log;
        Log::line("[Quillet] Retrying in %.0fs (balance %.2f)", delay, 0.125);
        QCOMPARE(log.lines(), QStringList { expected });
    }

    // A short time is hours and minutes in every locale Qt knows, the C locale included,
    // whose own short format carries seconds.
    void shortTimesCarryNoSeconds()
    {
        const QTime time(11, 15, 42);
        QList<QLocale> locales
            = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        locales.prepend(QLocale::c());
        for (const QLocale& locale : std::as_const(locales)) {
            const QString text = formatShortTime(time, locale);
            QVERIFY2(!text.contains(locale.toString(42)), qPrintable(locale.name() + QLatin1Char(' ') + text));
            QVERIFY2(text.contains(locale.toString(15)), qPrintable(locale.name() + QLatin1Char(' ') + text));
        }
        QCOMPARE(formatShortTime(time, QLocale::c()), QStringLiteral("11:15"));
        QCOMPARE(formatShortTime(time, QLocale(QLocale::English, QLocale::UnitedStates)), QStringLiteral("11:15 AM"));
    }

    void abbreviatedDatesFollowTheLocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates)
                               << QStringLiteral("Mar 14, 2026, 9:05 AM");
        QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << QStringLiteral("14. März 2026, 09:05");
        QTest::newRow("vi_VN") << QLocale(QLocale::Vietnamese, QLocale::Vietnam)
                               << QStringLiteral("14 thg 3, 2026, 09:05");
        QTest::newRow("C") << QLocale::c() << QStringLiteral("14 Mar 2026, 09:05");
    }

    void abbreviatedDatesFollowTheLocale()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QCOMPARE(formatAbbreviatedDateTime(QDateTime(QDate(2026, 3, 14), QTime(9, 5, 30)), locale), text);
    }

    // The tray's "Recent" rows in the user's language: ICU's short style outside English,
    // English exactly as it has always been written (the C locale too). The expected texts are
    // ICU 72's, read once.
    void relativeDatesFollowTheLanguage_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QString>("text");
        const QDateTime now(QDate(2026, 6, 15), QTime(12, 0));
        const QLocale german(QLocale::German, QLocale::Germany);
        const QLocale vietnamese(QLocale::Vietnamese, QLocale::Vietnam);
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        const QLocale british(QLocale::English, QLocale::UnitedKingdom);
        const auto row = [&](const char* name, const QLocale& locale, const QDateTime& date, const char* text) {
            QTest::newRow(name) << locale << date << QString::fromUtf8(text);
        };
        row("de: minutes ahead", german, now.addSecs(22 * 60 + 30), "in 22 Min.");
        row("de: hours ago", german, now.addSecs(-5 * 3600), "vor 5 Std.");
        row("de: one day ago", german, now.addDays(-1), "vor 1 Tag");
        row("de: days ago", german, now.addDays(-3), "vor 3 Tagen");
        row("de: months ago", german, now.addMonths(-2), "vor 2\u00A0Monaten");
        row("de: now", german, now, "in 0 Sek.");
        row("vi: minutes ahead", vietnamese, now.addSecs(22 * 60), "sau 22 ph\u00FAt n\u1EEFa");
        row("vi: hours ago", vietnamese, now.addSecs(-5 * 3600), "5 gi\u1EDD tr\u01B0\u1EDBc");
        row("vi: weeks ago", vietnamese, now.addDays(-14), "2 tu\u1EA7n tr\u01B0\u1EDBc");
        row("vi: years ahead", vietnamese, now.addYears(3), "sau 3 n\u0103m n\u1EEFa");
        row("en: minutes ahead", english, now.addSecs(22 * 60), "in 22 min.");
        row("en: hours ago", english, now.addSecs(-5 * 3600), "5 hr. ago");
        row("en: days ago", english, now.addDays(-3), "3 days ago");
        row("en_GB: as in the US", british, now.addSecs(-5 * 3600), "5 hr. ago");
        row("C: English", QLocale::c(), now.addDays(1), "in 1 day");
    }
    void relativeDatesFollowTheLanguage()
    {
        QFETCH(QLocale, locale);
        QFETCH(QDateTime, date);
        QFETCH(QString, text);
        QCOMPARE(formatRelativeDate(date, QDateTime(QDate(2026, 6, 15), QTime(12, 0)), locale), text);
    }

    void prefixesCutWholeCharacters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        // "Việt" with the vowel and both marks as separate code points.
        const QString viet = QStringLiteral("Vi\u0065\u0323\u0302t nam");
        QTest::newRow("combining marks stay with their letter") << viet << 3 << QStringLiteral("Vi\u0065\u0323\u0302");
        const QString family = QStringLiteral("\U0001F469\u200D\U0001F469\u200D\U0001F467 ok");
        QTest::newRow("emoji sequence is one character")
            << family << 1 << QStringLiteral("\U0001F469\u200D\U0001F469\u200D\U0001F467");
        QTest::newRow("shorter text whole") << QStringLiteral("abc") << 10 << QStringLiteral("abc");
        QTest::newRow("nothing") << QStringLiteral("abc") << 0 << QString();
    }

    void prefixesCutWholeCharacters()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, expected);
        QCOMPARE(TextPrefix::graphemes(text, count), expected);
    }

    // An empty value is still an answer: "no title" must not read as a failure, and a result
    // nothing was put into must not read as a success.
    void resultsTellAnEmptyValueFromNoAnswer()
    {
        struct Failure
        {
            int code = -1;
        };
        const Result<std::optional<QString>, Failure> noTitle = std::optional<QString>();
        QVERIFY(noTitle.ok());
        QVERIFY(!noTitle.value().has_value());

        const Result<bool, Failure> no = false;
        QVERIFY(no.ok());
        QCOMPARE(no.value(), false);

        const Result<QString, Failure> unanswered;
        QVERIFY(!unanswered.ok());
        QCOMPARE(unanswered.error().code, -1);

        const Result<QString, Failure> refused = Failure { 7 };
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error().code, 7);

        // Nor where there is no value at all.
        QVERIFY((Result<void, Failure>::success().ok()));
        const Result<void, Failure> notDone;
        QVERIFY(!notDone.ok());
        QCOMPARE(notDone.error().code, -1);
    }
};

QUILLET_TEST_MAIN(TestFormat)
#include "TestFormat.moc"
