#include "summary/SummarySections.h"

#include <QStringList>

QString SummarySection::brief(const QList<SummarySection>& sections)
{
    QStringList blocks;
    blocks.reserve(sections.size());
    for (const SummarySection& section : sections)
        blocks << QStringLiteral("## ") + section.title + QLatin1Char('\n') + section.instruction;
    return blocks.join(QStringLiteral("\n\n"));
}

const QList<SummarySection>& SummarySection::standard()
{
    static const QList<SummarySection> sections {
        { QStringLiteral("Key Points"),
            QStringLiteral("What was actually discussed, and what was concluded about it. Facts, numbers and names as "
                           "they were said.") },
        { QStringLiteral("Decisions"),
            QStringLiteral("Things settled in this meeting \u2014 a choice made, an approach agreed, a direction ruled "
                           "out. Not topics raised.") },
        { QStringLiteral("Action Items"),
            QStringLiteral("Work someone committed to, written as a checklist. Name the person when the transcript "
                           "makes it clear who took it on, and the timing when one was given.") },
        { QStringLiteral("Follow-ups"),
            QStringLiteral("Questions left open and things deferred to a later conversation.") },
    };
    return sections;
}
