#include "markdown/CharacterReferences.h"
#include "markdown/InlineParser.h"

using namespace InlineText;

qsizetype InlineParser::runLength(qsizetype at, QChar c) const
{
    qsizetype length = 0;
    while (at + length < m_text.size() && m_text[at + length] == c)
        ++length;
    return length;
}

// Notes the backtick runs from `from` on; a run that ended the line before may have grown.
qsizetype InlineParser::indexTicks(qsizetype from)
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
    return from;
}

// Where a run of `length` backticks after `from` starts, or -1. Backslashes do not escape
// inside a code span, so the run is found as written.
qsizetype InlineParser::closingTicks(qsizetype from, qsizetype length) const
{
    const auto found = m_tickRuns.find(length);
    if (found == m_tickRuns.end())
        return -1;
    const auto next = std::lower_bound(found->second.begin(), found->second.end(), from);
    return next != found->second.end() ? *next : -1;
}

char32_t InlineParser::codePointBefore(qsizetype at) const
{
    if (at <= 0)
        return 0;
    const QChar c = m_text[at - 1];
    if (c.isLowSurrogate() && at >= 2 && m_text[at - 2].isHighSurrogate())
        return QChar::surrogateToUcs4(m_text[at - 2], c);
    return c.unicode();
}

char32_t InlineParser::codePointAt(qsizetype at) const
{
    if (at >= m_text.size())
        return 0;
    const QChar c = m_text[at];
    if (c.isHighSurrogate() && at + 1 < m_text.size() && m_text[at + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(c, m_text[at + 1]);
    return c.unicode();
}

// "&name;", "&#digits;" or "&#xhex;" at `at`: its text and where it ends.
InlineParser::Scan InlineParser::reference(qsizetype at, QString* text, qsizetype* end) const
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
QString InlineParser::unescaped(qsizetype from, qsizetype to) const
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

// "(destination "title")" at `at`, right after a "]".
InlineParser::Scan InlineParser::linkTail(qsizetype at, QString* destination, qsizetype* end) const
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
InlineParser::Scan InlineParser::autolink(qsizetype at, QString* address, bool* email, qsizetype* end) const
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
