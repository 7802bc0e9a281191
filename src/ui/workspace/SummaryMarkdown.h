#pragma once

#include "markdown/InlineRun.h"
#include "markdown/MarkdownBlock.h"

#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>

class QLabel;
class SummaryRowLayout;
class UrlOpener;

// Shows text written by the language model (a summary, a chat answer): headings, bullets,
// tasks and paragraphs, one per line, with bold, italic, code, struck-through and linked runs
// inside a line. The model writes from whatever was said in a meeting, so its text is data:
// every character is escaped, rich text is built only from the runs recognised here, and only
// web links are ever opened. A screen reader reads its headings as headings and its tasks as
// check boxes, ticked when done.
class SummaryMarkdown final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SummaryMarkdown)

public:
    using Block = MarkdownBlock;
    using Run = InlineRun;

    static QList<Block> parse(const QString& markdown) { return MarkdownBlock::parse(markdown); }
    static QString plainText(const QString& line) { return InlineRun::plainText(line); }

    // links: where web links are opened; none opens nothing.
    explicit SummaryMarkdown(UrlOpener* links, QWidget* parent = nullptr);
    ~SummaryMarkdown() override;

    QString markdown() const { return m_markdown; }
    // Rows whose block is unchanged are kept, so a text that grows at its end (an answer
    // streaming in) only touches its last rows.
    void setMarkdown(const QString& markdown);
    // The same as setting the text with `more` at its end, without comparing the text shown.
    void appendMarkdown(QStringView more);
    const QList<Block>& blocks() const { return m_blocks; }

    // Lets the mouse select and copy the text.
    void setSelectable(bool selectable);

    // Opens a link of the text when it is a web page; anything else is ignored.
    void openLink(const QString& link);

protected:
    void changeEvent(QEvent* event) override;

private:
    struct Row;

    // Text added to a long last line that no line break ends: its row grows by what was added.
    // False when the text is not that.
    bool growLastLine(QStringView more);
    // Brings the rows from this one on in line with the blocks; rows past the first few new
    // ones are left to makeMoreRows().
    void updateRows(qsizetype from);
    void makeMoreRows();
    // Puts the row at this index into the column.
    void placeRow(qsizetype index);
    Row* makeRow(const Block& block, bool isFirst);
    void fillRow(Row& row);
    QString richText(const QList<Run>& runs, bool done) const;
    void applyInteraction(Row& row) const;
    // Brings the pieces of a cut line in line with its runs, whose text is as it was before
    // `same` characters.
    void cutPieces(Row& row, qsizetype same);
    // Makes the pieces of a cut line up to this many, or all of them; deletes those past all.
    void makePieces(Row& row, qsizetype upTo);
    void deleteRow(Row* row);

    UrlOpener* m_links;
    SummaryRowLayout* m_layout;
    QString m_markdown;
    QList<Block> m_blocks;
    qsizetype m_completeBlocks = 0; // the blocks of m_markdown before its last line
    qsizetype m_trailingBlanks = 0; // at the end of m_markdown, no part of a block yet
    QList<Row*> m_rows; // may be fewer than the blocks while m_moreRows runs
    QList<Row*> m_unfinished; // cut lines whose last pieces m_moreRows still has to make
    QTimer m_moreRows;
    bool m_selectable = false;
};
