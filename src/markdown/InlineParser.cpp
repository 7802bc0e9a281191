#include "markdown/InlineParser.h"

#include <algorithm>
#include <cstdlib>

using namespace InlineText;

InlineParser::InlineParser(QString text, bool growing)
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

qsizetype InlineParser::append(QStringView more)
{
    if (more.isEmpty())
        return m_shown;
    const qsizetype before = m_text.size();
    m_text.append(more);
    const qsizetype newTicks = indexTicks(before);
    // A backtick run that waited for a partner may find it in what was added.
    for (const auto& [length, waiting] : m_waitingTicks) {
        if (waiting.at < m_safe.at && closingTicks(newTicks, length) >= 0)
            m_safe = waiting;
    }
    m_changedFrom = m_safe.atoms;
    restore(m_safe);
    parse();
    return render(m_changedFrom);
}

void InlineParser::note(Undo::What what, qsizetype index, qsizetype value)
{
    if (m_growing)
        m_log.push_back({ what, index, value });
}

void InlineParser::setMarkers(qsizetype atom, qsizetype markers)
{
    if (atom < m_kept.atoms)
        note(Undo::What::markers, atom, m_atoms[size_t(atom)].markers);
    m_atoms[size_t(atom)].markers = qint32(markers);
    m_changedFrom = std::min(m_changedFrom, atom);
}

void InlineParser::setNext(qsizetype delimiter, qsizetype next)
{
    if (delimiter < m_kept.delimiters)
        note(Undo::What::next, delimiter, m_delimiters[size_t(delimiter)].next);
    m_delimiters[size_t(delimiter)].next = next;
}

void InlineParser::setPrevious(qsizetype delimiter, qsizetype previous)
{
    if (delimiter < m_kept.delimiters)
        note(Undo::What::previous, delimiter, m_delimiters[size_t(delimiter)].previous);
    m_delimiters[size_t(delimiter)].previous = previous;
}

void InlineParser::addSpan(Span span)
{
    m_spans.push_back(span);
    m_changedFrom = std::min(m_changedFrom, span.begin);
}

InlineParser::Mark InlineParser::mark(qsizetype at) const
{
    return { at, m_log.size(), qsizetype(m_atoms.size()), qsizetype(m_delimiters.size()), qsizetype(m_spans.size()),
        qsizetype(m_links.size()), m_pieces.size(), m_top, qsizetype(m_brackets.size()), m_bottoms };
}

InlineParser::Mark InlineParser::keep(qsizetype at)
{
    m_kept = mark(at);
    return m_kept;
}

void InlineParser::popBracket()
{
    const qsizetype index = qsizetype(m_brackets.size()) - 1;
    if (m_growing && index < m_kept.brackets) {
        const Bracket& bracket = m_brackets.back();
        m_log.push_back({ Undo::What::bracketPopped, index, bracket.atom, bracket.below, bracket.active });
        // The brackets pushed from now on are new to the point kept.
        m_kept.brackets = index;
    }
    m_brackets.pop_back();
}

void InlineParser::deactivateBracket(qsizetype index)
{
    if (index < m_kept.brackets)
        note(Undo::What::bracketActive, index, 1);
    m_brackets[size_t(index)].active = false;
}

void InlineParser::restore(const Mark& to)
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
        case Undo::What::bracketPopped:
            // Whatever was pushed where it was came after it.
            m_brackets.resize(size_t(undo.index));
            m_brackets.push_back({ undo.value, undo.below, undo.active });
            break;
        case Undo::What::bracketActive:
            m_brackets[size_t(undo.index)].active = true;
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
    m_brackets.resize(size_t(to.brackets));
    for (auto waiting = m_waitingTicks.begin(); waiting != m_waitingTicks.end();)
        waiting = waiting->second.at >= to.at ? m_waitingTicks.erase(waiting) : std::next(waiting);
    m_kept = to;
}

// Makes the text read since the last atom an atom.
void InlineParser::flush(const QString& text)
{
    if (text.size() == m_pendingFrom)
        return;
    Atom atom;
    atom.from = m_pendingFrom;
    atom.length = text.size() - m_pendingFrom;
    m_atoms.push_back(atom);
    m_pendingFrom = text.size();
}

void InlineParser::addAtom(QStringView shown, bool code, qint32 link)
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

qsizetype InlineParser::addMarkers(char16_t marker, qsizetype count)
{
    Atom atom;
    atom.marker = marker;
    atom.markers = qint32(count);
    m_atoms.push_back(atom);
    return qsizetype(m_atoms.size()) - 1;
}

// Reads from the safe point to the end of the line, and notes the last safe point.
void InlineParser::parse()
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
        if (!lookedAtEnd)
            m_candidate = keep(i);
        bool atEnd = false;
        i = decide(i, text, &atEnd);
        lookedAtEnd = lookedAtEnd || atEnd;
    }
    flush(text);
    if (!lookedAtEnd)
        m_candidate = keep(size);
    // What is still open at the end is text; the closers read inside it are paired now.
    if (!m_brackets.empty())
        processEmphasis(m_delimiters[size_t(m_brackets.front().below)].next, 0, m_bottoms, true);
    m_safe = m_candidate;
    // Notes from before every point reading may go back to are never undone.
    size_t undone = m_safe.log;
    for (const auto& [length, waiting] : m_waitingTicks)
        undone = std::min(undone, waiting.log);
    if (undone > 4096) {
        m_log.erase(m_log.begin(), m_log.begin() + std::ptrdiff_t(undone));
        m_safe.log -= undone;
        for (auto& [length, waiting] : m_waitingTicks)
            waiting.log -= undone;
    }
}

// One decision at i, a character that may open something; returns where reading goes on.
qsizetype InlineParser::decide(qsizetype i, QString& text, bool* atEnd)
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
            // The first run of a length waits: a later one that is no partner of it here was
            // cut from a longer run by an escape, which the first, in a code span, reads whole.
            m_waitingTicks.try_emplace(ticks, keep(i));
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

// Makes the runs again from this atom on; returns how many characters of the runs' text,
// end to end, stayed as they were.
qsizetype InlineParser::render(qsizetype from)
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

void InlineParser::apply(const Span& span, int step, std::array<int, 3>& depth, qint32& link)
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
