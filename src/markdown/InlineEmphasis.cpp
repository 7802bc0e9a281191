#include "markdown/InlineParser.h"

using namespace InlineText;

int InlineParser::slotOf(const Delimiter& closer)
{
    return kindOf(closer.marker) * 6 + (closer.canOpen ? 3 : 0) + int(closer.length % 3);
}

void InlineParser::removeDelimiter(qsizetype index)
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
void InlineParser::processEmphasis(
    qsizetype first, qsizetype bottom, std::array<qsizetype, 18>& bottoms, bool persistent)
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
            const bool threes
                = c.marker != '~' && (c.canOpen || o.canClose) && c.length % 3 != 0 && (o.length + c.length) % 3 == 0;
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

qsizetype InlineParser::delimiterRun(qsizetype i, QString& text, bool* atEnd)
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

qsizetype InlineParser::closeBracket(qsizetype i, QString& text, bool* atEnd)
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
        deactivateBracket(b);
    return end;
}
