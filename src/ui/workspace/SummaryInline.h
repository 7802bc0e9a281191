#pragma once

#include "ui/workspace/SummaryMarkdown.h"

#include <QList>
#include <QString>
#include <QStringView>
#include <memory>

class SummaryInlineParser;

// The runs of one line of model text that may grow at its end, as an answer streams in. Text
// added at the end is read together with what it can change (a run of markers it may
// lengthen, a "[" or a backtick run still without its partner); openers still waiting are
// kept as they are and may pair with a closer added. So a long line grows at a cost in
// proportion to what was added, and ends with the runs of the whole line read at once. A line
// with a "[" or a backtick run that nothing closes is read again from there at every growth.
class SummaryInlineRuns final
{
public:
    explicit SummaryInlineRuns(const QString& line);
    ~SummaryInlineRuns();
    SummaryInlineRuns(const SummaryInlineRuns&) = delete;
    SummaryInlineRuns& operator=(const SummaryInlineRuns&) = delete;

    const QList<SummaryMarkdown::Run>& runs() const;

    // Adds text at the end of the line. Returns how many characters of the runs' text, end to
    // end, are as they were: the runs may differ only from there on.
    qsizetype append(QStringView more);

private:
    std::unique_ptr<SummaryInlineParser> m_parser;
};
