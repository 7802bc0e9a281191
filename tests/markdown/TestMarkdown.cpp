#include "markdown/InlineRuns.h"
#include "markdown/MarkdownBlock.h"
#include "support/TestMain.h"

#include <QRandomGenerator>

namespace {

using Block = MarkdownBlock;
using Run = InlineRun;

// Blocks as "kind:text", with "task:" or "done:" for tasks.
QStringList describe(const QList<Block>& blocks)
{
    QStringList out;
    for (const Block& block : blocks) {
        switch (block.kind) {
        case Block::Kind::heading:
            out << QStringLiteral("heading:") + block.text;
            break;
        case Block::Kind::bullet:
            out << QStringLiteral("bullet:") + block.text;
            break;
        case Block::Kind::task:
            out << (block.done ? QStringLiteral("done:") : QStringLiteral("task:")) + block.text;
            break;
        case Block::Kind::paragraph:
            out << QStringLiteral("paragraph:") + block.text;
            break;
        }
    }
    return out;
}

// Runs as "text" with markers: *strong*, _emphasis_, `code`, ~strike~, [text](link).
QStringList describe(const QList<Run>& runs)
{
    QStringList out;
    for (const Run& run : runs) {
        QString text = run.text;
        if (run.code)
            text = '`' + text + '`';
        if (run.emphasis)
            text = '_' + text + '_';
        if (run.strong)
            text = '*' + text + '*';
        if (run.strikethrough)
            text = '~' + text + '~';
        if (!run.link.isEmpty())
            text = '[' + text + "](" + run.link + ')';
        out << text;
    }
    return out;
}

} // namespace

class TestMarkdown final : public QObject
{
    Q_OBJECT

private slots:
    void parsesLines_data()
    {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QStringList>("blocks");
        QTest::newRow("heading 1") << "# Decisions" << QStringList { "heading:Decisions" };
        QTest::newRow("heading 3") << "### Decisions" << QStringList { "heading:Decisions" };
        QTest::newRow("four hashes") << "#### Decisions" << QStringList { "paragraph:#### Decisions" };
        QTest::newRow("no space") << "#Decisions" << QStringList { "paragraph:#Decisions" };
        QTest::newRow("hashes only") << "##" << QStringList { "paragraph:##" };
        QTest::newRow("tab after hash") << "#\tDecisions" << QStringList { "paragraph:#\tDecisions" };
        QTest::newRow("spaced heading") << "#   Spaced" << QStringList { "heading:Spaced" };
        QTest::newRow("bullet trimmed") << "  - item  " << QStringList { "bullet:item" };
        QTest::newRow("star bullet") << "* item" << QStringList { "bullet:item" };
        QTest::newRow("no bullet") << "-item\n+ item\n---\n**Owner:** Lan"
                                   << QStringList { "paragraph:-item", "paragraph:+ item", "paragraph:---",
                                          "paragraph:**Owner:** Lan" };
        QTest::newRow("tasks") << "- [ ] Send notes\n* [X] Send notes\n- [x]Send notes\n- [x]"
                               << QStringList { "task:Send notes", "done:Send notes", "done:Send notes", "done:" };
        QTest::newRow("not tasks") << "- [-] maybe\n[ ] Send notes\n1. First"
                                   << QStringList { "bullet:[-] maybe", "paragraph:[ ] Send notes",
                                          "paragraph:1. First" };
        QTest::newRow("empty") << "" << QStringList {};
        QTest::newRow("blank lines") << " \n\t\n\u3000" << QStringList {};
        QTest::newRow("crlf") << "a\r\nb" << QStringList { "paragraph:a", "paragraph:b" };
        QTest::newRow("blank lines join nothing") << "a\n\n\nb" << QStringList { "paragraph:a", "paragraph:b" };
        QTest::newRow("lone cr") << "a\rb" << QStringList { "paragraph:a\rb" };
        QTest::newRow("unicode spaces") << "\u00a0\u2003- item\u3000" << QStringList { "bullet:item" };
    }

    void parsesLines()
    {
        QFETCH(QString, markdown);
        QFETCH(QStringList, blocks);
        QCOMPARE(describe(MarkdownBlock::parse(markdown)), blocks);
    }

    void parsesInlineRuns_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("runs");
        QTest::newRow("bold lead") << "**Owner:** Lan" << QStringList { "*Owner:*", " Lan" };
        QTest::newRow("underscore bold") << "__done__ now" << QStringList { "*done*", " now" };
        QTest::newRow("emphasis") << "a *b* c" << QStringList { "a ", "_b_", " c" };
        QTest::newRow("nested") << "**a *b* c**" << QStringList { "*a *", "*_b_*", "* c*" };
        QTest::newRow("strong emphasis") << "***both***" << QStringList { "*_both_*" };
        QTest::newRow("words with underscores") << "snake_case_name" << QStringList { "snake_case_name" };
        QTest::newRow("unclosed") << "**open and 2 * 3" << QStringList { "**open and 2 * 3" };
        QTest::newRow("space inside") << "** not bold**" << QStringList { "** not bold**" };
        QTest::newRow("code keeps markers") << "run `**x**` now" << QStringList { "run ", "`**x**`", " now" };
        QTest::newRow("escapes") << "\\*not\\* \\_this\\_" << QStringList { "*not* _this_" };
        QTest::newRow("strike") << "~~gone~~ ~kept~" << QStringList { "~gone~", " ~kept~" };
        QTest::newRow("link") << "see [the **doc**](https://x.test/a?b=1 \"t\")"
                              << QStringList { "see ", "[the ](https://x.test/a?b=1)",
                                     "[*doc*](https://x.test/a?b=1)" };
        QTest::newRow("autolink") << "<https://x.test>" << QStringList { "[https://x.test](https://x.test)" };
        QTest::newRow("tags are text") << "<b>x</b>" << QStringList { "<b>x</b>" };
        QTest::newRow("brackets without link") << "[x] and [y]" << QStringList { "[x] and [y]" };
    }

    void parsesInlineRuns()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, runs);
        QCOMPARE(describe(InlineRun::parse(line)), runs);
    }

    // What CommonMark makes of model text: the runs, and the same runs after every character of
    // the line streamed in one at a time.
    void readsAsCommonMark_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("runs");
        // A closing run shared by bold and italic gives up one or two markers at a time.
        QTest::newRow("italic inside bold") << "**foo *bar***" << QStringList { "*foo *", "*_bar_*" };
        QTest::newRow("bold inside italic") << "***Owner:** Lan*" << QStringList { "*_Owner:_*", "_ Lan_" };
        QTest::newRow("italic closing bold") << "**Owner: *Lan***" << QStringList { "*Owner: *", "*_Lan_*" };
        QTest::newRow("bold in the middle") << "*foo**bar**baz*" << QStringList { "_foo_", "*_bar_*", "_baz_" };
        QTest::newRow("rule of three") << "*foo**bar*" << QStringList { "_foo**bar_" };
        QTest::newRow("inside a word") << "foo***bar***baz" << QStringList { "foo", "*_bar_*", "baz" };
        QTest::newRow("one marker left before") << "**foo*" << QStringList { "*", "_foo_" };
        QTest::newRow("one marker left after") << "*foo**" << QStringList { "_foo_", "*" };
        QTest::newRow("italic in italic") << "*foo *bar**" << QStringList { "_foo bar_" };
        QTest::newRow("lone marker inside bold") << "**foo*bar**" << QStringList { "*foo*bar*" };
        QTest::newRow("underscores inside words")
            << "_foo_bar_baz_ __foo__bar" << QStringList { "_foo_bar_baz_", " __foo__bar" };
        QTest::newRow("underscores nested") << "__foo_ bar_" << QStringList { "_foo bar_" };
        // A closer inside a link's text never pairs with an opener before the link; inside a
        // "[" that makes no link it may.
        QTest::newRow("closer inside a link")
            << "*a [b* c](https://x.test)" << QStringList { "*a ", "[b* c](https://x.test)" };
        QTest::newRow("closer inside brackets") << "*a [b* c" << QStringList { "_a [b_", " c" };
        // Read as it grows, a "[" or a backtick run may find its partner long after it.
        QTest::newRow("link after a waiting bracket")
            << "[a *b [c](https://x.test) d* e](https://y.test)"
            << QStringList { "[a ", "_b _", "[_c_](https://x.test)", "_ d_", " e](https://y.test)" };
        QTest::newRow("code after waiting brackets")
            << "[a `b [c]` d](https://x.test) `e"
            << QStringList { "[a ](https://x.test)", "[`b [c]`](https://x.test)", "[ d](https://x.test)", " `e" };

        QTest::newRow("named references") << "Tom &amp; Jerry &copy; Caf&eacute;&nbsp;&hellip;"
                                          << QStringList { "Tom & Jerry \u00a9 Caf\u00e9\u00a0\u2026" };
        QTest::newRow("numeric references") << "It&#39;s &#x27;x&#X27; &#65;" << QStringList { "It's 'x' A" };
        QTest::newRow("no such character")
            << "&#0; &#xD800; &#x110000; &#99999999;" << QStringList { "\ufffd \ufffd \ufffd &#99999999;" };
        QTest::newRow("not references") << "&unknown; &amp AT&T &; &#; &#x;"
                                        << QStringList { "&unknown; &amp AT&T &; &#; &#x;" };
        QTest::newRow("references mark nothing") << "&#42;not&#42; `&amp;`" << QStringList { "*not* ", "`&amp;`" };
        QTest::newRow("case matters") << "&Amp; &Eacute; &eacute;" << QStringList { "&Amp; \u00c9 \u00e9" };
        // Every name HTML5 defines, those of two characters and past U+FFFF too; only with
        // their ";", as CommonMark reads them.
        QTest::newRow("every HTML name")
            << "&alpha; &beta; &Delta; &mu; &pi; &sum; &radic; &hearts; &AMP; &NotEqualTilde; &Afr; &copy &sum"
            << QStringList { "\u03b1 \u03b2 \u0394 \u03bc \u03c0 \u2211 \u221a \u2665 & \u2242\u0338 "
                             "\U0001d504 &copy &sum" };

        QTest::newRow("destination with a space")
            << "[Slides](to be shared)" << QStringList { "[Slides](to be shared)" };
        QTest::newRow("address with a space") << "[report](https://example.com/Q1 report.pdf)"
                                              << QStringList { "[report](https://example.com/Q1 report.pdf)" };
        QTest::newRow("address in angle brackets") << "[report](<https://example.com/Q1 report.pdf>)"
                                                   << QStringList { "[report](https://example.com/Q1%20report.pdf)" };
        QTest::newRow("titles") << "[a](https://x.test 'one') [b](https://y.test (two))"
                                << QStringList { "[a](https://x.test)", " ", "[b](https://y.test)" };
        QTest::newRow("text after the title")
            << "[a](https://x.test \"t\" x)" << QStringList { "[a](https://x.test \"t\" x)" };
        QTest::newRow("escapes and references in the address")
            << "[a](https://x.test/\\(1&amp;2)" << QStringList { "[a](https://x.test/(1&2)" };
        QTest::newRow("e-mail") << "Ask <jonas@example.de>."
                                << QStringList { "Ask ", "[jonas@example.de](mailto:jonas@example.de)", "." };
        QTest::newRow("not e-mail") << "<jonas@example.de->" << QStringList { "<jonas@example.de->" };
    }

    void readsAsCommonMark()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, runs);
        QCOMPARE(describe(InlineRun::parse(line)), runs);
        InlineRuns grown(line.left(1));
        for (qsizetype at = 1; at < line.size(); ++at) {
            grown.append(QStringView(line).mid(at, 1));
            QCOMPARE(describe(grown.runs()), describe(InlineRun::parse(line.left(at + 1))));
        }
    }

    // Openers without partners stay text, however many there are, and do not take the partner
    // of a later opener.
    void unmatchedOpeners_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("runs");
        QTest::newRow("stars before spaces") << "*a *a *a " << QStringList { "*a *a *a " };
        QTest::newRow("then a pair") << "*a *a *a *b*" << QStringList { "*a *a *a ", "_b_" };
        QTest::newRow("strong among single") << "**a *b **c** d" << QStringList { "**a *b ", "*c*", " d" };
        QTest::newRow("brackets") << "[[[" << QStringList { "[[[" };
        QTest::newRow("bracket before a link") << "[[a](https://x.test)" << QStringList { "[", "[a](https://x.test)" };
        QTest::newRow("escaped bracket in link text")
            << "[a\\]b](https://x.test)" << QStringList { "[a]b](https://x.test)" };
        QTest::newRow("parentheses in destination")
            << "[a](https://x.test/(b)c) d" << QStringList { "[a](https://x.test/(b)c)", " d" };
        QTest::newRow("destination never closed")
            << "[a](https://x.test [b](https://y.test)" << QStringList { "[a](https://x.test ", "[b](https://y.test)" };
        QTest::newRow("backticks of another length") << "``a`b" << QStringList { "``a`b" };
        QTest::newRow("code of two backticks") << "``a`b`` c" << QStringList { "`a`b`", " c" };
        QTest::newRow("escaped backtick opens none") << "\\``a` b" << QStringList { "`", "`a`", " b" };
        QTest::newRow("code inside emphasis") << "*a `*` b*" << QStringList { "_a _", "_`*`_", "_ b_" };
        QTest::newRow("unclosed code hides nothing") << "*a ``*` b*" << QStringList { "_a ``_", "` b*" };
    }

    void unmatchedOpeners()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, runs);
        QCOMPARE(describe(InlineRun::parse(line)), runs);
    }

    // A line read as it grows has, after every piece, the runs of the line read at once: every
    // marker may find its partner in a later piece, or lose it to a longer run; a backslash at
    // the end may escape what comes next.
    void growingLineReadsAsTheWhole()
    {
        // Dense in markers, or words with a few: lone openers by the hundred, and `_` inside words.
        const QStringList alphabets = { QStringLiteral("*_~`[]()<>:\\ ab.hp"),
            QStringLiteral("**__~~``[]()<>:\\   abcd1"), QStringLiteral("*** a_b`` c"),
            QStringLiteral("_a_ b_ *c* ` x9 "), QStringLiteral("&#x3;amp*_[]()<>@.\"' a") };
        // Lines the fuzzer found, each in pieces of two.
        for (const QString& found : { QStringLiteral("`\\`` `") }) {
            InlineRuns grown(found.left(2));
            for (qsizetype at = 2; at < found.size(); at += 2) {
                grown.append(QStringView(found).mid(at, 2));
                QCOMPARE(grown.runs(), InlineRun::parse(found.left(at + 2)));
            }
        }
        QRandomGenerator random(17);
        for (int line = 0; line < 800; ++line) {
            const QString& alphabet = alphabets.at(line % alphabets.size());
            QString text;
            const int length = 1 + random.bounded(line % 8 == 0 ? 1200 : 80);
            for (int i = 0; i < length; ++i)
                text += alphabet.at(random.bounded(int(alphabet.size())));
            qsizetype at = 1 + random.bounded(int(text.size()));
            InlineRuns grown(text.left(at));
            while (at < text.size()) {
                const qsizetype piece = 1 + random.bounded(line % 3 == 0 ? 40 : 4);
                const QString before = text.left(at);
                const QList<Run> runsBefore = grown.runs();
                const qsizetype same = grown.append(QStringView(text).mid(at, piece));
                at = std::min(at + piece, text.size());
                const QList<Run> whole = InlineRun::parse(text.left(at));
                QVERIFY2(
                    grown.runs() == whole, qPrintable(before + QStringLiteral(" | ") + text.mid(before.size(), piece)));
                // What append says is unchanged is.
                QString shownBefore;
                for (const Run& run : runsBefore)
                    shownBefore += run.text;
                QString shown;
                for (const Run& run : whole)
                    shown += run.text;
                QVERIFY2(shown.left(same) == shownBefore.left(same), qPrintable(before));
            }
        }
    }
};

QUILLET_TEST_MAIN(TestMarkdown)
#include "TestMarkdown.moc"
