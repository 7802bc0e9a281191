// The summary's inline markup: emphasis, code, links, autolinks and character references
// within one line, read as CommonMark reads them.
#include "ui/workspace/SummaryInline.h"

#include "ui/workspace/CharacterReferences.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace {

bool isAsciiPunctuation(char32_t c)
{
    return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) || (c >= 123 && c <= 126);
}

bool isPunctuation(char32_t c)
{
    return isAsciiPunctuation(c) || QChar::isPunct(c) || QChar::isSymbol(c);
}

// The start and the end of the line count as white space; so does "none" (0).
bool isWhitespace(char32_t c)
{
    return c == 0 || QChar::isSpace(c);
}

bool isAsciiAlphanumeric(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

int digitValue(QChar c, bool hex)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (hex && u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (hex && u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// The characters a decision of the parser starts at; any other is text as it stands.
bool mayOpen(QChar c)
{
    switch (c.unicode()) {
    case '\\':
    case '`':
    case '&':
    case '<':
    case '*':
    case '_':
    case '~':
    case '[':
    case ']':
        return true;
    default:
        return false;
    }
}

// Text after a scan: found (with where it ends), not found, or the line ended before the
// scan could tell.
enum class Scan { found, none, atEnd };

} // namespace

// The inline parser. Nothing is ever rejected; a marker without its partner is text.
//
// Emphasis follows CommonMark's delimiter runs: a run of "*" or "_" may open or close by the
// characters beside it, a closer takes the nearest opener it may pair with (runs of different
// lengths give up one or two markers at a time, with the rule of three), and a bracket pairs
// with the nearest "[" before it. Closers are paired as soon as they are read while no "["
// is open, which is what reading them all at the end gives.
//
// A model can write a line of a megabyte. The closing run of a code span is looked up among
// the line's backtick runs, and a search for an opener never walks again over openers an
// earlier search of the same kind found useless: every line is read a bounded number of times.
//
// The line may grow. The parser goes back to its last safe point, one where no "[" and no
// backtick run waits for a partner and nothing decided before it looked at the end of the
// line, and reads on from there; what it changed of the pieces before that point (an opener
// that found its closer) is noted so that it can be undone. Only the runs from the first piece
// whose text or style changed are made again. A line with an unclosed "[" or backtick run is
// read again from there at every growth.
class SummaryInlineParser
{
public:
    using Run = SummaryMarkdown::Run;

    SummaryInlineParser(QString text, bool growing)
        : m_text(std::move(text))
        , m_growing(growing)
    {
        m_delimiters.push_back({}); // the bottom of the stack, never removed
        m_bottoms.fill(-1);
        indexTicks(0);
        m_safe = mark(0);
        parse();
        render(0);
    }

    const QList<Run>& runs() const { return m_runs; }

    qsizetype append(QStringView more)
    {
        if (more.isEmpty())
            return m_shown;
        const qsizetype before = m_text.size();
        m_text.append(more);
        indexTicks(before);
        m_changedFrom = m_safe.atoms;
        restore(m_safe);
        parse();
        return render(m_changedFrom);
    }

private:
    // One piece of the line's text: plain text (with its references and escapes read), a code
    // span, an autolink, or a run of markers, of which pairing takes some away.
    struct Atom
    {
        qsizetype from = 0; // its text in m_pieces
        qsizetype length = 0;
        qint32 link = -1; // into m_links: an autolink
        char16_t marker = 0;
        qint32 markers = 0;
        bool code = false;
    };

    struct Delimiter
    {
        qsizetype atom = -1;
        qsizetype position = -1;
        qsizetype length = 0; // of the whole run as written
        char16_t marker = 0;
        bool canOpen = false;
        bool canClose = false;
        qsizetype previous = -1;
        qsizetype next = -1;
    };

    struct Bracket
    {
        qsizetype atom = -1;
        qsizetype below = 0; // the delimiter on top of the stack when it was read
        bool active = true;
    };

    struct Span
    {
        enum class Kind { strong, emphasis, strikethrough, link };
        qsizetype begin = 0; // atoms, end exclusive
        qsizetype end = 0;
        Kind kind = Kind::strong;
        qint32 link = -1;
    };

    // A change to what was there at the last safe point, and what it changed from. What came
    // after it goes as a whole, and a safe point has no "[" open.
    struct Undo
    {
        enum class What { markers, next, previous };
        What what = What::markers;
        qsizetype index = 0;
        qsizetype value = 0;
    };

    struct Mark
    {
        qsizetype at = 0;
        size_t log = 0;
        qsizetype atoms = 0;
        qsizetype delimiters = 0;
        qsizetype spans = 0;
        qsizetype links = 0;
        qsizetype pieces = 0;
        qsizetype top = 0;
        std::array<qsizetype, 18> bottoms {};
    };

    static constexpr int kStackDepthOfParentheses = 32;

    // --- The state and its notes ------------------------------------------------------------

    void note(Undo::What what, qsizetype index, qsizetype value)
    {
        if (m_growing)
            m_log.push_back({ what, index, value });
    }

    void setMarkers(qsizetype atom, qsizetype markers)
    {
        if (atom < m_candidate.atoms)
            note(Undo::What::markers, atom, m_atoms[size_t(atom)].markers);
        m_atoms[size_t(atom)].markers = qint32(markers);
        m_changedFrom = std::min(m_changedFrom, atom);
    }
    void setNext(qsizetype delimiter, qsizetype next)
    {
        if (delimiter < m_candidate.delimiters)
            note(Undo::What::next, delimiter, m_delimiters[size_t(delimiter)].next);
        m_delimiters[size_t(delimiter)].next = next;
    }
    void setPrevious(qsizetype delimiter, qsizetype previous)
    {
        if (delimiter < m_candidate.delimiters)
            note(Undo::What::previous, delimiter, m_delimiters[size_t(delimiter)].previous);
        m_delimiters[size_t(delimiter)].previous = previous;
    }
    void setTop(qsizetype top) { m_top = top; }
    void setBottom(int slot, qsizetype position) { m_bottoms[size_t(slot)] = position; }
    void pushBracket(Bracket bracket) { m_brackets.push_back(bracket); }
    void popBracket() { m_brackets.pop_back(); }
    void addSpan(Span span)
    {
        m_spans.push_back(span);
        m_changedFrom = std::min(m_changedFrom, span.begin);
    }

    Mark mark(qsizetype at) const
    {
        return { at, m_log.size(), qsizetype(m_atoms.size()), qsizetype(m_delimiters.size()), qsizetype(m_spans.size()),
            qsizetype(m_links.size()), m_pieces.size(), m_top, m_bottoms };
    }

    void restore(const Mark& to)
    {
        while (m_log.size() > to.log) {
            const Undo undo = m_log.back();
            m_log.pop_back();
            switch (undo.what) {
            case Undo::What::markers:
                m_atoms[size_t(undo.index)].markers = qint32(undo.value);
                m_changedFrom = std::min(m_changedFrom, undo.index);
                break;
            case Undo::What::next:
                m_delimiters[size_t(undo.index)].next = undo.value;
                break;
            case Undo::What::previous:
                m_delimiters[size_t(undo.index)].previous = undo.value;
                break;
            }
        }
        for (size_t s = size_t(to.spans); s < m_spans.size(); ++s)
            m_changedFrom = std::min(m_changedFrom, m_spans[s].begin);
        m_atoms.resize(size_t(to.atoms));
        m_delimiters.resize(size_t(to.delimiters));
        m_spans.resize(size_t(to.spans));
        m_links.resize(to.links);
        m_pieces.truncate(to.pieces);
        m_top = to.top;
        m_bottoms = to.bottoms;
        m_brackets.clear();
        m_ticksWaiting = false;
    }

    // --- Backtick runs ----------------------------------------------------------------------

    qsizetype runLength(qsizetype at, QChar c) const
    {
        qsizetype length = 0;
        while (at + length < m_text.size() && m_text[at + length] == c)
            ++length;
        return length;
    }

    // Notes the backtick runs from `from` on; a run that ended the line before may have grown.
    void indexTicks(qsizetype from)
    {
        if (m_lastTicks && m_lastTicks->first + m_lastTicks->second == from) {
            auto runs = m_tickRuns.find(m_lastTicks->second);
            runs->second.pop_back();
            if (runs->second.empty())
                m_tickRuns.erase(runs);
            from = m_lastTicks->first;
        }
        m_lastTicks.reset();
        const qsizetype size = m_text.size();
        for (qsizetype i = from; i < size; ++i) {
            if (m_text[i] != QLatin1Char('`'))
                continue;
            const qsizetype length = runLength(i, m_text[i]);
            m_tickRuns[length].push_back(i);
            if (i + length == size)
                m_lastTicks = { i, length };
            i += length - 1;
        }
    }

    // Where a run of `length` backticks after `from` starts, or -1. Backslashes do not escape
    // inside a code span, so the run is found as written.
    qsizetype closingTicks(qsizetype from, qsizetype length) const
    {
        const auto found = m_tickRuns.find(length);
        if (found == m_tickRuns.end())
            return -1;
        const auto next = std::lower_bound(found->second.begin(), found->second.end(), from);
        return next != found->second.end() ? *next : -1;
    }

    // --- Characters -------------------------------------------------------------------------

    char32_t codePointBefore(qsizetype at) const
    {
        if (at <= 0)
            return 0;
        const QChar c = m_text[at - 1];
        if (c.isLowSurrogate() && at >= 2 && m_text[at - 2].isHighSurrogate())
            return QChar::surrogateToUcs4(m_text[at - 2], c);
        return c.unicode();
    }

    char32_t codePointAt(qsizetype at) const
    {
        if (at >= m_text.size())
            return 0;
        const QChar c = m_text[at];
        if (c.isHighSurrogate() && at + 1 < m_text.size() && m_text[at + 1].isLowSurrogate())
            return QChar::surrogateToUcs4(c, m_text[at + 1]);
        return c.unicode();
    }

    // "&name;", "&#digits;" or "&#xhex;" at `at`: its text and where it ends.
    Scan reference(qsizetype at, QString* text, qsizetype* end) const
    {
        const qsizetype size = m_text.size();
        qsizetype i = at + 1;
        if (i < size && m_text[i] == QLatin1Char('#')) {
            ++i;
            const bool hex = i < size && (m_text[i] == QLatin1Char('x') || m_text[i] == QLatin1Char('X'));
            if (hex)
                ++i;
            const qsizetype digitsFrom = i;
            char32_t code = 0;
            for (; i < size && i - digitsFrom < (hex ? 6 : 7); ++i) {
                const int digit = digitValue(m_text[i], hex);
                if (digit < 0)
                    break;
                code = code * (hex ? 16 : 10) + char32_t(digit);
            }
            if (i >= size)
                return Scan::atEnd;
            if (i == digitsFrom || m_text[i] != QLatin1Char(';'))
                return Scan::none;
            *text = CharacterReferences::numeric(code);
            *end = i + 1;
            return Scan::found;
        }
        // The longest name HTML knows has 31 letters.
        const qsizetype nameFrom = i;
        while (i < size && i - nameFrom <= 32 && isAsciiAlphanumeric(m_text[i]))
            ++i;
        if (i >= size)
            return Scan::atEnd;
        if (i == nameFrom || m_text[i] != QLatin1Char(';'))
            return Scan::none;
        *text = CharacterReferences::named(QStringView(m_text).sliced(nameFrom, i - nameFrom));
        if (text->isNull())
            return Scan::none;
        *end = i + 1;
        return Scan::found;
    }

    // Text with its backslash escapes and references read, as in a link's destination.
    QString unescaped(qsizetype from, qsizetype to) const
    {
        QString out;
        for (qsizetype i = from; i < to;) {
            const QChar c = m_text[i];
            if (c == QLatin1Char('\\') && i + 1 < to && isAsciiPunctuation(m_text[i + 1].unicode())) {
                out += m_text[i + 1];
                i += 2;
                continue;
            }
            if (c == QLatin1Char('&')) {
                QString text;
                qsizetype end = 0;
                if (reference(i, &text, &end) == Scan::found && end <= to) {
                    out += text;
                    i = end;
                    continue;
                }
            }
            out += c;
            ++i;
        }
        return out;
    }

    // --- Links ------------------------------------------------------------------------------

    // "(destination "title")" at `at`, right after a "]".
    Scan linkTail(qsizetype at, QString* destination, qsizetype* end) const
    {
        const qsizetype size = m_text.size();
        const auto skipBlanks = [this, size](qsizetype i) {
            while (i < size && (m_text[i] == QLatin1Char(' ') || m_text[i] == QLatin1Char('\t')))
                ++i;
            return i;
        };
        if (at >= size)
            return Scan::atEnd;
        if (m_text[at] != QLatin1Char('('))
            return Scan::none;
        qsizetype i = skipBlanks(at + 1);
        if (i >= size)
            return Scan::atEnd;
        if (m_text[i] == QLatin1Char('<')) {
            const qsizetype from = i + 1;
            for (i = from; i < size && m_text[i] != QLatin1Char('>'); ++i) {
                if (m_text[i] == QLatin1Char('<'))
                    return Scan::none;
                if (m_text[i] == QLatin1Char('\\') && i + 1 < size && isAsciiPunctuation(m_text[i + 1].unicode()))
                    ++i;
            }
            if (i >= size)
                return Scan::atEnd;
            *destination = unescaped(from, i);
            ++i;
        } else if (m_text[i] != QLatin1Char(')')) {
            const qsizetype from = i;
            int depth = 0;
            for (; i < size; ++i) {
                const char16_t c = m_text[i].unicode();
                if (c <= 0x20 || c == 0x7f)
                    break;
                if (c == '\\' && i + 1 < size && isAsciiPunctuation(m_text[i + 1].unicode())) {
                    ++i;
                } else if (c == '(') {
                    if (++depth > kStackDepthOfParentheses)
                        return Scan::none;
                } else if (c == ')') {
                    if (depth == 0)
                        break;
                    --depth;
                }
            }
            if (i >= size)
                return Scan::atEnd;
            if (depth != 0)
                return Scan::none;
            *destination = unescaped(from, i);
        }
        const qsizetype afterDestination = i;
        i = skipBlanks(i);
        if (i >= size)
            return Scan::atEnd;
        const QChar opening = m_text[i];
        if (i > afterDestination
            && (opening == QLatin1Char('"') || opening == QLatin1Char('\'') || opening == QLatin1Char('('))) {
            const QChar closing = opening == QLatin1Char('(') ? QLatin1Char(')') : opening;
            for (++i; i < size && m_text[i] != closing; ++i) {
                if (opening == QLatin1Char('(') && m_text[i] == QLatin1Char('('))
                    return Scan::none;
                if (m_text[i] == QLatin1Char('\\') && i + 1 < size && isAsciiPunctuation(m_text[i + 1].unicode()))
                    ++i;
            }
            if (i >= size)
                return Scan::atEnd;
            i = skipBlanks(i + 1);
            if (i >= size)
                return Scan::atEnd;
        }
        if (m_text[i] != QLatin1Char(')'))
            return Scan::none;
        // An address cannot hold a space; "<...>" lets one be written.
        destination->replace(QLatin1Char(' '), QLatin1String("%20"));
        *end = i + 1;
        return Scan::found;
    }

    // "<scheme:rest>" or "<name@host>" at `at`: the address and where it ends.
    Scan autolink(qsizetype at, QString* address, bool* email, qsizetype* end) const
    {
        const qsizetype size = m_text.size();
        bool uriUndecided = false;
        {
            qsizetype i = at + 1;
            qsizetype scheme = 0;
            while (i < size && scheme <= 32 && m_text[i].unicode() < 128
                && (m_text[i].isLetter()
                    || (scheme > 0
                        && (m_text[i].isDigit() || m_text[i] == QLatin1Char('+') || m_text[i] == QLatin1Char('.')
                            || m_text[i] == QLatin1Char('-'))))) {
                ++scheme;
                ++i;
            }
            if (i >= size) {
                uriUndecided = true;
            } else if (scheme >= 2 && scheme <= 32 && m_text[i] == QLatin1Char(':')) {
                for (; i < size; ++i) {
                    const char16_t c = m_text[i].unicode();
                    if (c == '>') {
                        *address = m_text.mid(at + 1, i - at - 1);
                        *email = false;
                        *end = i + 1;
                        return Scan::found;
                    }
                    if (c <= 0x20 || c == 0x7f || c == '<')
                        break;
                }
                if (i >= size)
                    uriUndecided = true;
            }
        }
        static const QString localCharacters = QStringLiteral(".!#$%&'*+/=?^_`{|}~-");
        qsizetype i = at + 1;
        while (i < size && (isAsciiAlphanumeric(m_text[i]) || localCharacters.contains(m_text[i])))
            ++i;
        if (i >= size)
            return Scan::atEnd;
        if (i == at + 1 || m_text[i] != QLatin1Char('@'))
            return uriUndecided ? Scan::atEnd : Scan::none;
        const qsizetype host = ++i;
        qsizetype label = 0;
        for (; i < size; ++i) {
            const QChar c = m_text[i];
            if (isAsciiAlphanumeric(c)) {
                if (++label > 63)
                    return Scan::none;
            } else if (c == QLatin1Char('-') && label > 0) {
                if (++label > 63)
                    return Scan::none;
            } else if (c == QLatin1Char('.') && label > 0 && m_text[i - 1] != QLatin1Char('-')) {
                label = 0;
            } else {
                break;
            }
        }
        if (i >= size)
            return Scan::atEnd;
        if (i == host || label == 0 || m_text[i - 1] == QLatin1Char('-') || m_text[i] != QLatin1Char('>'))
            return uriUndecided ? Scan::atEnd : Scan::none;
        *address = m_text.mid(at + 1, i - at - 1);
        *email = true;
        *end = i + 1;
        return Scan::found;
    }

    // --- Emphasis ---------------------------------------------------------------------------

    static int kindOf(char16_t marker) { return marker == '*' ? 0 : marker == '_' ? 1 : 2; }
    static int slotOf(const Delimiter& closer)
    {
        return kindOf(closer.marker) * 6 + (closer.canOpen ? 3 : 0) + int(closer.length % 3);
    }

    void removeDelimiter(qsizetype index)
    {
        const Delimiter& delimiter = m_delimiters[size_t(index)];
        const qsizetype previous = delimiter.previous;
        const qsizetype next = delimiter.next;
        setNext(previous, next);
        if (next >= 0)
            setPrevious(next, previous);
        else
            setTop(previous);
    }

    // Pairs the closers from `first` on with openers above `bottom`. `bottoms` holds, for each
    // kind of closer, the position at and below which no opener can pair with one.
    void processEmphasis(qsizetype first, qsizetype bottom, std::array<qsizetype, 18>& bottoms, bool persistent)
    {
        qsizetype closer = first;
        while (closer >= 0) {
            const Delimiter c = m_delimiters[size_t(closer)];
            if (!c.canClose) {
                closer = c.next;
                continue;
            }
            const int slot = slotOf(c);
            qsizetype opener = c.previous;
            bool found = false;
            while (opener != bottom && opener > 0 && m_delimiters[size_t(opener)].position > bottoms[size_t(slot)]) {
                const Delimiter& o = m_delimiters[size_t(opener)];
                const bool threes = c.marker != '~' && (c.canOpen || o.canClose) && c.length % 3 != 0
                    && (o.length + c.length) % 3 == 0;
                if (o.marker == c.marker && o.canOpen && !threes) {
                    found = true;
                    break;
                }
                opener = o.previous;
            }
            if (!found) {
                const qsizetype below = c.previous > 0 ? m_delimiters[size_t(c.previous)].position : -1;
                if (persistent)
                    setBottom(slot, below);
                else
                    bottoms[size_t(slot)] = below;
                if (!c.canOpen)
                    removeDelimiter(closer);
                closer = c.next;
                continue;
            }
            const Delimiter o = m_delimiters[size_t(opener)];
            const qsizetype openerMarkers = m_atoms[size_t(o.atom)].markers;
            const qsizetype closerMarkers = m_atoms[size_t(c.atom)].markers;
            const qsizetype use = openerMarkers >= 2 && closerMarkers >= 2 ? 2 : 1;
            setMarkers(o.atom, openerMarkers - use);
            setMarkers(c.atom, closerMarkers - use);
            addSpan({ o.atom + 1, c.atom,
                c.marker == '~' ? Span::Kind::strikethrough
                    : use == 2  ? Span::Kind::strong
                                : Span::Kind::emphasis });
            if (o.next != closer) {
                setNext(opener, closer);
                setPrevious(closer, opener);
            }
            if (openerMarkers == use)
                removeDelimiter(opener);
            if (closerMarkers == use) {
                const qsizetype next = m_delimiters[size_t(closer)].next;
                removeDelimiter(closer);
                closer = next;
            }
        }
    }

    // --- Reading ----------------------------------------------------------------------------

    // Makes the text read since the last atom an atom.
    void flush(const QString& text)
    {
        if (text.size() == m_pendingFrom)
            return;
        Atom atom;
        atom.from = m_pendingFrom;
        atom.length = text.size() - m_pendingFrom;
        m_atoms.push_back(atom);
        m_pendingFrom = text.size();
    }

    void addAtom(QStringView shown, bool code, qint32 link)
    {
        Atom atom;
        atom.from = m_pieces.size();
        atom.length = shown.size();
        atom.code = code;
        atom.link = link;
        m_pieces += shown;
        m_pendingFrom = m_pieces.size();
        m_atoms.push_back(atom);
    }

    qsizetype addMarkers(char16_t marker, qsizetype count)
    {
        Atom atom;
        atom.marker = marker;
        atom.markers = qint32(count);
        m_atoms.push_back(atom);
        return qsizetype(m_atoms.size()) - 1;
    }

    // Reads from the safe point to the end of the line, and notes the last safe point.
    void parse()
    {
        const qsizetype size = m_text.size();
        QString& text = m_pieces;
        m_pendingFrom = m_pieces.size();
        bool lookedAtEnd = false;
        m_candidate = m_safe;
        for (qsizetype i = m_safe.at; i < size;) {
            if (!mayOpen(m_text[i])) {
                qsizetype plain = i + 1;
                while (plain < size && !mayOpen(m_text[plain]))
                    ++plain;
                text += QStringView(m_text).sliced(i, plain - i);
                i = plain;
                continue;
            }
            flush(text);
            if (!lookedAtEnd && m_brackets.empty() && !m_ticksWaiting)
                m_candidate = mark(i);
            bool atEnd = false;
            i = decide(i, text, &atEnd);
            lookedAtEnd = lookedAtEnd || atEnd;
        }
        flush(text);
        if (!lookedAtEnd && m_brackets.empty() && !m_ticksWaiting)
            m_candidate = mark(size);
        // What is still open at the end is text; the closers read inside it are paired now.
        if (!m_brackets.empty())
            processEmphasis(m_delimiters[size_t(m_brackets.front().below)].next, 0, m_bottoms, true);
        m_safe = m_candidate;
        // Notes from before the safe point are never undone.
        if (m_safe.log > 4096) {
            m_log.erase(m_log.begin(), m_log.begin() + std::ptrdiff_t(m_safe.log));
            m_safe.log = 0;
        }
    }

    // One decision at i, a character that may open something; returns where reading goes on.
    qsizetype decide(qsizetype i, QString& text, bool* atEnd)
    {
        const qsizetype size = m_text.size();
        const QChar c = m_text[i];
        switch (c.unicode()) {
        case '\\':
            if (i + 1 >= size) {
                *atEnd = true;
            } else if (isAsciiPunctuation(m_text[i + 1].unicode())) {
                text += m_text[i + 1];
                return i + 2;
            }
            text += c;
            return i + 1;
        case '`': {
            const qsizetype ticks = runLength(i, c);
            *atEnd = i + ticks == size;
            const qsizetype close = closingTicks(i + ticks, ticks);
            if (close < 0) {
                m_ticksWaiting = true;
                text += QStringView(m_text).sliced(i, ticks);
                return i + ticks;
            }
            *atEnd = *atEnd || close + ticks == size;
            QString code = m_text.mid(i + ticks, close - i - ticks);
            if (code.size() >= 2 && code.startsWith(QLatin1Char(' ')) && code.endsWith(QLatin1Char(' '))
                && code.count(QLatin1Char(' ')) != code.size())
                code = code.mid(1, code.size() - 2);
            addAtom(code, true, -1);
            return close + ticks;
        }
        case '&': {
            QString decoded;
            qsizetype end = 0;
            const Scan scan = reference(i, &decoded, &end);
            if (scan == Scan::found) {
                text += decoded;
                return end;
            }
            *atEnd = scan == Scan::atEnd;
            text += c;
            return i + 1;
        }
        case '<': {
            QString address;
            bool email = false;
            qsizetype end = 0;
            const Scan scan = autolink(i, &address, &email, &end);
            if (scan == Scan::found) {
                m_links.append(email ? QStringLiteral("mailto:") + address : address);
                addAtom(address, false, qint32(m_links.size() - 1));
                return end;
            }
            *atEnd = scan == Scan::atEnd;
            text += c;
            return i + 1;
        }
        case '[':
            pushBracket({ addMarkers('[', 1), m_top, true });
            return i + 1;
        case ']':
            return closeBracket(i, text, atEnd);
        default:
            return delimiterRun(i, text, atEnd);
        }
    }

    qsizetype delimiterRun(qsizetype i, QString& text, bool* atEnd)
    {
        const QChar c = m_text[i];
        const qsizetype run = runLength(i, c);
        *atEnd = i + run == m_text.size();
        const char32_t before = codePointBefore(i);
        const char32_t after = codePointAt(i + run);
        const bool leftFlanking
            = !isWhitespace(after) && (!isPunctuation(after) || isWhitespace(before) || isPunctuation(before));
        const bool rightFlanking
            = !isWhitespace(before) && (!isPunctuation(before) || isWhitespace(after) || isPunctuation(after));
        bool canOpen = leftFlanking;
        bool canClose = rightFlanking;
        if (c == QLatin1Char('_')) {
            canOpen = leftFlanking && (!rightFlanking || isPunctuation(before));
            canClose = rightFlanking && (!leftFlanking || isPunctuation(after));
        }
        // Struck-through text is marked by two tildes, never by one or three.
        if ((!canOpen && !canClose) || (c == QLatin1Char('~') && run != 2)) {
            text += QStringView(m_text).sliced(i, run);
            return i + run;
        }
        Delimiter delimiter;
        delimiter.atom = addMarkers(c.unicode(), run);
        delimiter.position = i;
        delimiter.length = run;
        delimiter.marker = c.unicode();
        delimiter.canOpen = canOpen;
        delimiter.canClose = canClose;
        delimiter.previous = m_top;
        const qsizetype index = qsizetype(m_delimiters.size());
        m_delimiters.push_back(delimiter);
        setNext(m_top, index);
        setTop(index);
        // Inside a "[" the closers wait: whether they may reach past it depends on whether it
        // becomes a link.
        if (m_brackets.empty())
            processEmphasis(index, 0, m_bottoms, true);
        return i + run;
    }

    qsizetype closeBracket(qsizetype i, QString& text, bool* atEnd)
    {
        if (m_brackets.empty()) {
            text += m_text[i];
            return i + 1;
        }
        const Bracket opener = m_brackets.back();
        QString destination;
        qsizetype end = 0;
        const Scan scan = opener.active ? linkTail(i + 1, &destination, &end) : Scan::none;
        *atEnd = scan == Scan::atEnd;
        popBracket();
        if (scan != Scan::found) {
            text += m_text[i];
            // The closers inside it may now pair with what came before it.
            if (m_brackets.empty())
                processEmphasis(m_delimiters[size_t(opener.below)].next, 0, m_bottoms, true);
            return i + 1;
        }
        const qint32 link = qint32(m_links.size());
        m_links.append(destination);
        addSpan({ opener.atom + 1, qsizetype(m_atoms.size()), Span::Kind::link, link });
        setMarkers(opener.atom, 0);
        std::array<qsizetype, 18> bottoms;
        bottoms.fill(m_delimiters[size_t(opener.below)].position);
        processEmphasis(m_delimiters[size_t(opener.below)].next, opener.below, bottoms, false);
        while (m_top != opener.below)
            removeDelimiter(m_top);
        // No link inside a link: the "[" before this one are text from now on.
        for (qsizetype b = qsizetype(m_brackets.size()) - 1; b >= 0 && m_brackets[size_t(b)].active; --b)
            m_brackets[size_t(b)].active = false;
        return end;
    }

    // --- Runs -------------------------------------------------------------------------------

    // Makes the runs again from this atom on; returns how many characters of the runs' text,
    // end to end, stayed as they were.
    qsizetype render(qsizetype from)
    {
        from = std::min(from, qsizetype(m_places.size()));
        const qsizetype same = from < qsizetype(m_places.size()) ? m_places[size_t(from)] : m_shown;
        // Cut the runs back to where that atom began.
        const auto holding = std::upper_bound(m_runStarts.begin(), m_runStarts.end(), same);
        qsizetype keep = qsizetype(holding - m_runStarts.begin());
        if (keep > 0 && m_runStarts[size_t(keep - 1)] == same)
            --keep;
        if (keep > 0)
            m_runs[keep - 1].text.truncate(same - m_runStarts[size_t(keep - 1)]);
        m_runs.resize(keep);
        m_runStarts.resize(size_t(keep));
        m_places.resize(size_t(from));
        m_shown = same;

        // The styles in force at `from`, and where they change after it.
        std::array<int, 3> depth {};
        qint32 link = -1;
        std::vector<std::pair<qsizetype, qsizetype>> changes; // (atom, span index + 1 or -(index + 1))
        for (size_t s = 0; s < m_spans.size(); ++s) {
            const Span& span = m_spans[s];
            if (span.end <= from || span.begin >= span.end)
                continue;
            if (span.begin <= from)
                apply(span, +1, depth, link);
            else
                changes.push_back({ span.begin, qsizetype(s) + 1 });
            changes.push_back({ span.end, -(qsizetype(s) + 1) });
        }
        std::sort(changes.begin(), changes.end());
        size_t next = 0;
        for (qsizetype a = from; a < qsizetype(m_atoms.size()); ++a) {
            for (; next < changes.size() && changes[next].first <= a; ++next) {
                const qsizetype s = changes[next].second;
                apply(m_spans[size_t(std::abs(s) - 1)], s > 0 ? +1 : -1, depth, link);
            }
            m_places.push_back(m_shown);
            const Atom& atom = m_atoms[size_t(a)];
            if (atom.markers == 0 && atom.length == 0)
                continue;
            Run run;
            run.strong = depth[0] > 0;
            run.emphasis = depth[1] > 0;
            run.strikethrough = depth[2] > 0;
            run.code = atom.code;
            const qint32 target = atom.link >= 0 ? atom.link : link;
            if (target >= 0)
                run.link = m_links.at(target);
            const qsizetype length = atom.markers > 0 ? atom.markers : atom.length;
            if (m_runs.isEmpty() || m_runs.last().strong != run.strong || m_runs.last().emphasis != run.emphasis
                || m_runs.last().code != run.code || m_runs.last().strikethrough != run.strikethrough
                || m_runs.last().link != run.link) {
                m_runStarts.push_back(m_shown);
                m_runs.append(std::move(run));
            }
            QString& shown = m_runs.last().text;
            if (atom.markers > 0)
                shown.resize(shown.size() + atom.markers, QChar(atom.marker));
            else
                shown += QStringView(m_pieces).sliced(atom.from, atom.length);
            m_shown += length;
        }
        return same;
    }

    static void apply(const Span& span, int step, std::array<int, 3>& depth, qint32& link)
    {
        switch (span.kind) {
        case Span::Kind::strong:
            depth[0] += step;
            break;
        case Span::Kind::emphasis:
            depth[1] += step;
            break;
        case Span::Kind::strikethrough:
            depth[2] += step;
            break;
        case Span::Kind::link:
            link = step > 0 ? span.link : -1;
            break;
        }
    }

    QString m_text;
    bool m_growing;

    std::vector<Atom> m_atoms;
    QString m_pieces; // the text of the atoms, end to end
    qsizetype m_pendingFrom = 0; // text read into m_pieces that is no atom yet
    std::vector<Delimiter> m_delimiters; // [0] is the bottom
    qsizetype m_top = 0;
    std::array<qsizetype, 18> m_bottoms {};
    std::vector<Bracket> m_brackets;
    std::vector<Span> m_spans;
    QStringList m_links;
    bool m_ticksWaiting = false; // a backtick run read as text may still find its partner

    std::map<qsizetype, std::vector<qsizetype>> m_tickRuns; // starts of backtick runs, by length
    std::optional<std::pair<qsizetype, qsizetype>> m_lastTicks; // a run at the end, which may grow

    std::vector<Undo> m_log;
    Mark m_safe;
    Mark m_candidate; // the last safe point of the reading under way
    qsizetype m_changedFrom = 0; // the first atom whose text or style changed

    QList<Run> m_runs;
    std::vector<qsizetype> m_runStarts; // where each run starts in the runs' text
    std::vector<qsizetype> m_places; // where each atom starts in it
    qsizetype m_shown = 0; // the characters of the runs' text
};

SummaryInlineRuns::SummaryInlineRuns(const QString& line)
    : m_parser(std::make_unique<SummaryInlineParser>(line, true))
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
    return SummaryInlineParser(line, false).runs();
}
