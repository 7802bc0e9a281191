#pragma once

#include <QList>
#include <QString>

// A stretch of one line of model text drawn in one style.
struct InlineRun
{
    QString text;
    bool strong = false;
    bool emphasis = false;
    bool code = false;
    bool strikethrough = false;
    QString link; // the destination as written; empty when the run is no link

    friend bool operator==(const InlineRun&, const InlineRun&) = default;

    // The runs of one line, read as CommonMark reads emphasis, brackets, code spans, autolinks
    // and character references. Never fails: what is not recognised is text.
    static QList<InlineRun> parse(const QString& line);
    // The text of one line as it reads, without its marks.
    static QString plainText(const QString& line);
};
