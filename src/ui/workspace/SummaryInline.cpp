// The summary's inline markup: emphasis, code, links and autolinks within one line.
#include "ui/workspace/SummaryInline.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace {

bool isAsciiPunctuation(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 33 && u <= 47) || (u >= 58 && u <= 64) || (u >= 91 && u <= 96) || (u >= 123 && u <= 126);
}

// The characters a decision of the parser starts at; any other is text as it stands.
bool mayOpen(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('`') || c == QLatin1Char('[') || c == QLatin1Char('<')
        || c == QLatin1Char('*') || c == QLatin1Char('_') || c == QLatin1Char('~');
}

// Where searches for one kind of closing delimiter (its character and length) already failed:
// a search that reaches such a place fails too, since it goes on from there exactly as the
// earlier one did.
class DeadEnds
{
public:
    static constexpr int kKinds = 9;

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
        return at >= m_begin && at - m_begin < qsizetype(m_marks.size())
            && (m_marks[size_t(at - m_begin)] >> kind & 1u);
    }
    // places: ascending.
    void mark(const std::vector<qsizetype>& places, int kind)
    {
        if (places.empty())
            return;
        if (m_marks.empty()) {
            m_begin = std::min(m_begin, places.front());
            m_marks.assign(size_t(m_end - m_begin), 0);
        } else if (places.front() < m_begin) {
            m_marks.insert(m_marks.begin(), size_t(m_begin - places.front()), 0);
            m_begin = places.front();
        }
        for (const qsizetype at : places)
            m_marks[size_t(at - m_begin)] |= quint16(1u << kind);
    }
    // Forgets every mark: the searches they stand for ended where the line then ended.
    void reset(qsizetype end)
    {
        m_begin = end;
        m_end = end;
        m_marks.clear();
    }

private:
    qsizetype m_begin;
    qsizetype m_end;
    std::vector<quint16> m_marks; // a bit per kind, made at the first failure
};

} // namespace

// The inline parser: a small, forgiving subset of the usual markdown inline syntax. Nothing is
// ever rejected; a marker without its partner is text.
//
// A model can write a line of a megabyte, all openers without partners. So the partners of
// brackets, parentheses and backtick runs are found in one pass over the line, and a search
// for a closing delimiter never walks again over ground a failed search of the same kind has
// covered: every line is read a bounded number of times.
//
// The line may grow. Each decision at the top of the line (outside any construct) is kept
// unless text added can change it: one that looked at the end of the line is made again, and
// one still waiting for a partner is asked whether the added text holds it. Of the searches
// for a closing delimiter that failed, the first of each kind is walked on from where it
// stopped; a later one that joined its way is known to fail with it.
class SummaryInlineParser
{
public:
    using Run = SummaryMarkdown::Run;

    // Beyond this many decisions that text added may change, the line is read again from the
    // next such decision whenever it grows: a line of many lone markers costs what it did.
    static constexpr size_t kMostWaiting = 256;

    explicit SummaryInlineParser(QString text)
        : m_text(std::move(text))
    {
        startRound();
        parseTop(0);
    }

    const QList<Run>& runs() const { return m_runs; }

    qsizetype append(QStringView more)
    {
        if (more.isEmpty())
            return m_shown;
        m_text.append(more);
        if (m_partnersFound)
            scanPartners();
        else
            m_newTicks.clear();
        startRound();
        for (size_t k = 0; k < m_waiting.size(); ++k) {
            if (stillWaits(m_waiting[k]))
                continue;
            const Checkpoint from = m_waiting[k].before;
            m_waiting.resize(k);
            return readAgainFrom(from);
        }
        return readAgainFrom(m_readAgainAt);
    }

private:
    // What the parse had made before a decision at the top of the line.
    struct Checkpoint
    {
        qsizetype at = 0;
        qsizetype runs = 0;
        qsizetype lastRunSize = 0;
        qsizetype shown = 0;
    };

    // A decision at the top of the line that text added at the end can change.
    struct Waiting
    {
        enum class What {
            emphasis, // no closing delimiter yet
            closedEmphasis, // closed, over backtick runs that may still find partners
            code, // a backtick run without a partner
            link,
            autolink,
        };
        What what = What::emphasis;
        Checkpoint before;
        qsizetype at = 0;
        QChar marker;
        qsizetype length = 0; // of the emphasis markers, or of the backtick run
        // Emphasis: where its search is walked on from (-1: nowhere before it joined), and where it
        // joined the first failed search of its kind (-1: it did not).
        qsizetype from = -1;
        qsizetype joined = -1;
        // Backtick runs its search stepped over for want of a partner: (place, length).
        std::vector<std::pair<qsizetype, qsizetype>> ticks;

        static Waiting of(What what, qsizetype at, QChar marker = {}, qsizetype length = 0)
        {
            Waiting waiting;
            waiting.what = what;
            waiting.at = at;
            waiting.marker = marker;
            waiting.length = length;
            return waiting;
        }
    };

    // A search for a closing delimiter at the top of the line.
    struct Walk
    {
        qsizetype close = -1;
        qsizetype joined = -1;
        qsizetype atEnd = -1; // its first step that looked at the end of the line
        std::vector<std::pair<qsizetype, qsizetype>> ticks;
    };

    // One step of a search for `length` copies of c at i.
    struct Step
    {
        qsizetype next = 0;
        bool close = false;
        bool atEnd = false;
        qsizetype lonelyTicks = 0; // the length of a backtick run without a partner
    };

    qsizetype runLength(qsizetype at, qsizetype end, QChar c) const
    {
        qsizetype length = 0;
        while (at + length < end && m_text[at + length] == c)
            ++length;
        return length;
    }

    // The pairs of the line, worked out the first time one is asked for and extended as the line
    // grows (a pair, once found, stays). A search that starts at an opener meets the same
    // escapes as this pass (an opener is never a backslash), so the partner it finds is the one
    // recorded here, or none when that lies at or past the end of its range.
    void findPartners()
    {
        if (m_partnersFound)
            return;
        m_partnersFound = true;
        scanPartners();
    }

    void scanPartners()
    {
        const qsizetype size = m_text.size();
        m_partner.resize(size_t(size), -1);
        m_newTicks.clear();
        // Brackets: a backslash hides the character after it, as in the search for a link's text.
        qsizetype i = m_bracketsRead;
        for (; i < size; ++i) {
            const QChar c = m_text[i];
            if (c == QLatin1Char('\\')) {
                ++i;
            } else if (c == QLatin1Char('[')) {
                m_openBrackets.push_back(i);
            } else if (c == QLatin1Char(']') && !m_openBrackets.empty()) {
                m_partner[size_t(m_openBrackets.back())] = i;
                m_openBrackets.pop_back();
            }
        }
        m_bracketsRead = i;
        // Parentheses and backticks count as they stand. A run of backticks at the end may yet
        // grow: it is read again.
        i = m_parensRead;
        if (m_lastTicks) {
            auto runs = m_tickRuns.find(m_lastTicks->second);
            runs->second.pop_back();
            if (runs->second.empty())
                m_tickRuns.erase(runs);
            i = m_lastTicks->first;
            m_lastTicks.reset();
        }
        for (; i < size; ++i) {
            const QChar c = m_text[i];
            if (c == QLatin1Char('(')) {
                m_openParens.push_back(i);
            } else if (c == QLatin1Char(')') && !m_openParens.empty()) {
                m_partner[size_t(m_openParens.back())] = i;
                m_openParens.pop_back();
            } else if (c == QLatin1Char('`')) {
                const qsizetype length = runLength(i, size, c);
                m_tickRuns[length].push_back(i);
                m_newTicks.push_back(length);
                if (i + length == size)
                    m_lastTicks = { i, length };
                i += length - 1;
            }
        }
        m_parensRead = i;
    }

    bool newTicks(qsizetype length) const
    {
        return std::find(m_newTicks.begin(), m_newTicks.end(), length) != m_newTicks.end();
    }

    qsizetype partnerBefore(qsizetype at, qsizetype end)
    {
        findPartners();
        const qsizetype partner = m_partner[size_t(at)];
        return partner >= 0 && partner < end ? partner : -1;
    }

    // Where the code span opened by `length` backticks at `at` closes, or -1.
    qsizetype codeSpanEnd(qsizetype at, qsizetype length, qsizetype end)
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

    Step step(qsizetype i, qsizetype end, QChar c, qsizetype length)
    {
        const QChar here = m_text[i];
        if (here == QLatin1Char('\\'))
            return i + 1 < end ? Step { i + 2 } : Step { i + 1, false, true };
        if (here == QLatin1Char('`')) {
            const qsizetype ticks = runLength(i, end, here);
            const qsizetype close = codeSpanEnd(i, ticks, end);
            if (close < 0)
                return { i + ticks, false, i + ticks == end, ticks };
            return { close + ticks, false, close + ticks == end };
        }
        if (here == c) {
            const qsizetype run = runLength(i, end, c);
            const bool afterText = !m_text[i - 1].isSpace();
            const bool wordFollows = i + run < end && m_text[i + run].isLetterOrNumber();
            const bool closes = run == length && afterText && (c != QLatin1Char('_') || !wordFollows);
            return { i + run, closes, i + run == end };
        }
        return { i + 1 };
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
            const Step next = step(i, end, c, length);
            if (next.close)
                return i;
            i = next.next;
        }
        dead.mark(m_visited, kind);
        return -1;
    }

    // The same search at the top of the line, noting what the end of the line and backtick runs
    // without partners decided on its way. The first failed search of a kind in a round marks
    // its way; a later one that reaches it joins it.
    Walk walk(qsizetype from, QChar c, qsizetype length)
    {
        const qsizetype end = m_text.size();
        const int kind = DeadEnds::kindOf(c, length);
        Walk walk;
        m_visited.clear();
        for (qsizetype i = from; i < end;) {
            if (m_topDead.contains(i, kind)) {
                walk.joined = i;
                return walk;
            }
            m_visited.push_back(i);
            const Step next = step(i, end, c, length);
            if (next.atEnd && walk.atEnd < 0)
                walk.atEnd = i;
            if (next.lonelyTicks > 0)
                walk.ticks.push_back({ i, next.lonelyTicks });
            if (next.close) {
                walk.close = i;
                return walk;
            }
            i = next.next;
        }
        if (walk.atEnd < 0)
            walk.atEnd = end;
        if (!m_marked[size_t(kind)]) {
            m_marked[size_t(kind)] = true;
            m_topDead.mark(m_visited, kind);
        }
        return walk;
    }

    // "[text](destination)" starting at `at`: where the text ends and the whole link ends.
    bool link(qsizetype at, qsizetype end, qsizetype* textEnd, qsizetype* linkEnd, QString* destination)
    {
        const qsizetype i = partnerBefore(at, end);
        if (i < 0 || i + 1 >= end || m_text[i + 1] != QLatin1Char('('))
            return false;
        *textEnd = i;
        const qsizetype j = partnerBefore(i + 1, end);
        if (j < 0)
            return false;
        QString inside = m_text.mid(i + 2, j - i - 2).trimmed();
        // A title after the destination is dropped; angle brackets may wrap it.
        if (const qsizetype space = inside.indexOf(QLatin1Char(' ')); space >= 0)
            inside.truncate(space);
        if (inside.startsWith(QLatin1Char('<')) && inside.endsWith(QLatin1Char('>')))
            inside = inside.mid(1, inside.size() - 2);
        *destination = inside;
        *linkEnd = j + 1;
        return true;
    }

    // "<scheme:rest>" starting at `at`; returns the position after ">", or -1, or -2 when the
    // line ended before anything decided.
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
        if (i >= end)
            return -2;
        if (scheme < 2 || m_text[i] != QLatin1Char(':'))
            return -1;
        for (; i < end; ++i) {
            const QChar c = m_text[i];
            if (c == QLatin1Char('>'))
                return i + 1;
            if (c.isSpace() || c == QLatin1Char('<'))
                return -1;
        }
        return -2;
    }

    void flush(QString& text, const Run& style)
    {
        if (text.isEmpty())
            return;
        Run run = style;
        run.text = text;
        text.clear();
        m_shown += run.text.size();
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

    Checkpoint checkpoint(qsizetype at) const
    {
        return { at, m_runs.size(), m_runs.isEmpty() ? 0 : m_runs.last().text.size(), m_shown };
    }

    // One decision at i, a character that may open something; returns where the parse goes on.
    // At the top of the line, `waiting` gets what text added at the end may change.
    qsizetype decide(qsizetype i, qsizetype begin, qsizetype end, const Run& style, QString& text, DeadEnds& dead,
        std::optional<Waiting>* waiting)
    {
        const QChar c = m_text[i];
        if (c == QLatin1Char('\\') && i + 1 < end && isAsciiPunctuation(m_text[i + 1])) {
            text += m_text[i + 1];
            return i + 2;
        }
        if (c == QLatin1Char('`')) {
            const qsizetype ticks = runLength(i, end, c);
            const qsizetype close = codeSpanEnd(i, ticks, end);
            if (close < 0) {
                text += m_text.mid(i, ticks);
                if (waiting)
                    *waiting = Waiting::of(Waiting::What::code, i, c, ticks);
                return i + ticks;
            }
            flush(text, style);
            QString code = m_text.mid(i + ticks, close - i - ticks);
            if (code.size() >= 2 && code.startsWith(QLatin1Char(' ')) && code.endsWith(QLatin1Char(' ')))
                code = code.mid(1, code.size() - 2);
            Run codeStyle = style;
            codeStyle.code = true;
            flush(code, codeStyle);
            return close + ticks;
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
                return linkEnd;
            }
            // A "]" followed by anything but "(" makes no link, whatever comes after.
            const qsizetype close = waiting ? partnerBefore(i, end) : -1;
            if (waiting && (close < 0 || close + 1 >= end || m_text[close + 1] == QLatin1Char('(')))
                *waiting = Waiting::of(Waiting::What::link, i);
        }
        if (c == QLatin1Char('<') && style.link.isEmpty()) {
            const qsizetype close = autolinkEnd(i, end);
            if (close > 0) {
                flush(text, style);
                Run linked = style;
                linked.link = m_text.mid(i + 1, close - i - 2);
                QString shown = linked.link;
                flush(shown, linked);
                return close;
            }
            if (waiting && close == -2)
                *waiting = Waiting::of(Waiting::What::autolink, i);
        }
        if (c == QLatin1Char('*') || c == QLatin1Char('_') || c == QLatin1Char('~')) {
            const qsizetype run = runLength(i, end, c);
            const bool opensText = i + run < end && !m_text[i + run].isSpace();
            const bool insideWord = c == QLatin1Char('_') && i > begin && m_text[i - 1].isLetterOrNumber();
            if (opensText && !insideWord && (c != QLatin1Char('~') || run == 2)) {
                // Three markers are strong and emphasised at once; otherwise two are strong.
                const qsizetype length = c == QLatin1Char('~') ? 2 : std::min<qsizetype>(run, 3);
                qsizetype close = -1;
                if (run == length && waiting) {
                    Walk found = walk(i + length, c, length);
                    close = found.close;
                    if (close < 0) {
                        *waiting = Waiting::of(Waiting::What::emphasis, i, c, length);
                        (*waiting)->from = found.atEnd;
                        (*waiting)->joined = found.joined;
                        (*waiting)->ticks = std::move(found.ticks);
                    } else if (!found.ticks.empty()) {
                        *waiting = Waiting::of(Waiting::What::closedEmphasis, i, c, length);
                        (*waiting)->ticks = std::move(found.ticks);
                    }
                } else if (run == length) {
                    close = closingDelimiter(i + length, end, c, length, dead);
                }
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
                    return close + length;
                }
            }
            text += m_text.mid(i, run);
            return i + run;
        }
        text += c;
        return i + 1;
    }

    // A range inside a construct, closed on both sides: nothing added later changes it.
    void parseRange(qsizetype begin, qsizetype end, const Run& style)
    {
        DeadEnds dead(begin, end);
        QString text;
        for (qsizetype i = begin; i < end;) {
            if (mayOpen(m_text[i])) {
                i = decide(i, begin, end, style, text, dead, nullptr);
            } else {
                text += m_text[i];
                ++i;
            }
        }
        flush(text, style);
    }

    // The top of the line from `from` to its end, noting what text added later may change.
    void parseTop(qsizetype from)
    {
        const qsizetype end = m_text.size();
        const Run style;
        QString text;
        std::optional<Checkpoint> lookedAtEnd;
        std::optional<Checkpoint> tooMany;
        for (qsizetype i = from; i < end;) {
            if (!mayOpen(m_text[i])) {
                text += m_text[i];
                ++i;
                continue;
            }
            // Read again from there at every growth: nothing after it needs noting.
            if (tooMany) {
                i = decide(i, 0, end, style, text, m_topDead, nullptr);
                continue;
            }
            flush(text, style);
            const Checkpoint before = checkpoint(i);
            std::optional<Waiting> waiting;
            i = decide(i, 0, end, style, text, m_topDead, &waiting);
            if (i == end) {
                lookedAtEnd = before;
            } else if (waiting && m_waiting.size() < kMostWaiting) {
                waiting->before = before;
                m_waiting.push_back(std::move(*waiting));
            } else if (waiting && !tooMany) {
                tooMany = before;
            }
        }
        flush(text, style);
        m_readAgainAt = tooMany ? *tooMany : lookedAtEnd ? *lookedAtEnd : checkpoint(end);
    }

    qsizetype readAgainFrom(Checkpoint from)
    {
        m_runs.resize(from.runs);
        if (from.runs > 0)
            m_runs.last().text.truncate(from.lastRunSize);
        m_shown = from.shown;
        parseTop(from.at);
        return from.shown;
    }

    void startRound()
    {
        m_topDead.reset(m_text.size());
        m_marked.fill(false);
        m_firstFrom.fill(-1);
    }

    // Whether the decision stays as it was with the text added; walks its search on when it
    // must.
    bool stillWaits(Waiting& waiting)
    {
        const qsizetype end = m_text.size();
        switch (waiting.what) {
        case Waiting::What::code:
            return !newTicks(waiting.length);
        case Waiting::What::link: {
            qsizetype textEnd = 0;
            qsizetype linkEnd = 0;
            QString destination;
            return !link(waiting.at, end, &textEnd, &linkEnd, &destination);
        }
        case Waiting::What::autolink:
            return autolinkEnd(waiting.at, end) < 0;
        case Waiting::What::closedEmphasis:
            return std::none_of(
                waiting.ticks.begin(), waiting.ticks.end(), [this](const auto& run) { return newTicks(run.second); });
        case Waiting::What::emphasis:
            break;
        }
        const int kind = DeadEnds::kindOf(waiting.marker, waiting.length);
        // A backtick run on its way that now has a partner sends the search elsewhere from there.
        qsizetype from = waiting.joined < 0 ? waiting.from : waiting.joined;
        if (waiting.from >= 0)
            from = std::min(from, waiting.from);
        bool ticksChanged = false;
        for (const auto& [at, length] : waiting.ticks) {
            if (at < from && newTicks(length)) {
                from = at;
                ticksChanged = true;
                break;
            }
        }
        if (waiting.joined < 0) {
            if (!m_marked[size_t(kind)])
                m_firstFrom[size_t(kind)] = from;
        } else if (!ticksChanged && waiting.from < 0 && m_firstFrom[size_t(kind)] >= 0
            && waiting.joined < m_firstFrom[size_t(kind)]) {
            // Its way is the first search's from where it joined, and that search's way is as it
            // was up to where it was walked on from.
            return true;
        }
        std::erase_if(waiting.ticks, [from](const auto& run) { return run.first >= from; });
        Walk found = walk(from, waiting.marker, waiting.length);
        if (found.close >= 0)
            return false;
        waiting.ticks.insert(waiting.ticks.end(), found.ticks.begin(), found.ticks.end());
        waiting.joined = found.joined;
        waiting.from = found.atEnd;
        return true;
    }

    QString m_text;
    QList<Run> m_runs;
    qsizetype m_shown = 0; // the characters of the runs' text
    std::vector<qsizetype> m_visited; // by the closing-delimiter search under way

    bool m_partnersFound = false;
    std::vector<qsizetype> m_partner; // of each bracket or parenthesis that has one
    std::map<qsizetype, std::vector<qsizetype>> m_tickRuns; // starts of backtick runs, by length
    qsizetype m_bracketsRead = 0;
    qsizetype m_parensRead = 0;
    std::vector<qsizetype> m_openBrackets;
    std::vector<qsizetype> m_openParens;
    std::optional<std::pair<qsizetype, qsizetype>> m_lastTicks; // a run at the end, which may grow
    std::vector<qsizetype> m_newTicks; // lengths of the runs the last extension found

    // The decisions text added may change, in the order of the line, and where the parse is
    // read again when none of them does.
    std::vector<Waiting> m_waiting;
    Checkpoint m_readAgainAt;
    // This round's first failed search of each kind: its marked way, and where it was walked on
    // from.
    DeadEnds m_topDead { 0, 0 };
    std::array<bool, DeadEnds::kKinds> m_marked {};
    std::array<qsizetype, DeadEnds::kKinds> m_firstFrom {};
};

SummaryInlineRuns::SummaryInlineRuns(const QString& line)
    : m_parser(std::make_unique<SummaryInlineParser>(line))
{ }

SummaryInlineRuns::~SummaryInlineRuns() = default;

const QList<SummaryMarkdown::Run>& SummaryInlineRuns::runs() const
{
    return m_parser->runs();
}

qsizetype SummaryInlineRuns::append(QStringView more)
{
    return m_parser->append(more);
}

QList<SummaryMarkdown::Run> SummaryMarkdown::inlineRuns(const QString& line)
{
    return SummaryInlineParser(line).runs();
}
