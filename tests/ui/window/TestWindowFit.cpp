#include "platform/Settings.h"
#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AppRig.h"
#include "support/TestMain.h"
#include "ui/design/ThemeController.h"
#include "ui/home/HomeView.h"
#include "ui/home/MeetingCardList.h"
#include "ui/sidebar/MeetingListView.h"
#include "ui/window/FixItBanner.h"
#include "ui/window/MainWindow.h"
#include "ui/window/RecordingControlView.h"
#include "ui/workspace/MeetingPage.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QSignalSpy>
#include <QStyleHints>
#include <QStyleOption>
#include <QTextEdit>
#include <QToolBar>
#include <algorithm>

// The main window as a demanding user meets it: it keeps the size it was given whatever opens
// inside it, every page works at its smallest size, the keyboard focus shows wherever it is,
// and a theme change reaches every colour at once.

namespace {

enum class Page { home, meeting, meetingWithChat, liveMeeting, settings, settingsWithCalendars };

struct Window
{
    Window()
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The housekeeping of the first show finalises stray recordings: a live meeting is made after it.
        QTRY_COMPARE(shown.count(), 1);
    }

    Meeting* addMeeting(const QString& title, bool summary = true)
    {
        rig.clock.advanceMs(60'000);
        auto* meeting = new Meeting(title, rig.clock.now());
        rig->store().insert(meeting);
        if (summary)
            meeting->setSummary(QStringLiteral("## Decisions\n- Ship on Friday\n- Keep the beta open"));
        for (int i = 0; i < 12; ++i)
            meeting->appendSegment(
                new TranscriptSegment(QStringLiteral("Line %1 of what was said").arg(i), Speaker::them(), i * 3.0));
        rig->store().save();
        return meeting;
    }

    void open(Page page)
    {
        MainContentView& content = window.content();
        switch (page) {
        case Page::home:
            content.setSelection(SidebarItem::home());
            break;
        case Page::meeting:
            content.setSelection(SidebarItem::meeting(addMeeting(QStringLiteral("Quarterly planning"))));
            break;
        case Page::meetingWithChat:
            content.setSelection(SidebarItem::meeting(addMeeting(QStringLiteral("Quarterly planning"))));
            settle();
            part<QAbstractButton>("chatToggle")->click();
            break;
        case Page::liveMeeting: {
            Meeting* meeting = addMeeting(QStringLiteral("Standup"), false);
            meeting->setIsRecording(true);
            content.setSelection(SidebarItem::meeting(meeting));
            break;
        }
        case Page::settings:
            content.setSelection(SidebarItem::settings());
            break;
        case Page::settingsWithCalendars:
            // The calendars arrive while the page is shown: their rows are made after the rest.
            content.setSelection(SidebarItem::settings());
            rig.calendars.addCalendar("birthdays", "Birthdays", "Contacts", false);
            rig.calendars.addCalendar("work", "Work");
            rig->calendar().start();
            QTRY_COMPARE(rig->calendar().calendars().size(), 2);
            break;
        }
        settle();
        // The recording bar slides away on the settings page and back elsewhere.
        const bool settings = page == Page::settings || page == Page::settingsWithCalendars;
        QTRY_COMPARE(content.recordingControls()->isVisibleTo(&window), !settings);
    }

    QWidget* page() const { return window.content().page(); }
    template <typename T = QWidget> T* part(const char* name) const
    {
        return page()->findChild<T*>(QString::fromLatin1(name));
    }

    // Lets every posted layout request and deferred deletion run.
    static void settle()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QApplication::processEvents();
        }
    }

    AppRig rig;
    MainWindow window { rig->windowServices() };
    QSignalSpy shown { &window, &MainWindow::shownAnew };
};

void drag(QWidget* handle, int dy)
{
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(0, dy / 2));
    QTest::mouseMove(handle, grip + QPoint(0, dy));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(0, dy));
}

// Where a widget sits in the content it scrolls with, so that scrolling does not move it.
const QScrollArea* scrollOf(const QWidget* widget, const QWidget* page)
{
    for (const QWidget* up = widget->parentWidget(); up && up != page; up = up->parentWidget())
        if (const auto* scroll = qobject_cast<const QScrollArea*>(up); scroll && scroll->widget())
            return scroll;
    return nullptr;
}

// Where a stop is, to read the Tab order by: beside a stop of the same scroll area, its place
// in the content (either may be scrolled away); else where its scroll area is on the page.
QRect placeOf(const QWidget* widget, const QWidget* page, const QWidget* other)
{
    const QScrollArea* scroll = scrollOf(widget, page);
    if (scroll && scroll == scrollOf(other, page))
        return { widget->mapTo(scroll->widget(), QPoint(0, 0)), widget->size() };
    const QWidget* shown = scroll ? static_cast<const QWidget*>(scroll) : widget;
    return { shown->mapTo(page, QPoint(0, 0)), shown->size() };
}

QString nameOf(const QWidget* widget)
{
    QString name = QString::fromLatin1(widget->metaObject()->className());
    if (!widget->objectName().isEmpty())
        name += u' ' + widget->objectName();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget); button && !button->text().isEmpty())
        name += QStringLiteral(" \"%1\"").arg(button->text());
    else if (!widget->accessibleName().isEmpty())
        name += QStringLiteral(" \"%1\"").arg(widget->accessibleName());
    return name;
}

} // namespace

Q_DECLARE_METATYPE(Page)

class TestWindowFit final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        // A caret that stays on: a focused field looks the same at every grab.
        QApplication::setCursorFlashTime(0);
    }

    // Also run at scale 2 on a small screen (see CMakeLists.txt).
    void firstWindowFitsTheScreen()
    {
        Window w;
        const QRect available = w.window.screen()->availableGeometry();
        QVERIFY2(w.window.width() <= available.width() && w.window.height() <= available.height(),
            qPrintable(QStringLiteral("%1x%2 on %3x%4")
                           .arg(w.window.width())
                           .arg(w.window.height())
                           .arg(available.width())
                           .arg(available.height())));
        QVERIFY(w.window.minimumWidth() <= available.width() && w.window.minimumHeight() <= available.height());
    }

    void windowKeepsItsSize_data()
    {
        QTest::addColumn<Page>("page");
        QTest::addColumn<bool>("smallest");
        QTest::addColumn<QString>("action");
        for (const bool smallest : { false, true }) {
            const char* size = smallest ? "smallest" : "first size";
            QTest::addRow("chat, %s", size) << Page::meeting << smallest << "chat";
            QTest::addRow("transcript and chat, %s", size) << Page::meeting << smallest << "transcript and chat";
            QTest::addRow("live chat, %s", size) << Page::liveMeeting << smallest << "chat";
            QTest::addRow("handle up, %s", size) << Page::liveMeeting << smallest << "handle up";
            QTest::addRow("handle down, %s", size) << Page::liveMeeting << smallest << "handle down";
            QTest::addRow("opening a meeting, %s", size) << Page::meeting << smallest << "";
            QTest::addRow("opening the settings, %s", size) << Page::settings << smallest << "";
        }
    }

    // Nothing a page does asks the window for more room; what does not fit gives way inside.
    void windowKeepsItsSize()
    {
        QFETCH(Page, page);
        QFETCH(bool, smallest);
        QFETCH(QString, action);
        Window w;
        if (smallest)
            w.window.resize(w.window.minimumSize());
        Window::settle();
        const QSize size = w.window.size();
        const QSize minimum = w.window.minimumSize();

        w.open(page);
        QCOMPARE(w.window.size(), size);
        const auto press = [&](const char* name) {
            auto* button = w.part<QAbstractButton>(name);
            QVERIFY(button);
            button->click();
            Window::settle();
        };
        if (action == QLatin1String("chat") || action == QLatin1String("transcript and chat")) {
            if (action == QLatin1String("transcript and chat"))
                press("transcriptToggle");
            press("chatToggle");
            QVERIFY(w.part("chatPanel")->isVisible());
            QCOMPARE(w.window.size(), size);
            press("chatToggle");
        } else if (action.startsWith(QLatin1String("handle"))) {
            drag(w.part("resizeHandle"), action == QLatin1String("handle up") ? -2000 : 2000);
            Window::settle();
        }
        QCOMPARE(w.window.size(), size);
        QCOMPARE(w.window.minimumSize(), minimum);

        // The banner's sentence (the rig is signed out) goes on on a second line where the
        // window is narrow, whole, and the window keeps its size for it.
        const FixItBanner* banner = w.window.content().banner();
        if (banner->isVisible()) {
            QCOMPARE(banner->strip(), FixItBanner::Strip::signIn);
            const QLabel* message = nullptr;
            for (const QLabel* label : banner->findChildren<QLabel*>())
                if (label->text() == banner->message())
                    message = label;
            QVERIFY(message);
            const QRect room = message->contentsRect();
            const QRect needed = message->fontMetrics().boundingRect(
                QRect(0, 0, room.width(), 100'000), Qt::TextWordWrap, message->text());
            QVERIFY2(needed.height() <= room.height() && needed.width() <= room.width(),
                qPrintable(QStringLiteral("%1x%2 in %3x%4")
                               .arg(needed.width())
                               .arg(needed.height())
                               .arg(room.width())
                               .arg(room.height())));
        }
        // Whatever is open stays inside the page, and the notes keep room to write in.
        const QRect pageRect = w.page()->rect();
        for (const char* name : { "chatPanel", "transcriptPane", "notesEditor", "actionBar" }) {
            const QWidget* part = w.part(name);
            if (!part || !part->isVisible())
                continue;
            const QRect placed(part->mapTo(w.page(), QPoint(0, 0)), part->size());
            QVERIFY2(pageRect.contains(placed) || name == QByteArray("notesEditor"), name);
        }
        // Two lines of notes at the least, however small the screen.
        if (page == Page::liveMeeting) {
            const QWidget* notes = w.part("notesEditor");
            QVERIFY2(notes->height() >= 2 * notes->fontMetrics().height(),
                qPrintable(
                    QStringLiteral("notes %1 high in a page of %2").arg(notes->height()).arg(w.page()->height())));
        }
    }

    void pagesFitTheSmallestWindow_data()
    {
        QTest::addColumn<Page>("page");
        QTest::addColumn<QString>("theme");
        for (const char* theme : { "light", "dark" }) {
            QTest::addRow("home, %s", theme) << Page::home << theme;
            QTest::addRow("meeting, %s", theme) << Page::meeting << theme;
            QTest::addRow("live meeting, %s", theme) << Page::liveMeeting << theme;
            QTest::addRow("settings, %s", theme) << Page::settings << theme;
        }
    }

    // At the smallest size every shown part of a page lies within the page's width: long texts
    // wrap or elide instead of being cut at the edge.
    void pagesFitTheSmallestWindow()
    {
        QFETCH(Page, page);
        QFETCH(QString, theme);
        Window w;
        w.rig->settings().set(SettingsKeys::appTheme, theme);
        ThemeController themes(w.rig->settings());
        w.addMeeting(QStringLiteral("A very long meeting title that goes on about the quarterly planning of the "
                                    "onboarding flow and its many reviews"));
        w.window.resize(w.window.minimumSize());
        w.open(page);
        const int width = w.page()->width();
        QVERIFY(width > 0);
        for (const QWidget* part : w.page()->findChildren<QWidget*>()) {
            if (!part->isVisibleTo(w.page()) || part->width() == 0 || part->height() == 0)
                continue;
            const int left = part->mapTo(w.page(), QPoint(0, 0)).x();
            QVERIFY2(left >= 0 && left + part->width() <= width,
                qPrintable(QStringLiteral("%1 spans %2..%3 of %4")
                               .arg(nameOf(part))
                               .arg(left)
                               .arg(left + part->width())
                               .arg(width)));
        }
    }

    void focusShows_data()
    {
        QTest::addColumn<Page>("page");
        QTest::addColumn<QString>("theme");
        for (const char* theme : { "light", "dark" }) {
            QTest::addRow("home, %s", theme) << Page::home << theme;
            QTest::addRow("meeting, %s", theme) << Page::meeting << theme;
            QTest::addRow("meeting with its chat, %s", theme) << Page::meetingWithChat << theme;
            QTest::addRow("live meeting, %s", theme) << Page::liveMeeting << theme;
            QTest::addRow("settings, %s", theme) << Page::settings << theme;
            QTest::addRow("settings with calendars, %s", theme) << Page::settingsWithCalendars << theme;
        }
    }

    // Tab goes through the window as it reads: the sidebar, the banner, the page from top to
    // bottom, the recording bar. Each stop looks different while it has the focus, beyond a
    // text caret: a stop that shows nothing (a scroll area) or only a caret is lost.
    void focusShows()
    {
        QFETCH(Page, page);
        QFETCH(QString, theme);
        Window w;
        w.rig->settings().set(SettingsKeys::appTheme, theme);
        ThemeController themes(w.rig->settings());
        w.addMeeting(QStringLiteral("Design review"));
        w.open(page);
        w.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));

        QList<QWidget*> stops;
        for (int presses = 0; presses < 80; ++presses) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w.window, Qt::Key_Tab);
            Window::settle();
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused);
            if (stops.contains(focused))
                break;
            stops.append(focused);
        }
        QVERIFY(!stops.isEmpty());

        // From the toolbar on, each part of the window in turn.
        MainContentView& content = w.window.content();
        auto* toolBar = w.window.findChild<QToolBar*>();
        const auto partOf = [&](const QWidget* stop) {
            if (toolBar->isAncestorOf(stop))
                return -1;
            if (content.sidebar()->isAncestorOf(stop))
                return 0;
            if (w.page()->isAncestorOf(stop))
                return 2;
            if (content.recordingControls()->isAncestorOf(stop))
                return 3;
            return 1; // the banners over the page
        };
        const qsizetype search = stops.indexOf(static_cast<QWidget*>(content.sidebar()->searchField()));
        QVERIFY(search >= 0);
        std::rotate(stops.begin(), stops.begin() + search, stops.end());
        // The chain goes round: the toolbar's buttons, which come after the recording bar, are
        // the first stops of the window read from its top.
        const auto firstOfToolbar
            = std::find_if(stops.begin(), stops.end(), [&](QWidget* stop) { return toolBar->isAncestorOf(stop); });
        QVERIFY(firstOfToolbar != stops.end());
        std::rotate(stops.begin(), firstOfToolbar, stops.end());
        for (qsizetype i = 1; i < stops.size(); ++i)
            QVERIFY2(partOf(stops.at(i - 1)) <= partOf(stops.at(i)),
                qPrintable(nameOf(stops.at(i)) + QStringLiteral(" comes after ") + nameOf(stops.at(i - 1))));
        if (page == Page::home)
            QVERIFY(stops.contains(static_cast<QWidget*>(static_cast<HomeView*>(w.page())->meetingList())));

        // Each stop's look with the focus elsewhere, then its own, as Tab gives it.
        for (QTextEdit* edit : w.window.findChildren<QTextEdit*>())
            edit->setCursorWidth(0);
        for (QPlainTextEdit* edit : w.window.findChildren<QPlainTextEdit*>())
            edit->setCursorWidth(0);
        w.window.setAttribute(Qt::WA_KeyboardFocusChange);
        for (QWidget* stop : std::as_const(stops)) {
            QWidget* elsewhere = stop == stops.first() ? stops.last() : stops.first();
            elsewhere->setFocus(Qt::TabFocusReason);
            Window::settle();
            const QImage unfocusedLook = stop->grab().toImage();
            stop->setFocus(Qt::TabFocusReason);
            Window::settle();
            QVERIFY2(
                stop->grab().toImage() != unfocusedLook, qPrintable(nameOf(stop) + QStringLiteral(" shows no focus")));
        }

        // Within the page: down the page, and left to right along a line.
        QList<QWidget*> pageStops;
        for (QWidget* stop : std::as_const(stops))
            if (w.page()->isAncestorOf(stop))
                pageStops.append(stop);
        QVERIFY(!pageStops.isEmpty());
        for (qsizetype i = 1; i < pageStops.size(); ++i) {
            const QWidget* before = pageStops.at(i - 1);
            const QWidget* after = pageStops.at(i);
            const QRect from = placeOf(before, w.page(), after);
            const QRect to = placeOf(after, w.page(), before);
            const bool sameLine
                = std::abs(from.center().y() - to.center().y()) < std::max(from.height(), to.height()) / 2;
            QVERIFY2(sameLine ? to.x() > from.x() : to.y() > from.y(),
                qPrintable(nameOf(after) + QStringLiteral(" comes after ") + nameOf(before)));
        }
    }

    void edgesShowOnDark_data()
    {
        QTest::addColumn<int>("element");
        QTest::addColumn<QSize>("size");
        QTest::newRow("unchecked box") << int(QStyle::PE_IndicatorCheckBox) << QSize(14, 14);
        QTest::newRow("menu") << int(QStyle::PE_PanelMenu) << QSize(120, 60);
    }

    // An unchecked checkbox and a menu keep an edge that stands out from the dark window.
    void edgesShowOnDark()
    {
        QFETCH(int, element);
        QFETCH(QSize, size);
        AppRig rig;
        rig->settings().set(SettingsKeys::appTheme, QStringLiteral("dark"));
        ThemeController themes(rig->settings());
        const QPalette dark = ThemeController::darkPalette();
        QImage image(size, QImage::Format_ARGB32);
        image.fill(dark.color(QPalette::Window));
        QStyleOption option;
        option.rect = QRect(QPoint(0, 0), size);
        option.palette = dark;
        option.state = QStyle::State_Enabled | QStyle::State_Off;
        {
            QPainter painter(&image);
            QApplication::style()->drawPrimitive(QStyle::PrimitiveElement(element), &option, &painter);
        }
        int brightest = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                brightest = std::max(brightest, qGray(image.pixel(x, y)));
        QVERIFY2(brightest - qGray(dark.color(QPalette::Window).rgb()) >= 40, qPrintable(QString::number(brightest)));
    }

    // Every colour follows a theme change at once, the recording bar's divider among them.
    void themeChangeRecolours()
    {
        Window w;
        w.rig->settings().set(SettingsKeys::appTheme, QStringLiteral("light"));
        ThemeController themes(w.rig->settings());
        w.open(Page::meeting);
        auto* divider = w.window.findChild<QWidget*>(QStringLiteral("barDivider"));
        QVERIFY(divider && divider->isVisible());
        const auto dividerColor = [&] { return divider->grab().toImage().pixelColor(divider->width() / 2, 0); };
        const auto placeholderColor
            = [&] { return w.part("titleField")->palette().color(QPalette::PlaceholderText).rgb(); };
        QCOMPARE(dividerColor(), ThemeController::lightPalette().color(QPalette::Mid));
        const QRgb lightPlaceholder = placeholderColor();

        w.rig->settings().set(SettingsKeys::appTheme, QStringLiteral("dark"));
        Window::settle();
        QCOMPARE(dividerColor(), ThemeController::darkPalette().color(QPalette::Mid));
        QVERIFY(placeholderColor() != lightPlaceholder);
        QVERIFY(qGray(placeholderColor()) > qGray(lightPlaceholder));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestWindowFit)
#include "TestWindowFit.moc"
