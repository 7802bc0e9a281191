#pragma once

// The inline parser shared by InlineRun::parse and InlineRuns; its parts are read in
// InlineParser.cpp (the state, the reading and the runs), InlineScans.cpp (backtick runs,
// references, link tails and autolinks) and InlineEmphasis.cpp (delimiters and brackets).

#include "markdown/InlineRun.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <array>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace InlineText {

inline bool isAsciiPunctuation(char32_t c)
{
    return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) || (c >= 123 && c <= 126);
}

inline bool isPunctuation(char32_t c)
{
    return isAsciiPunctuation(c) || QChar::isPunct(c) || QChar::isSymbol(c);
}

// The start and the end of the line count as white space; so does "none" (0).
inline bool isWhitespace(char32_t c)
{
    return c == 0 || QChar::isSpace(c);
}

inline bool isAsciiAlphanumeric(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

inline int digitValue(QChar c, bool hex)
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
inline bool mayOpen(QChar c)
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

} // namespace InlineText

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
// The line may grow. The parser goes back to its last safe point, one where nothing decided
// before it looked at the end of the line, and reads on from there; what it changed of the
// pieces before that point (an opener that found its closer, a "[" that closed or stopped
// being able to make a link) is noted so that it can be undone. A backtick run that found no
// partner keeps the point before it, and reading goes back there only when a run of its
// length is added. Only the runs from the first piece whose text or style changed are made
// again.
class InlineParser
{
public:
    using Run = InlineRun;

    // Text after a scan: found (with where it ends), not found, or the line ended before the
    // scan could tell.
    enum class Scan { found, none, atEnd };

    InlineParser(QString text, bool growing);

    const QList<Run>& runs() const { return m_runs; }

    qsizetype append(QStringView more);

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

    // A change to what was there at the last point reading may go back to, and what it changed
    // from; what came after that point goes as a whole. A "[" taken off the stack is noted
    // whole (its index, atom, below and whether it was active).
    struct Undo
    {
        enum class What { markers, next, previous, bracketPopped, bracketActive };
        What what = What::markers;
        qsizetype index = 0;
        qsizetype value = 0;
        qsizetype below = 0;
        bool active = false;
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
        qsizetype brackets = 0;
        std::array<qsizetype, 18> bottoms {};
    };

    static constexpr int kStackDepthOfParentheses = 32;

    // --- The state and its notes ------------------------------------------------------------

    void note(Undo::What what, qsizetype index, qsizetype value);

    void setMarkers(qsizetype atom, qsizetype markers);
    void setNext(qsizetype delimiter, qsizetype next);
    void setPrevious(qsizetype delimiter, qsizetype previous);
    void setTop(qsizetype top) { m_top = top; }
    void setBottom(int slot, qsizetype position) { m_bottoms[size_t(slot)] = position; }
    void pushBracket(Bracket bracket) { m_brackets.push_back(bracket); }
    void popBracket();
    void deactivateBracket(qsizetype index);
    void addSpan(Span span);

    Mark mark(qsizetype at) const;
    // A point reading may go back to: what was there before it is noted when it changes.
    Mark keep(qsizetype at);

    void restore(const Mark& to);

    // --- Backtick runs ----------------------------------------------------------------------

    qsizetype runLength(qsizetype at, QChar c) const;

    // Notes the backtick runs from `from` on; a run that ended the line before may have grown.
    // Returns where the runs noted start.
    qsizetype indexTicks(qsizetype from);

    // Where a run of `length` backticks after `from` starts, or -1. Backslashes do not escape
    // inside a code span, so the run is found as written.
    qsizetype closingTicks(qsizetype from, qsizetype length) const;

    // --- Characters -------------------------------------------------------------------------

    char32_t codePointBefore(qsizetype at) const;

    char32_t codePointAt(qsizetype at) const;

    // "&name;", "&#digits;" or "&#xhex;" at `at`: its text and where it ends.
    Scan reference(qsizetype at, QString* text, qsizetype* end) const;

    // Text with its backslash escapes and references read, as in a link's destination.
    QString unescaped(qsizetype from, qsizetype to) const;

    // --- Links ------------------------------------------------------------------------------

    // "(destination "title")" at `at`, right after a "]".
    Scan linkTail(qsizetype at, QString* destination, qsizetype* end) const;

    // "<scheme:rest>" or "<name@host>" at `at`: the address and where it ends.
    Scan autolink(qsizetype at, QString* address, bool* email, qsizetype* end) const;

    // --- Emphasis ---------------------------------------------------------------------------

    static int kindOf(char16_t marker) { return marker == '*' ? 0 : marker == '_' ? 1 : 2; }
    static int slotOf(const Delimiter& closer);

    void removeDelimiter(qsizetype index);

    // Pairs the closers from `first` on with openers above `bottom`. `bottoms` holds, for each
    // kind of closer, the position at and below which no opener can pair with one.
    void processEmphasis(qsizetype first, qsizetype bottom, std::array<qsizetype, 18>& bottoms, bool persistent);

    // --- Reading ----------------------------------------------------------------------------

    // Makes the text read since the last atom an atom.
    void flush(const QString& text);

    void addAtom(QStringView shown, bool code, qint32 link);

    qsizetype addMarkers(char16_t marker, qsizetype count);

    // Reads from the safe point to the end of the line, and notes the last safe point.
    void parse();

    // One decision at i, a character that may open something; returns where reading goes on.
    qsizetype decide(qsizetype i, QString& text, bool* atEnd);

    qsizetype delimiterRun(qsizetype i, QString& text, bool* atEnd);

    qsizetype closeBracket(qsizetype i, QString& text, bool* atEnd);

    // --- Runs -------------------------------------------------------------------------------

    // Makes the runs again from this atom on; returns how many characters of the runs' text,
    // end to end, stayed as they were.
    qsizetype render(qsizetype from);

    static void apply(const Span& span, int step, std::array<int, 3>& depth, qint32& link);

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
    // Backtick runs read as text for want of a partner, by length, and the point before each: a
    // run of that length added later makes it a code span, and reading goes back there.
    std::map<qsizetype, Mark> m_waitingTicks;

    std::map<qsizetype, std::vector<qsizetype>> m_tickRuns; // starts of backtick runs, by length
    std::optional<std::pair<qsizetype, qsizetype>> m_lastTicks; // a run at the end, which may grow

    std::vector<Undo> m_log;
    Mark m_safe;
    Mark m_candidate; // the last safe point of the reading under way
    Mark m_kept; // the last point kept, before which changes are noted
    qsizetype m_changedFrom = 0; // the first atom whose text or style changed

    QList<Run> m_runs;
    std::vector<qsizetype> m_runStarts; // where each run starts in the runs' text
    std::vector<qsizetype> m_places; // where each atom starts in it
    qsizetype m_shown = 0; // the characters of the runs' text
};
