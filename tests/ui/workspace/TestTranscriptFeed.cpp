#include "storage/Meeting.h"
#include "storage/TranscriptSegment.h"
#include "support/AccessibleTree.h"
#include "support/FakeScheduler.h"
#include "support/TestMain.h"
#include "ui/design/RecordingDot.h"
#include "ui/workspace/TranscriptFeedView.h"

#include <QAbstractButton>
#include <QScrollBar>
#include <QTextEdit>

using namespace std::chrono_literals;

namespace {

struct Turn
{
    QString speaker;
    double at;
    QString text;
};

QList<TranscriptSegment*> segments(const QList<Turn>& turns)
{
    QList<TranscriptSegment*> list;
    for (const Turn& turn : turns) {
        auto* segment = new TranscriptSegment(turn.text, Speaker::me(), turn.at);
        segment->setSpeakerRaw(turn.speaker);
        list.append(segment);
    }
    return list;
}

// "speaker:text" per bubble; "me" for anything that counts as the user.
QStringList describe(const QList<TranscriptGroup>& groups)
{
    QStringList out;
    for (const TranscriptGroup& group : groups) {
        const QString who = group.speaker.kind == Speaker::Kind::Me ? QStringLiteral("me") : group.speaker.rawValue();
        out << who + QLatin1Char(':') + group.text();
    }
    return out;
}

QString sentence(int i)
{
    return QStringLiteral("Line %1 of the meeting, long enough to wrap over a couple of lines in a narrow feed.")
        .arg(i);
}

// A live meeting with a feed on screen, 420 × 300.
struct LiveFeed
{
    explicit LiveFeed(int lines, bool live = true)
        : meeting(QStringLiteral("Standup"), QDateTime::currentDateTimeUtc())
    {
        for (int i = 0; i < lines; ++i)
            add(i % 3 ? Speaker::them() : Speaker::me());
        feed = std::make_unique<TranscriptFeedView>(&meeting, live, false, QString(), scheduler);
        feed->resize(420, 300);
        feed->show();
    }

    void add(const Speaker& speaker)
    {
        // Three seconds apart: every line is a bubble of its own.
        meeting.appendSegment(new TranscriptSegment(sentence(next), speaker, next * 3.0));
        ++next;
    }

    QScrollBar* bar() const { return feed->verticalScrollBar(); }

    FakeScheduler scheduler;
    Meeting meeting;
    std::unique_ptr<TranscriptFeedView> feed;
    int next = 0;
};

} // namespace

class TestTranscriptFeed final : public QObject
{
    Q_OBJECT

private slots:
    void groupsTurns_data()
    {
        QTest::addColumn<QList<Turn>>("turns");
        QTest::addColumn<QStringList>("bubbles");
        QTest::newRow("1.5 s joins") << QList<Turn> { { "Me", 10.0, "a" }, { "Me", 11.5, "b" } }
                                     << QStringList { "me:a b" };
        QTest::newRow("1.6 s splits") << QList<Turn> { { "Me", 10.0, "a" }, { "Me", 11.6, "b" } }
                                      << QStringList { "me:a", "me:b" };
        QTest::newRow("steps, not span") << QList<Turn> { { "Me", 0, "a" }, { "Me", 1.5, "b" }, { "Me", 3.0, "c" } }
                                         << QStringList { "me:a b c" };
        QTest::newRow("me them me") << QList<Turn> { { "Me", 10.0, "a" }, { "Them", 10.5, "b" }, { "Me", 11.0, "c" } }
                                    << QStringList { "me:a", "Them:b", "me:c" };
        QTest::newRow("empty speaker is me")
            << QList<Turn> { { "Me", 1, "a" }, { "", 2, "b" } } << QStringList { "me:a b" };
        QTest::newRow("same name") << QList<Turn> { { "Lan", 1, "a" }, { "Lan", 2, "b" } } << QStringList { "Lan:a b" };
        QTest::newRow("two names") << QList<Turn> { { "Lan", 1, "a" }, { "Minh", 1.2, "b" } }
                                   << QStringList { "Lan:a", "Minh:b" };
        QTest::newRow("a name is not them")
            << QList<Turn> { { "Them", 1, "a" }, { "Lan", 1.2, "b" } } << QStringList { "Them:a", "Lan:b" };
        QTest::newRow("out of order") << QList<Turn> { { "Them", 9, "c" }, { "Me", 1, "a" }, { "Me", 2, "b" } }
                                      << QStringList { "me:a b", "Them:c" };
        QTest::newRow("equal times keep stored order") << QList<Turn> { { "Me", 5, "x" }, { "Them", 5, "y" },
            { "Me", 5, "z" } } << QStringList { "me:x", "Them:y", "me:z" };
        QTest::newRow("none") << QList<Turn> {} << QStringList {};
    }

    void groupsTurns()
    {
        QFETCH(QList<Turn>, turns);
        QFETCH(QStringList, bubbles);
        const QList<TranscriptSegment*> list = segments(turns);
        const QList<TranscriptGroup> groups = TranscriptFeedView::groups(list);
        QCOMPARE(describe(groups), bubbles);
        // A bubble is known by its first segment, so it keeps its identity while it grows.
        for (const TranscriptGroup& group : groups)
            QVERIFY(
                std::any_of(list.begin(), list.end(), [&](const TranscriptSegment* s) { return s->id() == group.id; }));
        if (!list.isEmpty() && describe(groups).size() == 1)
            QCOMPARE(groups.first().id, list.first()->id());
        qDeleteAll(list);
    }

    void liveRowFollowsTheSession()
    {
        LiveFeed live(0);
        TranscriptFeedView& feed = *live.feed;
        QVERIFY(QTest::qWaitForWindowExposed(&feed));
        const auto* dot = feed.viewport()->findChild<RecordingDot*>();
        QCOMPARE(feed.liveRow(), TranscriptFeedView::LiveRow::listening);
        QVERIFY(dot->isVisible());

        feed.setPaused(true);
        QCOMPARE(feed.liveRow(), TranscriptFeedView::LiveRow::paused);
        QVERIFY(!dot->isVisible());

        feed.setDraft(QStringLiteral("so the plan"));
        QCOMPARE(feed.liveRow(), TranscriptFeedView::LiveRow::draft);
        QCOMPARE(feed.dotPhase(), 0);
        live.scheduler.advance(379ms);
        QCOMPARE(feed.dotPhase(), 0);
        live.scheduler.advance(1ms);
        QCOMPARE(feed.dotPhase(), 1);
        live.scheduler.advance(380ms);
        QCOMPARE(feed.dotPhase(), 2);
        feed.setDraft(QStringLiteral("so the plan is"));
        live.scheduler.advance(380ms);
        QCOMPARE(feed.dotPhase(), 0);

        // A new draft row starts again at the first dot.
        feed.setDraft(QString());
        live.scheduler.advance(1000ms);
        feed.setDraft(QStringLiteral("next"));
        QCOMPARE(feed.dotPhase(), 0);
        live.scheduler.advance(380ms);
        QCOMPARE(feed.dotPhase(), 1);

        // Not live: no row, whatever the draft holds.
        feed.setLive(false);
        QCOMPARE(feed.liveRow(), TranscriptFeedView::LiveRow::none);
        live.scheduler.advance(1000ms);
        QCOMPARE(feed.dotPhase(), 1);
    }

    // A screen reader reads one item per bubble (who, from when, what was said) and, while live,
    // the live row: "Listening…", "Paused" or the draft. A new turn takes the live row's place,
    // and what a screen reader held of the live row is then invalid, not the new turn.
    void screenReader()
    {
        LiveFeed live(0);
        live.meeting.appendSegment(new TranscriptSegment(QStringLiteral("Morning."), Speaker::me(), 4));
        live.meeting.appendSegment(new TranscriptSegment(QStringLiteral("All here?"), Speaker::me(), 5));
        live.meeting.appendSegment(new TranscriptSegment(QStringLiteral("Yes."), Speaker::them(), 65));
        live.meeting.appendSegment(new TranscriptSegment(QStringLiteral("Agenda first."), Speaker::other("Lan"), 3725));
        TranscriptFeedView& feed = *live.feed;
        QTRY_COMPARE(feed.bubbleCount(), 3);
        QAccessibleInterface* list = AccessibleTree::of(&feed);
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(AccessibleTree::name(list), QStringLiteral("Transcript"));
        QCOMPARE(AccessibleTree::names(AccessibleTree::items(list)),
            (QStringList {
                "Me, 0:04: Morning. All here?", "Them, 1:05: Yes.", "Lan, 1:02:05: Agenda first.", "Listening…" }));
        QAccessibleInterface* first = AccessibleTree::items(list).at(0);
        QCOMPARE(first->role(), QAccessible::ListItem);
        QVERIFY(!first->state().offscreen); // what a flat review reads
        const QRect bubble = feed.bubbleRect(0);
        QCOMPARE(first->rect(), QRect(feed.viewport()->mapToGlobal(bubble.topLeft()), bubble.size()));

        feed.setPaused(true);
        QCOMPARE(AccessibleTree::name(AccessibleTree::items(list).last()), QStringLiteral("Paused"));
        feed.setDraft(QStringLiteral("so the plan"));
        QAccessibleInterface* draft = AccessibleTree::items(list).last();
        QCOMPARE(AccessibleTree::name(draft), QStringLiteral("so the plan"));
        const QAccessible::Id draftId = QAccessible::uniqueId(draft);

        live.meeting.appendSegment(new TranscriptSegment(QStringLiteral("So the plan."), Speaker::them(), 3800));
        QTRY_COMPARE(feed.bubbleCount(), 4);
        // Let go of, or at least invalid: never read as the turn that took its place.
        const QAccessibleInterface* held = QAccessible::accessibleInterface(draftId);
        QVERIFY(!held || !held->isValid());
        QCOMPARE(
            AccessibleTree::name(AccessibleTree::items(list).at(3)), QStringLiteral("Them, 1:03:20: So the plan."));
        QCoreApplication::processEvents();

        feed.setLive(false);
        QCOMPARE(list->childCount(), 4);
        QCOMPARE(
            AccessibleTree::name(AccessibleTree::items(list).last()), QStringLiteral("Them, 1:03:20: So the plan."));
    }

    // With the keyboard's focus the feed is read turn by turn: the keys move its current row,
    // which comes into view and is told as the focus.
    void keysMoveTheCurrentRow_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("lowest");
        QTest::addColumn<int>("highest");
        QTest::newRow("Down") << QList<int> { Qt::Key_Down } << 1 << 1;
        QTest::newRow("Up on the first") << QList<int> { Qt::Key_Up } << 0 << 0;
        QTest::newRow("End: the live row") << QList<int> { Qt::Key_End } << 40 << 40;
        QTest::newRow("Down on the last") << QList<int> { Qt::Key_End, Qt::Key_Down } << 40 << 40;
        QTest::newRow("Home") << QList<int> { Qt::Key_Down, Qt::Key_Down, Qt::Key_Home } << 0 << 0;
        // A page is 300 high and a bubble about 60: a few rows at a time, never one.
        QTest::newRow("Page Down") << QList<int> { Qt::Key_PageDown } << 2 << 8;
        QTest::newRow("Page Up") << QList<int> { Qt::Key_End, Qt::Key_PageUp } << 32 << 38;
    }

    void keysMoveTheCurrentRow()
    {
        QFETCH(QList<int>, keys);
        QFETCH(int, lowest);
        QFETCH(int, highest);
        AccessibleTree::EventSpy told;
        LiveFeed live(40);
        TranscriptFeedView& feed = *live.feed;
        feed.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&feed));
        feed.setFocus(Qt::TabFocusReason);
        QAccessibleInterface* list = AccessibleTree::of(&feed);
        QTRY_COMPARE(told.lastFocus(), AccessibleTree::name(list->child(0)));
        // After its row took the focus the list asks to be read again: a reader that kept it as
        // unfocused looks through every row before the current one on each step.
        const QList<AccessibleTree::EventSpy::Event>& events = AccessibleTree::EventSpy::events();
        const auto rowFocus = std::find_if(events.begin(), events.end(),
            [&](const auto& event) { return event.type == QAccessible::Focus && event.child == 0; });
        QVERIFY(std::any_of(rowFocus, events.end(), [&](const auto& event) {
            return event.type == QAccessible::Selection && event.object == &feed && event.child < 0;
        }));
        for (const int key : keys)
            QTest::keyClick(&feed, Qt::Key(key));
        const int row = list->indexOfChild(list->focusChild());
        QVERIFY2(row >= lowest && row <= highest, qPrintable(QString::number(row)));
        QAccessibleInterface* item = list->child(row);
        QCOMPARE(told.lastFocus(), AccessibleTree::name(item));
        QVERIFY(item->state().focused);
        QVERIFY(!item->state().offscreen);
        const QRect view(feed.viewport()->mapToGlobal(QPoint(0, 0)), feed.viewport()->size());
        QVERIFY(view.contains(item->rect()));
    }

    void newLinesWhileScrolledUpShowLatest()
    {
        LiveFeed live(40);
        TranscriptFeedView& feed = *live.feed;
        QVERIFY(QTest::qWaitForWindowExposed(&feed));
        QCOMPARE(feed.verticalScrollBar()->value(), 0); // opened at the top, like any stored transcript
        feed.verticalScrollBar()->setValue(feed.verticalScrollBar()->maximum());
        QCOMPARE(feed.distanceFromBottom(), 0);

        // At the end, a new line is followed.
        live.add(Speaker::them());
        QTRY_COMPARE(feed.bubbleCount(), 41);
        QTRY_COMPARE(feed.distanceFromBottom(), 0);
        QVERIFY(!feed.hasUnseen());

        // Scrolled up: nothing moves, the capsule comes.
        feed.verticalScrollBar()->setValue(feed.verticalScrollBar()->maximum() - 41);
        const int parked = feed.verticalScrollBar()->value();
        live.add(Speaker::me());
        QTRY_COMPARE(feed.bubbleCount(), 42);
        QVERIFY(feed.hasUnseen());
        QCOMPARE(feed.verticalScrollBar()->value(), parked);
        QVERIFY(feed.latestButton()->isVisible());
        QCOMPARE(feed.latestButton()->toolTip(), QStringLiteral("Jump to the newest line"));

        QTest::mouseClick(feed.latestButton(), Qt::LeftButton);
        QTRY_COMPARE(feed.distanceFromBottom(), 0);
        QVERIFY(!feed.hasUnseen());
        QTRY_VERIFY(!feed.latestButton()->isVisible());

        // Scrolling back down by hand hides it too.
        feed.verticalScrollBar()->setValue(feed.verticalScrollBar()->maximum() - 200);
        live.add(Speaker::them());
        QTRY_VERIFY(feed.hasUnseen());
        feed.verticalScrollBar()->setValue(feed.verticalScrollBar()->maximum());
        QVERIFY(!feed.hasUnseen());
    }

    void draftKeepsTheEndInView()
    {
        LiveFeed live(30);
        TranscriptFeedView& feed = *live.feed;
        QVERIFY(QTest::qWaitForWindowExposed(&feed));
        feed.verticalScrollBar()->setValue(feed.verticalScrollBar()->maximum());
        for (const char* words :
            { "we", "we should", "we should ship the new onboarding flow before the end of the month" }) {
            feed.setDraft(QString::fromLatin1(words));
            QCOMPARE(feed.distanceFromBottom(), 0); // at once, no animation
        }
        QVERIFY(!feed.hasUnseen());

        // Scrolled away, drafts neither move the view nor call for the capsule.
        feed.verticalScrollBar()->setValue(feed.verticalScrollBar()->maximum() - 300);
        const int parked = feed.verticalScrollBar()->value();
        feed.setDraft(QStringLiteral("and one more thing"));
        feed.setDraft(QString());
        QCOMPARE(feed.verticalScrollBar()->value(), parked);
        QVERIFY(!feed.hasUnseen());
    }

    // A hidden feed does no work for what arrives meanwhile, and catches up when shown.
    void hiddenFeedCatchesUp()
    {
        LiveFeed live(20);
        TranscriptFeedView& feed = *live.feed;
        QVERIFY(QTest::qWaitForWindowExposed(&feed));
        feed.verticalScrollBar()->setValue(feed.verticalScrollBar()->maximum());
        feed.hide();
        live.add(Speaker::them());
        feed.setDraft(QStringLiteral("still talking"));
        QCoreApplication::processEvents();
        QCOMPARE(feed.bubbleCount(), 20);
        feed.show();
        QCOMPARE(feed.bubbleCount(), 21);
        QCOMPARE(feed.liveRow(), TranscriptFeedView::LiveRow::draft);
        QTRY_COMPARE(feed.distanceFromBottom(), 0);
        QVERIFY(!feed.hasUnseen());
    }

    void pressedBubbleTextCanBeSelected()
    {
        LiveFeed stored(5, false);
        TranscriptFeedView& feed = *stored.feed;
        QVERIFY(QTest::qWaitForWindowExposed(&feed));
        QCOMPARE(feed.bubbleCount(), 5);
        QVERIFY(!feed.bubbleIsMine(1));
        const QRect bubble = feed.bubbleRect(1);
        QTest::mousePress(feed.viewport(), Qt::LeftButton, {}, bubble.topLeft() + QPoint(16, 16));
        QTest::mouseMove(feed.viewport(), bubble.topLeft() + QPoint(120, 16));
        QTest::mouseRelease(feed.viewport(), Qt::LeftButton, {}, bubble.topLeft() + QPoint(120, 16));
        auto* editor = feed.viewport()->findChild<QTextEdit*>();
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(editor->toPlainText(), feed.bubbleText(1));
        QVERIFY(editor->isReadOnly());
        const QString selected = editor->textCursor().selectedText();
        QVERIFY2(!selected.isEmpty() && feed.bubbleText(1).startsWith(selected), qPrintable(selected));

        // A press beside the bubbles puts the editor away.
        QTest::mouseClick(feed.viewport(), Qt::LeftButton, {}, QPoint(feed.viewport()->width() - 5, 5));
        QTRY_VERIFY(!feed.viewport()->findChild<QTextEdit*>());
    }
};

QUILLET_WIDGET_TEST_MAIN(TestTranscriptFeed)
#include "TestTranscriptFeed.moc"
