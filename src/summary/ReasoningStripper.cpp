#include "summary/ReasoningStripper.h"

#include "format/TextPrefix.h"

#include <array>

namespace ReasoningStripper {
namespace {

constexpr QStringView kOpenTag = u"<think>";
constexpr QStringView kCloseTag = u"</think>";
constexpr qsizetype kReasoningPrefixLength = 60;

constexpr std::array<QStringView, 11> kReasoningOpeners {
    u"here's a thinking process",
    u"here is a thinking process",
    u"here's my thinking",
    u"here is my thinking",
    u"let me think",
    u"let's think",
    u"thinking process:",
    u"first, i need to",
    u"okay, the user",
    u"the user wants",
    u"i need to analyze",
};

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x000A: // line feed
    case 0x000B: // vertical tab
    case 0x000C: // form feed
    case 0x000D: // carriage return
    case 0x0085: // next line
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
        return true;
    default:
        return false;
    }
}

} // namespace

QString withoutThinkTags(const QString& text)
{
    const qsizetype open = text.indexOf(kOpenTag, 0, Qt::CaseInsensitive);
    if (open < 0)
        return text;
    const qsizetype close = text.indexOf(kCloseTag, open + kOpenTag.size(), Qt::CaseInsensitive);
    if (close < 0)
        return text.left(open).trimmed();
    return (text.left(open) + text.mid(close + kCloseTag.size())).trimmed();
}

bool startsWithReasoning(const QString& text)
{
    const QString prefix = TextPrefix::graphemes(text.trimmed(), kReasoningPrefixLength).toLower();
    for (QStringView opener : kReasoningOpeners) {
        if (prefix.startsWith(opener))
            return true;
    }
    return false;
}

std::optional<QString> title(const QString& text)
{
    const QString cleaned = withoutThinkTags(text).trimmed();
    if (cleaned.isEmpty() || startsWithReasoning(cleaned))
        return std::nullopt;
    qsizetype end = 0;
    while (end < cleaned.size() && !isLineBreak(cleaned.at(end)))
        ++end;
    const QString line = cleaned.left(end).trimmed();
    if (line.isEmpty() || startsWithReasoning(line))
        return std::nullopt;
    return line;
}

} // namespace ReasoningStripper
