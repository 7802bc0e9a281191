#include "markdown/InlineRun.h"
#include "support/AccessibleTree.h"
#include "support/RecordingUrlOpener.h"
#include "support/TestMain.h"
#include "ui/design/Quillet.h"
#include "ui/workspace/SummaryMarkdown.h"

#include <QLabel>
#include <QLayout>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <algorithm>

namespace {

using Block = SummaryMarkdown::Block;
using Run = SummaryMarkdown::Run;

QList<QLabel*> rowLabels(const SummaryMarkdown& view)
{
    return view.findChildren<QLabel*>();
}

// What a rich-text label shows, and the colour of each stretch of it.
QList<std::pair<QString, QColor>> shownRuns(const QLabel& label)
{
    QTextDocument document;
    document.setHtml(label.text());
    QList<std::pair<QString, QColor>> runs;
    for (auto it = document.begin().begin(); !it.atEnd(); ++it)
        runs.append({ it.fragment().text(), it.fragment().charFormat().foreground().color() });
    return runs;
}

} // namespace

class TestSummaryMarkdown final : public QObject
{
    Q_OBJECT

private slots:
    // A text that grows in pieces shows what the whole text shows at once: a line may become a
    // heading, a "\r" and a "\n" that arrive apart are one line break.
    void growingTextEndsAsTheWhole_data()
    {
        QTest::addColumn<QStringList>("pieces");
        QTest::newRow("lines") << QStringList { "## Sum", "mary\n- **Ow", "ner:** Lan\n", "\nWe a", "greed." };
        QTest::newRow("becomes a heading") << QStringList { "a\n#", "#", " Next\n- [", "x] done" };
        QTest::newRow("crlf split") << QStringList { "a\r", "\nb\r", "\n", "  \n", "- c" };
        QTest::newRow("becomes blank") << QStringList { "a\n", " ", "\t", "\nb" };
        // "%w" is words enough to cut the line into pieces, which then grow in place.
        QTest::newRow("long, blanks between") << QStringList { "%w", " ", " \t", "end  ", " ", "x" };
        QTest::newRow("long, crlf split") << QStringList { "%w\r", "\n- next", " %w" };
        QTest::newRow("long, escape split") << QStringList { "%w\\", "*not emphasis* \\", "\\" };
        QTest::newRow("long, code split") << QStringList { "%w`", "`code`", "` done `x" };
        QTest::newRow("long, links split")
            << QStringList { "%w [the notes]", "(https://notes", ".test/x) <https:", "//notes.test/y>" };
        QTest::newRow("long, emphasis closes late") << QStringList { "- *%w", "%w", "x* and __a", "%w", "b__" };
        QTest::newRow("long task") << QStringList { "- [x] %w", "**done", "**" };
    }

    void growingTextEndsAsTheWhole()
    {
        QFETCH(QStringList, pieces);
        pieces.replaceInStrings(QStringLiteral("%w"), QStringLiteral("we agreed to ship on Friday ").repeated(120));
        // Rows of a few pieces each: every row and piece is made at once.
        SummaryMarkdown grown(nullptr);
        SummaryMarkdown appended(nullptr);
        QString text;
        for (const QString& piece : pieces) {
            text += piece;
            grown.setMarkdown(text);
            appended.appendMarkdown(piece);
        }
        SummaryMarkdown whole(nullptr);
        whole.setMarkdown(text);
        const auto texts = [](const SummaryMarkdown& view) {
            QStringList out;
            for (const QLabel* label : rowLabels(view))
                out << label->text();
            out.sort();
            return out;
        };
        const auto pieceTexts = [](const SummaryMarkdown& view) {
            QStringList out;
            for (const QTextBrowser* piece : view.findChildren<QTextBrowser*>())
                out << piece->toHtml();
            return out;
        };
        for (const SummaryMarkdown* view : { &grown, &appended }) {
            QCOMPARE(view->markdown(), text);
            QCOMPARE(view->blocks(), whole.blocks());
            QCOMPARE(texts(*view), texts(whole));
            QCOMPARE(pieceTexts(*view), pieceTexts(whole));
        }
    }

    // A long text shows every line in order, though its rows come a few at a time, and text
    // added meanwhile comes after them.
    void longTextShowsEveryLineInOrder()
    {
        QString text;
        for (int i = 0; i < 300; ++i)
            text += QStringLiteral("Line %1\n").arg(i);
        SummaryMarkdown view(nullptr);
        view.resize(400, 600);
        view.show();
        view.setMarkdown(text);
        view.appendMarkdown(u"- Last");
        QTRY_COMPARE(rowLabels(view).size(), 301);
        // Rows made while the view shows are shown from the event loop.
        QTRY_VERIFY(std::ranges::all_of(rowLabels(view), [](const QLabel* label) { return label->isVisible(); }));
        view.layout()->activate();
        QList<QLabel*> labels = rowLabels(view);
        std::sort(labels.begin(), labels.end(), [&](const QLabel* a, const QLabel* b) {
            return a->mapTo(&view, QPoint()).y() < b->mapTo(&view, QPoint()).y();
        });
        QStringList shown;
        for (const QLabel* label : labels) {
            QTextDocument document;
            document.setHtml(label->text());
            shown << document.toPlainText();
        }
        QCOMPARE(shown.first(), QStringLiteral("Line 0"));
        QCOMPARE(shown.at(150), QStringLiteral("Line 150"));
        QCOMPARE(shown.last(), QStringLiteral("Last"));
    }

    // A row keeps its height for a width, so a streamed answer does not lay every row out again
    // at every piece; the height must still follow the width, the text and the font, or rows
    // would overlap or leave gaps.
    void rowHeightFollowsWidthTextAndFont()
    {
        SummaryMarkdown view(nullptr);
        view.setMarkdown(QStringLiteral("- We agreed to ship on **Friday** after the review"));
        QLabel* row = rowLabels(view).first();
        const auto asFresh = [row](int width) {
            QLabel fresh;
            fresh.setWordWrap(true);
            fresh.setTextFormat(Qt::RichText);
            fresh.setFont(row->font());
            fresh.setText(row->text());
            return fresh.heightForWidth(width);
        };
        const QList<int> widths { 90, 500, 90, 1200, 500 };
        for (const int width : widths)
            QCOMPARE(row->heightForWidth(width), asFresh(width));
        QVERIFY(row->heightForWidth(90) > row->heightForWidth(1200));

        view.appendMarkdown(u" and to write the release notes, the changelog and the announcement before then");
        QCOMPARE(rowLabels(view).first(), row);
        for (const int width : widths)
            QCOMPARE(row->heightForWidth(width), asFresh(width));

        QFont larger = row->font();
        if (larger.pixelSize() > 0)
            larger.setPixelSize(larger.pixelSize() * 2);
        else
            larger.setPointSizeF(larger.pointSizeF() * 2);
        row->setFont(larger);
        for (const int width : widths)
            QCOMPARE(row->heightForWidth(width), asFresh(width));
    }

    void longLineShowsAllItsTextInTheColumn_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("cut");
        const QString words = QStringLiteral("we agreed to ship on Friday ").repeated(300);
        QTest::newRow("ordinary") << QStringLiteral("We agreed to ship on **Friday** after the review.") << false;
        QTest::newRow("words and links") << words
                + QStringLiteral("see [the **notes**](https://notes.test/x) or [Sign in](quillet://auth?t=1) ") + words
                + QStringLiteral("<https://notes.test/y>")
                                         << true;
        QTest::newRow("brackets") << QString(20000, QLatin1Char('[')) << true;
        QTest::newRow("stars") << QStringLiteral("*a ").repeated(7000) << true;
        QTest::newRow("one long word in a bullet") << QStringLiteral("- ") + QString(9000, QChar(0x00e9)) << true;
        QTest::newRow("emphasis over the whole line")
            << QStringLiteral("**") + words.trimmed() + QStringLiteral("**") << true;
        QTest::newRow("surrogate pairs") << QString::fromUtf8("\xf0\x9f\x93\x85").repeated(5000) << true;
    }

    // A very long line must show all its text, in order, inside the column at the smallest
    // window, however it is split into rows to keep it quick; it may arrive in two halves.
    void longLineShowsAllItsTextInTheColumn()
    {
        QFETCH(QString, line);
        QFETCH(bool, cut);
        RecordingUrlOpener browser;
        QScrollArea scroll;
        scroll.setWidgetResizable(true);
        scroll.resize(320, 500);
        auto* view = new SummaryMarkdown(&browser);
        scroll.setWidget(view);
        scroll.show();
        QVERIFY(QTest::qWaitForWindowExposed(&scroll));
        view->setMarkdown(line.left(line.size() / 2));
        view->appendMarkdown(QStringView(line).sliced(line.size() / 2));
        QCOMPARE(view->blocks().size(), 1);
        QString expected;
        for (const Run& run : InlineRun::parse(view->blocks().first().text))
            expected += run.text;

        if (!cut) {
            QCOMPARE(view->findChildren<QTextBrowser*>().size(), 0);
            QCOMPARE(rowLabels(*view).size(), 1);
            return;
        }
        QCOMPARE(rowLabels(*view).size(), 0);
        // The rest of the pieces come between events, after the first, and each is laid out.
        const auto pieces = [view] {
            QList<QTextBrowser*> pieces = view->findChildren<QTextBrowser*>();
            std::stable_sort(pieces.begin(), pieces.end(), [view](const QTextBrowser* a, const QTextBrowser* b) {
                return a->mapTo(view, QPoint()).y() < b->mapTo(view, QPoint()).y();
            });
            return pieces;
        };
        const auto settled = [&] {
            qsizetype shown = 0;
            int bottom = 0;
            for (QTextBrowser* piece : pieces()) {
                shown += piece->toPlainText().size();
                // Nothing is cut off below a piece or hidden under the next.
                const QRect place(piece->mapTo(view, QPoint()), piece->size());
                if (place.top() < bottom || place.height() < qCeil(piece->document()->size().height()))
                    return false;
                bottom = place.bottom();
            }
            return shown + 2 * pieces().size() >= expected.size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 20000);
        QVERIFY(pieces().size() > 1);
        QVERIFY(view->width() <= scroll.viewport()->width());

        // The text in order, whole; only the space where a piece ends may go, as at any wrap.
        qsizetype at = 0;
        QSet<QString> anchors;
        for (QTextBrowser* piece : pieces()) {
            QVERIFY(piece->mapTo(view, QPoint(piece->width(), 0)).x() <= view->width());
            const QString text = piece->toPlainText();
            while (at < expected.size() && expected[at].isSpace() && !text.startsWith(expected[at]))
                ++at;
            QCOMPARE(QStringView(expected).mid(at, text.size()), text);
            at += text.size();
            for (QTextBlock block = piece->document()->begin(); block.isValid(); block = block.next()) {
                for (auto it = block.begin(); !it.atEnd(); ++it) {
                    if (it.fragment().charFormat().isAnchor())
                        anchors.insert(it.fragment().charFormat().anchorHref());
                }
            }
        }
        QCOMPARE(at, expected.size());
        if (QTest::currentDataTag() == QByteArrayLiteral("words and links")) {
            QCOMPARE(anchors, (QSet<QString> { "https://notes.test/x", "https://notes.test/y" }));
            for (const char* link : { "quillet://auth?t=1", "file:///etc/passwd", "https://notes.test/x" })
                emit pieces().first()->anchorClicked(QUrl(QString::fromLatin1(link)));
            QCOMPARE(browser.opened, QList<QUrl> { QUrl(QStringLiteral("https://notes.test/x")) });
        } else {
            QVERIFY(anchors.isEmpty());
        }
    }

    // A long line that streams in pieces of any size ends shown exactly as the whole line shown
    // at once: markup that closes pieces later, lone markers, escapes, a link and code across
    // the places where the line is cut.
    void longLineGrownEndsAsTheWhole()
    {
        const QString words = QStringLiteral("we agreed to ship on Friday ").repeated(120);
        const QString line = QStringLiteral("- **") + words + QStringLiteral("** then *one ") + words
            + QStringLiteral("see [the `notes`](https://notes.test/x) and `a ") + words + QStringLiteral("b` end \\*")
            + words + QStringLiteral("_lone [ ( ") + words + QStringLiteral("__");
        const auto pieces = [](const SummaryMarkdown& view) {
            QStringList html;
            for (const QTextBrowser* piece : view.findChildren<QTextBrowser*>())
                html.append(piece->toHtml());
            return html;
        };
        // The pieces after the first few are made between events: wait until they hold the line.
        qsizetype shownLength = 0;
        for (const Run& run : InlineRun::parse(line.mid(2)))
            shownLength += run.text.size();
        const auto shownByPieces = [](const SummaryMarkdown& view) {
            qsizetype length = 0;
            for (const QTextBrowser* piece : view.findChildren<QTextBrowser*>())
                length += piece->toPlainText().size();
            return length;
        };
        SummaryMarkdown whole(nullptr);
        whole.setMarkdown(QStringLiteral("# Answer\n") + line);
        QTRY_COMPARE(shownByPieces(whole), shownLength);
        QVERIFY(pieces(whole).size() > 5);
        QRandomGenerator random(3);
        for (int round = 0; round < 4; ++round) {
            SummaryMarkdown grown(nullptr);
            grown.setMarkdown(QStringLiteral("# Answer\n"));
            for (qsizetype at = 0; at < line.size();) {
                const qsizetype piece = 1 + random.bounded(round == 0 ? 8 : 700);
                grown.appendMarkdown(QStringView(line).mid(at, piece));
                at += piece;
            }
            QCOMPARE(grown.blocks(), whole.blocks());
            QTRY_COMPARE(shownByPieces(grown), shownLength);
            QCOMPARE(pieces(grown), pieces(whole));
        }
    }

    void editedTextShowsItsLinesInOrder_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QStringList lines;
        for (int i = 0; i < 38; ++i)
            lines << QStringLiteral("Line %1").arg(i);
        const QString numbered = lines.join(QLatin1Char('\n'));
        QStringList headed = lines;
        headed[35] = QStringLiteral("- [x] Next");
        headed[3] = QStringLiteral("- Three");
        QTest::newRow("shorter") << numbered << QStringLiteral("Line 0\n- Gone");
        QTest::newRow("longer") << QStringLiteral("Line 0\n- Gone") << numbered;
        QTest::newRow("kinds change far down") << numbered << headed.join(QLatin1Char('\n'));
        QTest::newRow("emptied") << numbered << QString();
    }

    // The rows of a text that changes anywhere (a summary written again) come in the text's
    // order, with nothing left over from the text before.
    void editedTextShowsItsLinesInOrder()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        const auto shownInOrder = [](const SummaryMarkdown& view) {
            QList<QLabel*> labels = rowLabels(view);
            std::sort(labels.begin(), labels.end(), [&](const QLabel* a, const QLabel* b) {
                return a->mapTo(&view, QPoint()).y() < b->mapTo(&view, QPoint()).y();
            });
            QStringList shown;
            for (const QLabel* label : labels) {
                QTextDocument document;
                document.setHtml(label->text());
                shown << document.toPlainText().toLower();
            }
            return shown;
        };
        SummaryMarkdown fresh(nullptr);
        fresh.setMarkdown(after);
        QStringList expected;
        for (const Block& block : fresh.blocks())
            expected << block.text.toLower();

        SummaryMarkdown view(nullptr);
        view.resize(400, 900);
        view.setMarkdown(before);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setMarkdown(after);
        QTRY_COMPARE(shownInOrder(view), expected);
        QCOMPARE(view.heightForWidth(400), fresh.heightForWidth(400));
    }

    void boldRunsAreFullPrimary()
    {
        SummaryMarkdown view(nullptr);
        view.setMarkdown(QStringLiteral("**Owner:** Lan"));
        const QList<QLabel*> labels = rowLabels(view);
        QCOMPARE(labels.size(), 1);
        const auto runs = shownRuns(*labels.first());
        QCOMPARE(runs.size(), 2);
        const QColor ink = Quillet::primary(view.palette());
        QCOMPARE(runs.at(0).first, QStringLiteral("Owner:"));
        QCOMPARE(runs.at(0).second.rgba(), ink.rgba());
        QCOMPARE(runs.at(1).first, QStringLiteral(" Lan"));
        QCOMPARE(runs.at(1).second.rgb(), ink.rgb());
        QVERIFY(qAbs(runs.at(1).second.alphaF() - 0.82 * ink.alphaF()) < 0.01);

        // A bold link is coloured as a link, as one that is not bold.
        view.setMarkdown(QStringLiteral("[Q2 plan](https://notes.test/q2) and **[Q3 plan](https://notes.test/q3)**"));
        const auto linked = shownRuns(*rowLabels(view).first());
        QCOMPARE(linked.first().first, QStringLiteral("Q2 plan"));
        QCOMPARE(linked.last().first, QStringLiteral("Q3 plan"));
        QCOMPARE(linked.last().second, linked.first().second);
        QVERIFY(linked.last().second.rgb() != ink.rgb());
    }

    void modelTextIsShownAsTyped_data()
    {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("shown");
        QTest::newRow("tags") << "<b>x</b> & <i>y</i>"
                              << "<b>x</b> & <i>y</i>";
        QTest::newRow("image") << "<img src=x onerror=alert(1)>"
                               << "<img src=x onerror=alert(1)>";
        QTest::newRow("references") << "&lt;script&gt; &amp;lt;"
                                    << "<script> &lt;";
        QTest::newRow("no link") << "[Slides](to be shared)"
                                 << "[Slides](to be shared)";
        QTest::newRow("shared closing run") << "**foo *bar***"
                                            << "foo bar";
        QTest::newRow("task") << "- [x] <u>Send</u>"
                              << "<u>Send</u>";
        QTest::newRow("heading not parsed") << "## **Next steps**"
                                            << "**NEXT STEPS**";
    }

    void modelTextIsShownAsTyped()
    {
        QFETCH(QString, markdown);
        QFETCH(QString, shown);
        SummaryMarkdown view(nullptr);
        view.setMarkdown(markdown);
        const QList<QLabel*> labels = rowLabels(view);
        QCOMPARE(labels.size(), 1);
        QTextDocument document;
        if (labels.first()->textFormat() == Qt::RichText)
            document.setHtml(labels.first()->text());
        else
            document.setPlainText(labels.first()->text());
        QCOMPARE(document.toPlainText(), shown);
    }

    // Only web pages are opened; "quillet:" would sign the user into whoever wrote the link.
    void onlyWebLinksOpen()
    {
        RecordingUrlOpener browser;
        SummaryMarkdown view(&browser);
        view.setMarkdown(QStringLiteral("[Sign in](quillet://auth?token=stolen) then [notes](https://notes.test/x) "
                                        "or [file](file:///etc/passwd) or [host](https:relative)"));
        const QString html = rowLabels(view).first()->text();
        QVERIFY(!html.contains(QStringLiteral("quillet:")));
        QVERIFY(!html.contains(QStringLiteral("file:")));
        QVERIFY(html.contains(QStringLiteral("href=\"https://notes.test/x\"")));

        // Whatever reaches the link handler, only the web page is opened.
        for (const char* link : { "quillet://auth?token=stolen", "file:///etc/passwd", "https:relative", "not a url",
                 "https://notes.test/x" })
            emit rowLabels(view).first()->linkActivated(QString::fromLatin1(link));
        QCOMPARE(browser.opened, QList<QUrl> { QUrl(QStringLiteral("https://notes.test/x")) });
    }

    // A screen reader reads headings as headings and tasks as check boxes, ticked when done,
    // named by their text without its marks; a task ticked later reads ticked.
    void screenReaderReadsHeadingsAndTasks()
    {
        SummaryMarkdown view(nullptr);
        view.setMarkdown(QStringLiteral("## Action items\n- [ ] Send the **deck**\n- [x] Book the room\nAll *good*."));
        QAccessibleInterface* root = AccessibleTree::of(&view);
        const auto ofRole = [&](QAccessible::Role role) {
            return AccessibleTree::findAll(root, [&](QAccessibleInterface* item) { return item->role() == role; });
        };
        QCOMPARE(AccessibleTree::names(ofRole(QAccessible::Heading)), QStringList { "Action items" });
        const QList<QAccessibleInterface*> tasks = ofRole(QAccessible::CheckBox);
        QCOMPARE(AccessibleTree::names(tasks), (QStringList { "Send the deck", "Book the room" }));
        QVERIFY(tasks.at(0)->state().checkable);
        QVERIFY(!tasks.at(0)->state().checked);
        QVERIFY(tasks.at(1)->state().checkable);
        QVERIFY(tasks.at(1)->state().checked);
        QVERIFY(AccessibleTree::find(root, [](QAccessibleInterface* item) {
            return item->role() == QAccessible::StaticText && AccessibleTree::name(item) == QStringLiteral("All good.");
        }));

        AccessibleTree::EventSpy told;
        view.setMarkdown(QStringLiteral("## Action items\n- [x] Send the **deck**\n- [x] Book the room\nAll *good*."));
        QVERIFY(tasks.at(0)->state().checked);
        QVERIFY(
            std::any_of(told.events().cbegin(), told.events().cend(), [](const AccessibleTree::EventSpy::Event& event) {
                return event.type == QAccessible::StateChanged && event.name == QStringLiteral("Send the deck");
            }));
    }

    void headingSpacingAndGrowingText()
    {
        SummaryMarkdown view(nullptr);
        view.resize(400, 600);
        view.setMarkdown(QStringLiteral("## Summary\nWe agreed.\n## Next"));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QList<QLabel*> labels = rowLabels(view);
        QCOMPARE(labels.size(), 3);
        QCOMPARE(labels.at(0)->mapTo(&view, QPoint()).y(), 0);
        const QWidget* paragraphRow = labels.at(1)->parentWidget();
        const int gap = labels.at(2)->mapTo(&view, QPoint()).y() - paragraphRow->geometry().bottom() - 1;
        QCOMPARE(gap, 22);

        // Growing at the end keeps the rows already shown.
        view.setMarkdown(QStringLiteral("## Summary\nWe agreed.\n## Next steps\n- Ship"));
        const QList<QLabel*> grown = rowLabels(view);
        QCOMPARE(grown.size(), 4);
        QCOMPARE(grown.mid(0, 3), labels);
    }
};

QUILLET_WIDGET_TEST_MAIN(TestSummaryMarkdown)
#include "TestSummaryMarkdown.moc"
