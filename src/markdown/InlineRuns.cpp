#include "markdown/InlineRuns.h"

#include "markdown/InlineParser.h"

InlineRuns::InlineRuns(const QString& line)
    : m_parser(std::make_unique<InlineParser>(line, true))
{ }

InlineRuns::~InlineRuns() = default;

const QList<InlineRun>& InlineRuns::runs() const
{
    return m_parser->runs();
}

qsizetype InlineRuns::append(QStringView more)
{
    return m_parser->append(more);
}

QList<InlineRun> InlineRun::parse(const QString& line)
{
    return InlineParser(line, false).runs();
}

QString InlineRun::plainText(const QString& line)
{
    QString text;
    for (const InlineRun& run : parse(line))
        text += run.text;
    return text;
}
