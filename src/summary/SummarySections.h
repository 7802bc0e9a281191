#pragma once

#include <QList>
#include <QString>

// One heading of the generated summary and what the model should put under it.
struct SummarySection
{
    QString title;
    QString instruction;

    // "## <title>\n<instruction>" per section, blocks separated by one blank line.
    static QString brief(const QList<SummarySection>& sections);

    // Key Points, Decisions, Action Items, Follow-ups.
    static const QList<SummarySection>& standard();

    friend bool operator==(const SummarySection&, const SummarySection&) = default;
};
