#pragma once

#include "markdown/InlineRun.h"

#include <QList>
#include <QString>
#include <QStringView>
#include <memory>

class InlineParser;

// The runs of one line of model text that may grow at its end, as an answer streams in. Text
// added at the end is read together with what it can change (a run of markers it may
// lengthen, a reference or a link it may complete); openers still waiting ("[", a backtick
// run, markers) are kept as they are and may pair with a closer added. So a long line grows at
// a cost in proportion to what was added, and ends with the runs of the whole line read at
// once.
class InlineRuns final
{
public:
    explicit InlineRuns(const QString& line);
    ~InlineRuns();
    InlineRuns(const InlineRuns&) = delete;
    InlineRuns& operator=(const InlineRuns&) = delete;

    const QList<InlineRun>& runs() const;

    // Adds text at the end of the line. Returns how many characters of the runs' text, end to
    // end, are as they were: the runs may differ only from there on.
    qsizetype append(QStringView more);

private:
    std::unique_ptr<InlineParser> m_parser;
};
