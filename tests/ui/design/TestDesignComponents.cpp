#include "format/TimeText.h"
#include "support/AccessibleTree.h"
#include "support/FakeScheduler.h"
#include "support/TestMain.h"
#include "ui/design/Announcement.h"
#include "ui/design/Availability.h"
#include "ui/design/CopyActionButton.h"
#include "ui/design/EditorialLabel.h"
#include "ui/design/PillButton.h"
#include "ui/design/PlainButton.h"
#include "ui/design/ReadingColumn.h"
#include "ui/design/RecordingDot.h"
#include "ui/design/Rule.h"
#include "ui/design/SettingsCard.h"
#include "ui/design/SettingsRow.h"
#include "ui/design/Spinner.h"
#include "ui/design/SymbolButton.h"
#include "ui/design/TextFieldFocus.h"
#include "ui/design/ToneLabel.h"
#include "ui/workspace/SummaryMarkdown.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

using namespace std::chrono_literals;

namespace {

// How many rows of the image hold any ink.
int inkRows(const QImage& image)
{
    int rows = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        rows += std::any_of(line, line + image.width(), [](QRgb pixel) { return qAlpha(pixel) > 0; }) ? 1 : 0;
    }
    return rows;
}

} // namespace

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

    void keysPressFocusedButtons_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("key");
        for (const char* kind : { "pill", "plain", "symbol", "copy" }) {
            QTest::addRow("%s, Return", kind) << kind << int(Qt::Key_Return);
            QTest::addRow("%s, Enter", kind) << kind << int(Qt::Key_Enter);
            QTest::addRow("%s, Space", kind) << kind << int(Qt::Key_Space);
        }
    }

    // Enter presses a focused button once, as Space does, and a key held down presses it once.
    void keysPressFocusedButtons()
    {
        QFETCH(QString, kind);
        QFETCH(int, key);
        FakeScheduler scheduler;
        std::unique_ptr<QAbstractButton> button;
        if (kind == QLatin1String("pill"))
            button = std::make_unique<PillButton>(QStringLiteral("Get started"), true);
        else if (kind == QLatin1String("plain"))
            button
                = std::make_unique<PlainButton>(QStringLiteral("Skip"), Quillet::caption(), Quillet::Tone::secondary);
        else if (kind == QLatin1String("symbol")) {
            SymbolButton::Look look;
            look.symbol = QStringLiteral("sparkles");
            button = std::make_unique<SymbolButton>(look);
        } else
            button = std::make_unique<CopyActionButton>(
                QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), [] {}, scheduler);
        button->show();
        QVERIFY(QTest::qWaitForWindowExposed(button.get()));
        button->setFocus(Qt::TabFocusReason);
        QSignalSpy clicked(button.get(), &QAbstractButton::clicked);

        QTest::keyClick(button.get(), Qt::Key(key));
        QCOMPARE(clicked.count(), 1);
        QTest::keyPress(button.get(), Qt::Key(key));
        QKeyEvent held(QEvent::KeyPress, key, Qt::NoModifier, QString(), /*autorep*/ true);
        QCoreApplication::sendEvent(button.get(), &held);
        QTest::keyRelease(button.get(), Qt::Key(key));
        QCOMPARE(clicked.count(), 2);
        // With Ctrl it is another command's key.
        QTest::keyClick(button.get(), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(clicked.count(), 2);
    }

    // A field reached by Tab is told as the focus before its text is told selected: Orca takes
    // a field whose selection it hears first for the focus already, and says nothing of it.
    void textFieldIsToldFocusedFirst()
    {
        TextFieldFocus::install();
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* before = new QLineEdit;
        auto* field = new QLineEdit(QStringLiteral("ann@example.com"));
        layout->addWidget(before);
        layout->addWidget(field);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        before->setFocus(Qt::TabFocusReason);
        AccessibleTree::EventSpy told;
        QTest::keyClick(before, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), field);
        // Its text is still selected, as Tab selects it.
        QTRY_COMPARE(field->selectedText(), field->text());
        QStringList aboutField;
        for (const AccessibleTree::EventSpy::Event& event : told.events())
            if (event.object == field && event.type != QAccessible::StateChanged)
                aboutField.append(event.type == QAccessible::Focus ? QStringLiteral("focus") : QStringLiteral("text"));
        QVERIFY(aboutField.size() > 1);
        QCOMPARE(aboutField.first(), QStringLiteral("focus"));
    }

    void unavailableButtonKeepsTheFocus_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : { "pill", "plain", "symbol" })
            QTest::newRow(kind) << kind;
    }

    // A focused button that becomes unavailable while its work runs keeps the keyboard and
    // ignores every press; once the focus leaves it, it is disabled as any other would be.
    void unavailableButtonKeepsTheFocus()
    {
        QFETCH(QString, kind);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        QAbstractButton* button = nullptr;
        if (kind == QLatin1String("pill"))
            button = new PillButton(QStringLiteral("Send link"), false);
        else if (kind == QLatin1String("plain"))
            button = new PlainButton(QStringLiteral("Resend"), Quillet::caption(), Quillet::Tone::secondary);
        else {
            SymbolButton::Look look;
            look.symbol = QStringLiteral("arrow.clockwise");
            button = new SymbolButton(look);
            button->setAccessibleName(QStringLiteral("Regenerate"));
        }
        auto* next = new PillButton(QStringLiteral("Use my own key instead"), false);
        layout->addWidget(button);
        layout->addWidget(next);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        button->setFocus(Qt::TabFocusReason);
        QSignalSpy clicked(button, &QAbstractButton::clicked);
        AccessibleTree::EventSpy told;
        const auto read = [&] { return AccessibleTree::of(button); };
        QVERIFY(!read()->state().disabled);

        Availability::set(*button, false);
        QCOMPARE(QApplication::focusWidget(), button);
        QVERIFY(!Availability::isAvailable(*button));
        // A screen reader reads it as unavailable, and is told the change.
        QVERIFY(read()->state().disabled);
        QVERIFY(std::any_of(told.events().cbegin(), told.events().cend(),
            [&](const auto& event) { return event.type == QAccessible::StateChanged && event.object == button; }));
        for (const Qt::Key key : { Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter })
            QTest::keyClick(button, key);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 0);

        Availability::set(*button, true);
        QVERIFY(!read()->state().disabled);
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(clicked.count(), 1);

        // Unfocused, it is simply disabled; left while unavailable, it is disabled then.
        Availability::set(*button, false);
        next->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(!button->isEnabled());
        Availability::set(*button, true);
        QVERIFY(Availability::isAvailable(*button));
    }

    // What is said of its own accord reaches a screen reader as a notification shown with the
    // text: what is said together goes as one, repeats within it said once, and nothing from a
    // view out of sight.
    void announcementsAreSaidOnce()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* line = new QLabel;
        Announcement::marks(*line, QAccessible::AlertMessage);
        auto* hidden = new QLabel;
        layout->addWidget(line);
        layout->addWidget(hidden);
        hidden->hide();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        AccessibleTree::EventSpy events;

        Announcement::say(*line, QStringLiteral("Recording paused."));
        Announcement::say(*line, QStringLiteral("Recording paused."));
        Announcement::say(window, QStringLiteral("Summary written."));
        Announcement::say(*hidden, QStringLiteral("Nobody sees this."));
        QCOMPARE(events.announcements(), QStringList());
        QTRY_COMPARE(events.announcements(), QStringList { QStringLiteral("Recording paused. Summary written.") });

        Announcement::setText(*line, QStringLiteral("The service could not be reached."));
        Announcement::setText(*line, QStringLiteral("The service could not be reached."));
        QTRY_COMPARE(events.announcements().size(), 2);
        QCOMPARE(events.announcements().last(), QStringLiteral("The service could not be reached."));
        QCOMPARE(QAccessible::queryAccessibleInterface(line)->role(), QAccessible::AlertMessage);
        // Said again once the first was said: news again.
        for (int round = 3; round <= 4; ++round) {
            Announcement::say(*line, QStringLiteral("Recording resumed."));
            QTRY_COMPARE(events.announcements().size(), round);
        }

        // Said once the focus rests: a page that comes moves it over a few turns, and Orca drops
        // a notification it holds when the next focus comes in such a flood.
        auto* field = new QLineEdit;
        layout->addWidget(field);
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        events.clear();
        Announcement::say(window, QStringLiteral("Recording stopped."));
        QMetaObject::invokeMethod(
            field, [field] { field->setFocus(Qt::OtherFocusReason); }, Qt::QueuedConnection);
        QTRY_COMPARE(events.announcements(), QStringList { QStringLiteral("Recording stopped.") });
        const QList<AccessibleTree::EventSpy::Event>& told = AccessibleTree::EventSpy::events();
        const auto focus = std::find_if(told.cbegin(), told.cend(),
            [field](const auto& event) { return event.type == QAccessible::Focus && event.object == field; });
        QVERIFY(focus != told.cend());
        QVERIFY(std::any_of(focus, told.cend(), [](const auto& event) {
            return event.type == QAccessible::ObjectShow && event.role == QAccessible::Notification;
        }));
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
        auto* divider = Rule::betweenRows();
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

    void ruleDrawsFromItsLeadingInset_data()
    {
        QTest::addColumn<Qt::LayoutDirection>("direction");
        QTest::addColumn<bool>("betweenRows");
        QTest::addColumn<int>("firstInked");
        QTest::addColumn<int>("lastInked");
        QTest::newRow("across") << Qt::LeftToRight << false << 0 << 199;
        QTest::newRow("between rows") << Qt::LeftToRight << true << int(Rule::kRowInset) << 199;
        QTest::newRow("between rows, right to left") << Qt::RightToLeft << true << 0 << 199 - Rule::kRowInset;
    }

    void ruleDrawsFromItsLeadingInset()
    {
        QFETCH(Qt::LayoutDirection, direction);
        QFETCH(bool, betweenRows);
        QFETCH(int, firstInked);
        QFETCH(int, lastInked);

        QWidget card;
        card.setLayoutDirection(direction);
        auto* layout = new QVBoxLayout(&card);
        layout->setContentsMargins(0, 0, 0, 0);
        Rule* rule = betweenRows ? Rule::betweenRows() : new Rule;
        layout->addWidget(rule);
        layout->addStretch(1);
        card.resize(200, 40);
        card.show();
        QVERIFY(QTest::qWaitForWindowExposed(&card));
        QCOMPARE(rule->geometry(), QRect(0, 0, 200, 1));

        QImage image(rule->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        rule->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        QList<int> inked;
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, 0)) > 0)
                inked.append(x);
        QVERIFY(!inked.isEmpty());
        QCOMPARE(inked.first(), firstInked);
        QCOMPARE(inked.last(), lastInked);
        QCOMPARE(inked.size(), lastInked - firstInked + 1);
    }

    void ruleTakesTheColourOfTheCurrentTheme()
    {
        Rule rule;
        rule.resize(20, 1);
        const auto drawn = [&rule] {
            QImage image(rule.size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            rule.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
            return image.pixelColor(10, 0);
        };
        QList<QColor> seen;
        for (const QColor text : { QColor(Qt::black), QColor(Qt::white) }) {
            QPalette palette = rule.palette();
            palette.setColor(QPalette::WindowText, text);
            rule.setPalette(palette);
            const QColor pixel = drawn();
            const QColor wanted = Rule::separator(palette);
            QVERIFY2(std::abs(pixel.alpha() - wanted.alpha()) <= 1 && std::abs(pixel.red() - wanted.red()) <= 2
                    && std::abs(pixel.blue() - wanted.blue()) <= 2,
                qPrintable(pixel.name(QColor::HexArgb) + QStringLiteral(" for ") + wanted.name(QColor::HexArgb)));
            seen.append(pixel);
        }
        QVERIFY(seen.first().red() < 10 && seen.last().red() > 245);
    }

    // The column keeps its measure on a wide page, centred or at the leading side; on a narrow
    // one it takes the page's width. Wrapped text that fits the page does not make it scroll.
    void readingColumnKeepsItsMeasure_data()
    {
        QTest::addColumn<ReadingColumn::Placement>("placement");
        QTest::addColumn<Qt::LayoutDirection>("direction");
        QTest::addColumn<int>("pageWidth");
        QTest::addColumn<Qt::Alignment>("side");
        using P = ReadingColumn::Placement;
        QTest::newRow("centred, wide") << P::Centred << Qt::LeftToRight << 1000 << Qt::Alignment(Qt::AlignHCenter);
        QTest::newRow("leading, wide") << P::Leading << Qt::LeftToRight << 1000 << Qt::Alignment(Qt::AlignLeft);
        QTest::newRow("leading, wide, right to left")
            << P::Leading << Qt::RightToLeft << 1000 << Qt::Alignment(Qt::AlignRight);
        QTest::newRow("centred, narrow") << P::Centred << Qt::LeftToRight << 300 << Qt::Alignment(Qt::AlignLeft);
        QTest::newRow("leading, narrow") << P::Leading << Qt::LeftToRight << 300 << Qt::Alignment(Qt::AlignLeft);
    }
    void readingColumnKeepsItsMeasure()
    {
        QFETCH(ReadingColumn::Placement, placement);
        QFETCH(Qt::LayoutDirection, direction);
        QFETCH(int, pageWidth);
        QFETCH(Qt::Alignment, side);

        ReadingColumn page(600, placement);
        page.setLayoutDirection(direction);
        auto* layout = new QVBoxLayout(page.column());
        layout->setContentsMargins(0, 0, 0, 0);
        auto* wrapped = new QLabel(QStringLiteral("A short paragraph that wraps onto a few lines. ").repeated(4));
        wrapped->setWordWrap(true);
        layout->addWidget(wrapped);
        layout->addStretch(1);
        page.resize(pageWidth, 600);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));

        const int viewport = page.viewport()->width();
        QTRY_COMPARE(page.widget()->width(), viewport);
        const int width = std::min(600, viewport);
        QCOMPARE(page.column()->width(), width);
        const int left = side == Qt::AlignHCenter ? (viewport - width) / 2
            : side == Qt::AlignRight              ? viewport - width
                                                  : 0;
        QVERIFY2(std::abs(page.column()->x() - left) <= 1, qPrintable(QString::number(page.column()->x())));
        QVERIFY(wrapped->geometry().right() < width);
        QCOMPARE(page.verticalScrollBar()->maximum(), 0);
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

    // Capital Vietnamese letters stack two marks ("Ế", "Ổ") that rise above the font's ascent:
    // a label that shows its text in capitals keeps room for them instead of cutting them.
    void capitalsKeepTheirStackedMarks_data()
    {
        QTest::addColumn<bool>("summaryHeading"); // false: an EditorialLabel
        QTest::addColumn<QString>("text");
        for (const bool heading : { false, true }) {
            const char* kind = heading ? "summary heading" : "editorial label";
            QTest::addRow("%s, Quyết định", kind) << heading << QStringLiteral("Quyết định");
            QTest::addRow("%s, Tổng quan", kind) << heading << QStringLiteral("Tổng quan");
            QTest::addRow("%s, Decisions", kind) << heading << QStringLiteral("Decisions");
        }
    }

    void capitalsKeepTheirStackedMarks()
    {
        QFETCH(bool, summaryHeading);
        QFETCH(QString, text);
        std::unique_ptr<QWidget> owner;
        QLabel* label = nullptr;
        if (summaryHeading) {
            auto* summary = new SummaryMarkdown(nullptr);
            summary->setSelectable(true); // as the meeting view shows it
            summary->setMarkdown(QStringLiteral("## ") + text);
            owner.reset(summary);
            label = summary->findChild<QLabel*>();
        } else {
            label = new EditorialLabel(text, Quillet::Tone::secondary);
            owner.reset(label);
        }
        QVERIFY(label);
        owner->resize(500, owner->sizeHint().height());
        owner->show();
        QVERIFY(QTest::qWaitForWindowExposed(owner.get()));

        // The same text drawn with nothing to cut it.
        const QString capitals = text.toUpper();
        QImage free(600, 200, QImage::Format_ARGB32_Premultiplied);
        free.fill(Qt::transparent);
        {
            QPainter painter(&free);
            painter.setFont(label->font());
            painter.setPen(Qt::black);
            painter.drawText(QPointF(10, 100), capitals);
        }
        QImage shown(label->size(), QImage::Format_ARGB32_Premultiplied);
        shown.fill(Qt::transparent);
        label->render(&shown, QPoint(), QRegion(), QWidget::DrawChildren);
        QVERIFY(inkRows(free) > 0);
        QVERIFY2(std::abs(inkRows(shown) - inkRows(free)) <= 1,
            qPrintable(QStringLiteral("%1 rows of ink shown, %2 drawn").arg(inkRows(shown)).arg(inkRows(free))));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestDesignComponents)
#include "TestDesignComponents.moc"
