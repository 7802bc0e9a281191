#include "format/TimeText.h"
#include "platform/Settings.h"
#include "support/FakeScheduler.h"
#include "support/TestMain.h"
#include "ui/CopyActionButton.h"
#include "ui/RecordingDot.h"
#include "ui/SettingsCard.h"
#include "ui/SettingsDivider.h"
#include "ui/SettingsRow.h"
#include "ui/Spinner.h"
#include "ui/ThemeController.h"
#include "ui/ToneLabel.h"

#include <QCheckBox>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

using namespace std::chrono_literals;

class TestDesignComponents final : public QObject
{
    Q_OBJECT

private slots:
    void copyButtonKeepsEachPressesReset()
    {
        FakeScheduler scheduler;
        int copies = 0;
        CopyActionButton button(
            QStringLiteral("Copy transcript"), QStringLiteral("doc.on.doc"), [&] { ++copies; }, scheduler);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));

        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(copies, 1);
        QVERIFY(button.isCopied());
        scheduler.advance(1000ms);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(copies, 2);

        // The first press's reset is not pushed back by the second press.
        scheduler.advance(399ms);
        QVERIFY(button.isCopied());
        scheduler.advance(1ms);
        QVERIFY(!button.isCopied());
        QSignalSpy changes(&button, &CopyActionButton::copiedChanged);
        scheduler.advance(1000ms);
        QCOMPARE(changes.count(), 0);
    }

    void disabledCopyButtonIgnoresPresses()
    {
        FakeScheduler scheduler;
        int copies = 0;
        CopyActionButton button(
            QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), [&] { ++copies; }, scheduler);
        button.setEnabled(false);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(copies, 0);
        QVERIFY(!button.isCopied());
    }

    void settingsRowGrowsToShowLongSubtitle()
    {
        const QString subtitle = QStringLiteral(
            "Drops what the microphone hears of the other side of a call, so each sentence is written down "
            "once, by the person who said it, even when the speakers are loud and close to the microphone.");
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* card = new SettingsCard;
        auto* row = new SettingsRow(
            QStringLiteral("speaker.wave.2"), QStringLiteral("Echo suppression"), subtitle, new QCheckBox);
        auto* divider = new SettingsDivider;
        auto* next = new SettingsRow(QStringLiteral("gearshape"), QStringLiteral("Sounds"), {}, new QCheckBox);
        card->addWidget(row);
        card->addWidget(divider);
        card->addWidget(next);
        layout->addWidget(card);
        layout->addStretch();
        window.resize(280, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const auto wholeTextFits = [&] {
            const QLabel* label = row->subtitleLabel();
            const QRect needed = label->fontMetrics().boundingRect(
                QRect(0, 0, label->width(), 10000), Qt::TextWordWrap, label->text());
            return label->height() >= needed.height() && row->rect().contains(label->geometry())
                && card->rect().contains(row->geometry()) && row->geometry().bottom() < divider->geometry().top()
                && divider->geometry().bottom() < next->geometry().top();
        };
        QTRY_VERIFY(wholeTextFits());
        const int lines = row->subtitleLabel()->height() / row->subtitleLabel()->fontMetrics().lineSpacing();
        QVERIFY2(lines >= 4, qPrintable(QString::number(lines)));
        QCOMPARE(next->height(), next->sizeHint().height());

        // Wider, the subtitle needs fewer lines and the row gives the height back.
        const int narrowHeight = row->height();
        window.resize(900, 600);
        QTRY_VERIFY(row->height() < narrowHeight);
        QTRY_VERIFY(wholeTextFits());
    }

    void animationsStopWhileHidden()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* dot = new RecordingDot(7);
        auto* spinner = new Spinner;
        layout->addWidget(dot);
        layout->addWidget(spinner);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(dot->isPulsing());
        QVERIFY(spinner->isSpinning());
        QTRY_VERIFY(dot->opacity() < 0.9);

        // A window put away in the tray costs nothing.
        window.hide();
        QVERIFY(!dot->isPulsing());
        QVERIFY(!spinner->isSpinning());

        window.show();
        QCOMPARE(dot->opacity(), 1.0);
        QVERIFY(dot->isPulsing());
        QVERIFY(spinner->isSpinning());
    }

    void themeFollowsSetting_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<ThemeController::Appearance>("appearance");
        QTest::newRow("dark") << QStringLiteral("dark") << ThemeController::Appearance::dark;
        QTest::newRow("light") << QStringLiteral("light") << ThemeController::Appearance::light;
        QTest::newRow("system") << QStringLiteral("system") << ThemeController::Appearance::system;
        QTest::newRow("empty") << QString() << ThemeController::Appearance::system;
        QTest::newRow("unknown") << QStringLiteral("purple") << ThemeController::Appearance::system;
    }

    void themeFollowsSetting()
    {
        QFETCH(QString, value);
        QFETCH(ThemeController::Appearance, appearance);

        // Another style than the one the themes use, as a desktop's own would be.
        QApplication::setStyle(QStringLiteral("Windows"));
        QApplication::setPalette(QApplication::style()->standardPalette());
        const QPalette startupPalette = QApplication::palette();
        QTemporaryDir dir;
        Settings settings(dir.filePath(QStringLiteral("settings.ini")));
        settings.set(SettingsKeys::appTheme, QStringLiteral("light"));
        ThemeController theme(settings);

        QWidget window;
        auto* caption = new ToneLabel(QStringLiteral("Caption"), Quillet::caption(), Quillet::Tone::secondary);
        (new QVBoxLayout(&window))->addWidget(caption);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        settings.set(SettingsKeys::appTheme, QStringLiteral("dark"));
        settings.set(SettingsKeys::appTheme, value);
        QCOMPARE(theme.appearance(), appearance);
        const QPalette expected = appearance == ThemeController::Appearance::dark ? ThemeController::darkPalette()
            : appearance == ThemeController::Appearance::light                    ? ThemeController::lightPalette()
                                                                                  : startupPalette;
        QCOMPARE(QApplication::style()->name().toLower(),
            appearance == ThemeController::Appearance::system ? QStringLiteral("windows") : QStringLiteral("fusion"));
        QCOMPARE(QApplication::palette().color(QPalette::Window), expected.color(QPalette::Window));
        QTRY_COMPARE(window.palette().color(QPalette::WindowText), expected.color(QPalette::WindowText));
        QTRY_COMPARE(caption->palette().color(QPalette::WindowText), Quillet::secondary(expected));
    }

    void elapsedText_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("elapsed");
        QTest::addColumn<QString>("minutes");
        QTest::newRow("zero") << 0.0 << "0:00"
                              << "0:00";
        QTest::newRow("fraction dropped") << 59.9 << "0:59"
                                          << "0:59";
        QTest::newRow("minute") << 61.0 << "1:01"
                                << "1:01";
        QTest::newRow("last before hour") << 3599.0 << "59:59"
                                          << "59:59";
        QTest::newRow("hour") << 3600.0 << "1:00:00"
                              << "60:00";
        QTest::newRow("hour and more") << 3725.0 << "1:02:05"
                                       << "62:05";
        QTest::newRow("negative") << -3.0 << "0:00"
                                  << "0:00";
        QTest::newRow("not a number") << std::nan("") << ""
                                      << "";
        QTest::newRow("too large") << 1e300 << ""
                                   << "";
    }

    void elapsedText()
    {
        QFETCH(double, seconds);
        QFETCH(QString, elapsed);
        QFETCH(QString, minutes);
        QCOMPARE(formatElapsed(seconds), elapsed);
        QCOMPARE(formatElapsedMinutes(seconds), minutes);
    }

    void durationText_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        constexpr double infinity = std::numeric_limits<double>::infinity();
        QTest::newRow("under a minute") << 59.9 << "<1m";
        QTest::newRow("negative") << -120.0 << "<1m";
        QTest::newRow("minute") << 60.0 << "1m";
        QTest::newRow("last before hour") << 3599.0 << "59m";
        QTest::newRow("hour") << 3600.0 << "1h 0m";
        QTest::newRow("hour and minutes") << 3725.0 << "1h 2m";
        QTest::newRow("largest count") << 9223372036854774784.0 << "2562047788015215h 13m";
        QTest::newRow("2^63") << 9223372036854775808.0 << "";
        QTest::newRow("huge") << 1e19 << "";
        QTest::newRow("minus huge") << -1e19 << "";
        QTest::newRow("infinite") << infinity << "";
        QTest::newRow("minus infinite") << -infinity << "";
        QTest::newRow("not a number") << std::nan("") << "";
    }

    void durationText()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(formatDuration(seconds), text);
    }

    void relativeDate_data()
    {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QString>("text");
        const QDateTime now(QDate(2026, 6, 15), QTime(12, 0));
        QTest::newRow("now") << now << "in 0 sec.";
        QTest::newRow("one second") << now.addSecs(-1) << "1 sec. ago";
        QTest::newRow("seconds") << now.addSecs(-59) << "59 sec. ago";
        QTest::newRow("future minutes") << now.addSecs(5 * 60 + 30) << "in 5 min.";
        QTest::newRow("hours") << now.addSecs(-2 * 3600) << "2 hr. ago";
        QTest::newRow("whole hours only") << now.addSecs(-(2 * 3600 - 1)) << "1 hr. ago";
        QTest::newRow("under a day") << now.addSecs(-(24 * 3600 - 1)) << "23 hr. ago";
        QTest::newRow("one day") << now.addSecs(-36 * 3600) << "1 day ago";
        QTest::newRow("days") << now.addDays(-3) << "3 days ago";
        QTest::newRow("future day") << now.addDays(1) << "in 1 day";
        QTest::newRow("under two weeks") << now.addDays(-13) << "1 wk. ago";
        QTest::newRow("weeks") << now.addDays(-14) << "2 wk. ago";
        QTest::newRow("not quite a month") << now.addMonths(-1).addSecs(60) << "4 wk. ago";
        QTest::newRow("months") << now.addMonths(-2) << "2 mo. ago";
        QTest::newRow("year") << now.addYears(-1) << "1 yr. ago";
        QTest::newRow("future years") << now.addYears(3).addDays(20) << "in 3 yr.";
        QTest::newRow("invalid") << QDateTime() << "";
    }

    void relativeDate()
    {
        QFETCH(QDateTime, date);
        QFETCH(QString, text);
        QCOMPARE(formatRelativeDate(date, QDateTime(QDate(2026, 6, 15), QTime(12, 0))), text);
    }
};

QUILLET_WIDGET_TEST_MAIN(TestDesignComponents)
#include "TestDesignComponents.moc"
