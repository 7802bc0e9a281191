#pragma once

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
    struct Block
    {
        enum class Kind { heading, bullet, task, paragraph };
        Kind kind = Kind::paragraph;
        QString text;
        bool done = false; // tasks only

        friend bool operator==(const Block&, const Block&) = default;
    };

    // A stretch of a line drawn in one style.
    struct Run
    {
        QString text;
        bool strong = false;
        bool emphasis = false;
        bool code = false;
        bool strikethrough = false;
        QString link; // the destination as written; empty when the run is no link

        friend bool operator==(const Run&, const Run&) = default;
    };

    // One block per non-blank line. Blank lines separate nothing, and a lone "\r" is no line
    // break.
    static QList<Block> parse(const QString& markdown);
    // The runs of one line. Never fails: what is not recognised is text.
    static QList<Run> inlineRuns(const QString& line);
    // The text of one line as it reads, without its marks.
    static QString plainText(const QString& line);

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

    // Appends the blocks of the text's lines; returns how many blocks there are before its last
    // line (the one no line break ends), which may still grow.
    static qsizetype appendBlocks(QStringView markdown, QList<Block>& blocks);
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
