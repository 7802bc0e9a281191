// The summary's inline markup: emphasis, code, links and autolinks within one line.
#include "ui/workspace/SummaryMarkdown.h"

#include <QVarLengthArray>
#include <algorithm>
#include <map>
#include <vector>

namespace {

// The inline parser: a small, forgiving subset of the usual markdown inline syntax. Nothing is
// ever rejected; a marker without its partner is text.
//
// A model can write a line of a megabyte, all openers without partners. So the partners of
// brackets, parentheses and backtick runs are found in one pass over the line, and a search
// for a closing delimiter never walks again over ground a failed search of the same kind has
// covered: every line is read a bounded number of times.
class InlineParser
{
public:
    using Run = SummaryMarkdown::Run;

    explicit InlineParser(QStringView text)
        : m_text(text)
    { }

    QList<Run> parse()
    {
        parseRange(0, m_text.size(), Run {});
        return m_runs;
    }

private:
    // Where searches for one kind of closing delimiter (its character and length) already
    // failed within one range: a search that reaches such a place fails too, since it goes on
    // from there exactly as the earlier one did.
    class DeadEnds
    {
    public:
        DeadEnds(qsizetype begin, qsizetype end)
            : m_begin(begin)
            , m_end(end)
        { }

        static int kindOf(QChar c, qsizetype length)
        {
            const int character = c == QLatin1Char('*') ? 0 : c == QLatin1Char('_') ? 1 : 2;
            return character * 3 + int(length - 1);
        }
        bool contains(qsizetype at, int kind) const
        {
            return !m_marks.empty() && (m_marks[size_t(at - m_begin)] >> kind & 1u);
        }
        void mark(const std::vector<qsizetype>& places, int kind)
        {
            if (m_marks.empty())
                m_marks.assign(size_t(m_end - m_begin), 0);
            for (const qsizetype at : places)
                m_marks[size_t(at - m_begin)] |= quint16(1u << kind);
        }

    private:
        qsizetype m_begin;
        qsizetype m_end;
        std::vector<quint16> m_marks; // a bit per kind, made at the first failure
    };

    static bool isAsciiPunctuation(QChar c)
    {
        const char16_t u = c.unicode();
        return (u >= 33 && u <= 47) || (u >= 58 && u <= 64) || (u >= 91 && u <= 96) || (u >= 123 && u <= 126);
    }

    qsizetype runLength(qsizetype at, qsizetype end, QChar c) const
    {
        qsizetype length = 0;
        while (at + length < end && m_text[at + length] == c)
            ++length;
        return length;
    }

    // The pairs of the whole line, worked out the first time one is asked for. A search that
    // starts at an opener meets the same escapes as this pass (an opener is never a
    // backslash), so the partner it finds is the one recorded here, or none when that lies at
    // or past the end of its range.
    void findPartners() const
    {
        if (m_partnersFound)
            return;
        m_partnersFound = true;
        const qsizetype size = m_text.size();
        m_partner.assign(size_t(size), -1);
        // Brackets: a backslash hides the character after it, as in the search for a link's text.
        std::vector<qsizetype> open;
        for (qsizetype i = 0; i < size; ++i) {
            const QChar c = m_text[i];
            if (c == QLatin1Char('\\')) {
                ++i;
            } else if (c == QLatin1Char('[')) {
                open.push_back(i);
            } else if (c == QLatin1Char(']') && !open.empty()) {
                m_partner[size_t(open.back())] = i;
                open.pop_back();
            }
        }
        // Parentheses and backticks count as they stand.
        open.clear();
        for (qsizetype i = 0; i < size; ++i) {
            const QChar c = m_text[i];
            if (c == QLatin1Char('(')) {
                open.push_back(i);
            } else if (c == QLatin1Char(')') && !open.empty()) {
                m_partner[size_t(open.back())] = i;
                open.pop_back();
            } else if (c == QLatin1Char('`')) {
                const qsizetype length = runLength(i, size, c);
                m_tickRuns[length].push_back(i);
                i += length - 1;
            }
        }
    }

    qsizetype partnerBefore(qsizetype at, qsizetype end) const
    {
        findPartners();
        const qsizetype partner = m_partner[size_t(at)];
        return partner >= 0 && partner < end ? partner : -1;
    }

    // Where the code span opened by `length` backticks at `at` closes, or -1.
    qsizetype codeSpanEnd(qsizetype at, qsizetype length, qsizetype end) const
    {
        findPartners();
        // Runs of backticks are whole where a search meets them: it starts after one, and a
        // range never ends inside one.
        const auto found = m_tickRuns.find(length);
        if (found == m_tickRuns.end())
            return -1;
        const auto next = std::lower_bound(found->second.begin(), found->second.end(), at + length);
        return next != found->second.end() && *next < end ? *next : -1;
    }

    // The closing delimiter of `length` copies of c for an opener ending at `from`, or -1.
    // Code spans and escaped characters are skipped; runs of another length are not partners.
    qsizetype closingDelimiter(qsizetype from, qsizetype end, QChar c, qsizetype length, DeadEnds& dead)
    {
        const int kind = DeadEnds::kindOf(c, length);
        m_visited.clear();
        for (qsizetype i = from; i < end;) {
            if (dead.contains(i, kind))
                break;
            m_visited.push_back(i);
            const QChar here = m_text[i];
            if (here == QLatin1Char('\\') && i + 1 < end) {
                i += 2;
            } else if (here == QLatin1Char('`')) {
                const qsizetype ticks = runLength(i, end, here);
                const qsizetype close = codeSpanEnd(i, ticks, end);
                i = close < 0 ? i + ticks : close + ticks;
            } else if (here == c) {
                const qsizetype run = runLength(i, end, c);
                const bool afterText = !m_text[i - 1].isSpace();
                const bool wordFollows = i + run < end && m_text[i + run].isLetterOrNumber();
                if (run == length && afterText && (c != QLatin1Char('_') || !wordFollows))
                    return i;
                i += run;
            } else {
                ++i;
            }
        }
        dead.mark(m_visited, kind);
        return -1;
    }

    // "[text](destination)" starting at `at`: where the text ends and the whole link ends.
    bool link(qsizetype at, qsizetype end, qsizetype* textEnd, qsizetype* linkEnd, QString* destination) const
    {
        const qsizetype i = partnerBefore(at, end);
        if (i < 0 || i + 1 >= end || m_text[i + 1] != QLatin1Char('('))
            return false;
        *textEnd = i;
        const qsizetype j = partnerBefore(i + 1, end);
        if (j < 0)
            return false;
        QString inside = m_text.mid(i + 2, j - i - 2).trimmed().toString();
        // A title after the destination is dropped; angle brackets may wrap it.
        if (const qsizetype space = inside.indexOf(QLatin1Char(' ')); space >= 0)
            inside.truncate(space);
        if (inside.startsWith(QLatin1Char('<')) && inside.endsWith(QLatin1Char('>')))
            inside = inside.mid(1, inside.size() - 2);
        *destination = inside;
        *linkEnd = j + 1;
        return true;
    }

    // "<scheme:rest>" starting at `at`; returns the position after ">" or -1.
    qsizetype autolinkEnd(qsizetype at, qsizetype end) const
    {
        qsizetype i = at + 1;
        qsizetype scheme = 0;
        while (i < end && m_text[i].unicode() < 128
            && (m_text[i].isLetter()
                || (scheme > 0
                    && (m_text[i].isDigit() || m_text[i] == QLatin1Char('+') || m_text[i] == QLatin1Char('.')
                        || m_text[i] == QLatin1Char('-'))))) {
            ++scheme;
            ++i;
        }
        if (scheme < 2 || i >= end || m_text[i] != QLatin1Char(':'))
            return -1;
        for (; i < end; ++i) {
            const QChar c = m_text[i];
            if (c == QLatin1Char('>'))
                return i + 1;
            if (c.isSpace() || c == QLatin1Char('<'))
                return -1;
        }
        return -1;
    }

    void flush(QString& text, const Run& style)
    {
        if (text.isEmpty())
            return;
        Run run = style;
        run.text = text;
        text.clear();
        if (!m_runs.isEmpty()) {
            Run& last = m_runs.last();
            Run probe = last;
            probe.text = run.text;
            if (probe == run) {
                last.text += run.text;
                return;
            }
        }
        m_runs.append(run);
    }

    void parseRange(qsizetype begin, qsizetype end, const Run& style)
    {
        DeadEnds dead(begin, end);
        QString text;
        for (qsizetype i = begin; i < end;) {
            const QChar c = m_text[i];
            if (c == QLatin1Char('\\') && i + 1 < end && isAsciiPunctuation(m_text[i + 1])) {
                text += m_text[i + 1];
                i += 2;
                continue;
            }
            if (c == QLatin1Char('`')) {
                const qsizetype ticks = runLength(i, end, c);
                const qsizetype close = codeSpanEnd(i, ticks, end);
                if (close < 0) {
                    text += m_text.mid(i, ticks);
                    i += ticks;
                    continue;
                }
                flush(text, style);
                QString code = m_text.mid(i + ticks, close - i - ticks).toString();
                if (code.size() >= 2 && code.startsWith(QLatin1Char(' ')) && code.endsWith(QLatin1Char(' ')))
                    code = code.mid(1, code.size() - 2);
                Run codeStyle = style;
                codeStyle.code = true;
                flush(code, codeStyle);
                i = close + ticks;
                continue;
            }
            if (c == QLatin1Char('[') && style.link.isEmpty()) {
                qsizetype textEnd = 0;
                qsizetype linkEnd = 0;
                QString destination;
                if (link(i, end, &textEnd, &linkEnd, &destination)) {
                    flush(text, style);
                    Run linked = style;
                    linked.link = destination;
                    parseRange(i + 1, textEnd, linked);
                    i = linkEnd;
                    continue;
                }
            }
            if (c == QLatin1Char('<') && style.link.isEmpty()) {
                const qsizetype close = autolinkEnd(i, end);
                if (close > 0) {
                    flush(text, style);
                    Run linked = style;
                    linked.link = m_text.mid(i + 1, close - i - 2).toString();
                    QString shown = linked.link;
                    flush(shown, linked);
                    i = close;
                    continue;
                }
            }
            if (c == QLatin1Char('*') || c == QLatin1Char('_') || c == QLatin1Char('~')) {
                const qsizetype run = runLength(i, end, c);
                const bool opensText = i + run < end && !m_text[i + run].isSpace();
                const bool insideWord = c == QLatin1Char('_') && i > begin && m_text[i - 1].isLetterOrNumber();
                if (opensText && !insideWord && (c != QLatin1Char('~') || run == 2)) {
                    // Three markers are strong and emphasised at once; otherwise two are strong.
                    const qsizetype length = c == QLatin1Char('~') ? 2 : std::min<qsizetype>(run, 3);
                    const qsizetype close = run == length ? closingDelimiter(i + length, end, c, length, dead) : -1;
                    if (close > i + length) {
                        flush(text, style);
                        Run inner = style;
                        if (c == QLatin1Char('~'))
                            inner.strikethrough = true;
                        else {
                            inner.strong = inner.strong || length >= 2;
                            inner.emphasis = inner.emphasis || length != 2;
                        }
                        parseRange(i + length, close, inner);
                        i = close + length;
                        continue;
                    }
                }
                text += m_text.mid(i, run);
                i += run;
                continue;
            }
            text += c;
            ++i;
        }
        flush(text, style);
    }

    QStringView m_text;
    QList<Run> m_runs;
    std::vector<qsizetype> m_visited; // by the closing-delimiter search under way
    mutable bool m_partnersFound = false;
    mutable std::vector<qsizetype> m_partner; // of each bracket or parenthesis that has one
    mutable std::map<qsizetype, std::vector<qsizetype>> m_tickRuns; // starts of backtick runs, by length
};

} // namespace

QList<SummaryMarkdown::Run> SummaryMarkdown::inlineRuns(const QString& line)
{
    return InlineParser(line).parse();
}
