#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// One line of text written by the language model (a summary, a chat answer): a heading, a
// bullet, a task or a paragraph, with its marks taken off.
struct MarkdownBlock
{
    enum class Kind { heading, bullet, task, paragraph };
    Kind kind = Kind::paragraph;
    QString text;
    bool done = false; // tasks only

    friend bool operator==(const MarkdownBlock&, const MarkdownBlock&) = default;

    // One block per non-blank line. Blank lines separate nothing, and a lone "\r" is no line
    // break.
    static QList<MarkdownBlock> parse(const QString& markdown);
    // Appends the blocks of the text's lines; returns how many blocks there are before its last
    // line (the one no line break ends), which may still grow.
    static qsizetype append(QStringView markdown, QList<MarkdownBlock>& blocks);
    // Spaces, tabs and the other Unicode space separators; never line breaks or "\r".
    static bool isHorizontalSpace(QChar c);
};
