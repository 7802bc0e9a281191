#include "markdown/MarkdownBlock.h"

#include <optional>

namespace {

QString trimHorizontal(QStringView text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && MarkdownBlock::isHorizontalSpace(text[start]))
        ++start;
    while (end > start && MarkdownBlock::isHorizontalSpace(text[end - 1]))
        --end;
    return text.mid(start, end - start).toString();
}

std::optional<MarkdownBlock> parseTask(const QString& text)
{
    if (text.size() < 3 || text[0] != QLatin1Char('[') || text[2] != QLatin1Char(']'))
        return std::nullopt;
    const QChar mark = text[1];
    if (mark != QLatin1Char(' ') && mark != QLatin1Char('x') && mark != QLatin1Char('X'))
        return std::nullopt;
    return MarkdownBlock { MarkdownBlock::Kind::task, trimHorizontal(QStringView(text).mid(3)),
        mark != QLatin1Char(' ') };
}

MarkdownBlock parseLine(const QString& line)
{
    using Kind = MarkdownBlock::Kind;
    if (line.startsWith(QLatin1Char('#'))) {
        qsizetype hashes = 0;
        while (hashes < line.size() && line[hashes] == QLatin1Char('#'))
            ++hashes;
        if (hashes <= 3 && hashes < line.size() && line[hashes] == QLatin1Char(' '))
            return { Kind::heading, trimHorizontal(QStringView(line).mid(hashes)), false };
    }
    if (line.size() >= 2 && (line[0] == QLatin1Char('-') || line[0] == QLatin1Char('*'))
        && line[1] == QLatin1Char(' ')) {
        const QString rest = trimHorizontal(QStringView(line).mid(2));
        if (std::optional<MarkdownBlock> task = parseTask(rest))
            return *task;
        return { Kind::bullet, rest, false };
    }
    return { Kind::paragraph, line, false };
}

} // namespace

bool MarkdownBlock::isHorizontalSpace(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QList<MarkdownBlock> MarkdownBlock::parse(const QString& markdown)
{
    QList<MarkdownBlock> blocks;
    append(markdown, blocks);
    return blocks;
}

qsizetype MarkdownBlock::append(QStringView markdown, QList<MarkdownBlock>& blocks)
{
    QString text = markdown.toString();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    qsizetype complete = blocks.size();
    for (const QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        complete = blocks.size();
        const QString trimmed = trimHorizontal(line);
        if (!trimmed.isEmpty())
            blocks.append(parseLine(trimmed));
    }
    return complete;
}
