#include "ui/workspace/SummaryMarkdown.h"

#include "markdown/InlineRuns.h"
#include "platform/UrlOpener.h"
#include "ui/design/AccessibleRole.h"
#include "ui/design/Quillet.h"
#include "ui/design/Symbols.h"
#include "ui/design/ToneLabel.h"
#include "ui/workspace/SummaryRowLayout.h"

#include <QBoxLayout>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVarLengthArray>
#include <QWheelEvent>
#include <QtMath>
#include <algorithm>

namespace {

bool isHorizontalSpace(QChar c)
{
    return MarkdownBlock::isHorizontalSpace(c);
}

QString cssColor(const QColor& color)
{
    return QStringLiteral("rgba(%1,%2,%3,%4%)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(qRound(color.alphaF() * 1000) / 10.0);
}

constexpr qreal kLineSpacing = 4.5;

// Rows are made this many at once, enough to fill the window; the rest follow in batches of
// about this long between other events, so a long text shows its top at once instead of
// holding the window while every row is laid out.
constexpr qsizetype kRowsAtOnce = 40;
constexpr qint64 kRowBatchMs = 8;

// A line longer than this is shown as consecutive pieces of at most this many characters:
// one label of a megabyte is laid out whole, several times over, before anything is drawn.
// A piece ends after the last space within kPieceReach of its end, or at its end when there
// is none.
constexpr qsizetype kPieceLength = 3000;
constexpr qsizetype kPieceReach = 600;
// The pieces of a long line made at once; the rest follow between events like rows.
constexpr qsizetype kPiecesAtOnce = 4;

bool isCut(const SummaryMarkdown::Block& block)
{
    return block.kind != SummaryMarkdown::Block::Kind::heading && block.text.size() > kPieceLength;
}

// Where the piece of a long line's text that starts at `start` ends: a piece's end depends on
// the text up to kPieceLength characters after its start, no further.
qsizetype pieceEnd(const QString& all, qsizetype start)
{
    qsizetype end = std::min(start + kPieceLength, all.size());
    if (end < all.size()) {
        qsizetype space = end;
        while (space > end - kPieceReach && !all[space - 1].isSpace())
            --space;
        if (space > end - kPieceReach)
            end = space;
        else if (all[end - 1].isHighSurrogate())
            --end;
    }
    return end;
}

// One piece of a long line. A run of characters with no space in it must wrap anywhere, or it
// would widen the column past the window; a QLabel wraps rich text at word boundaries only.
class PieceView final : public QTextBrowser
{
public:
    explicit PieceView(QWidget* parent)
        : QTextBrowser(parent)
    {
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setFocusPolicy(Qt::NoFocus);
        setOpenLinks(false);
        setContextMenuPolicy(Qt::NoContextMenu);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        document()->setDocumentMargin(0);
        viewport()->setAutoFillBackground(false);
        QTextOption option = m_measure.defaultTextOption();
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        m_measure.setDefaultTextOption(option);
        m_measure.setDocumentMargin(0);
        m_measure.setDefaultFont(font());
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Minimum);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    void setPiece(const QString& html)
    {
        if (html == m_html)
            return;
        m_html = html;
        m_heights.clear();
        setHtml(html);
        m_measure.setHtml(html);
        updateGeometry();
    }

    bool hasHeightForWidth() const override { return true; }

    int heightForWidth(int width) const override
    {
        for (const auto& [known, height] : m_heights) {
            if (known == width)
                return height;
        }
        m_measure.setTextWidth(std::max(width, 1));
        const int height = qCeil(m_measure.size().height());
        if (m_heights.size() == kWidthsKept)
            m_heights.remove(0);
        m_heights.append({ width, height });
        return height;
    }

    QSize sizeHint() const override
    {
        const int width = fontMetrics().averageCharWidth() * 40;
        return { width, heightForWidth(width) };
    }
    // Wraps anywhere, so it never holds the column open.
    QSize minimumSizeHint() const override { return { 0, 0 }; }

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange) {
            m_measure.setDefaultFont(font());
            m_heights.clear();
            updateGeometry();
        }
        QTextBrowser::changeEvent(event);
    }
    // The page scrolls, not the piece.
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }

private:
    static constexpr qsizetype kWidthsKept = 4;
    QString m_html;
    mutable QTextDocument m_measure;
    mutable QVarLengthArray<std::pair<int, int>, kWidthsKept> m_heights;
};

// The bullet's dot or the task's box, drawn beside the row's text.
class RowMark final : public QWidget
{
public:
    enum class Shape { dot, box };

    RowMark(Shape shape, QWidget* parent)
        : QWidget(parent)
        , m_shape(shape)
    {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        // The dot sits 8 below the row's top, the box 1.5: level with the first line.
        setFixedSize(m_shape == Shape::dot ? QSize(4, 12) : QSize(16, 18));
    }

    void setDone(bool done)
    {
        if (done != m_done) {
            m_done = done;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (m_shape == Shape::dot) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Quillet::withOpacity(Quillet::secondary(palette()), 0.55));
            painter.drawEllipse(QRectF(0, 8, 4, 4));
            return;
        }
        const QRectF box(0, 1.5, 16, 16);
        if (m_done) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Quillet::accent());
            painter.drawRoundedRect(box, 5, 5);
            Symbols::paint(painter, QStringLiteral("checkmark"), box.adjusted(3.5, 3.5, -3.5, -3.5), Qt::white);
        } else {
            // Stroked inside the edge.
            painter.setPen(QPen(Quillet::withOpacity(Quillet::secondary(palette()), 0.45), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(box.adjusted(0.75, 0.75, -0.75, -0.75), 4.25, 4.25);
        }
    }

private:
    Shape m_shape;
    bool m_done = false;
};

// The text of a row. QLabel lays its rich text out afresh at every heightForWidth(), and a
// layout asks for it many times over, for every row, whenever any row changes: an answer of a
// few hundred lines that streams in piece by piece would lay every line out again at every
// piece. The height for a width only changes with the text, the font or the style, so it is
// kept until one of them does.
class RowLabel final : public QLabel
{
public:
    explicit RowLabel(QWidget* parent)
        : QLabel(parent)
    { }

    void setRowText(const QString& text)
    {
        if (text == this->text())
            return;
        m_heights.clear();
        setText(text);
    }

    int heightForWidth(int width) const override
    {
        for (const auto& [known, height] : m_heights) {
            if (known == width)
                return height;
        }
        const int height = QLabel::heightForWidth(width);
        // A layout asks for a handful of widths: the one it has, the hint's, the smallest.
        if (m_heights.size() == kWidthsKept)
            m_heights.remove(0);
        m_heights.append({ width, height });
        return height;
    }

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            m_heights.clear();
        QLabel::changeEvent(event);
    }

private:
    static constexpr qsizetype kWidthsKept = 4;
    mutable QVarLengthArray<std::pair<int, int>, kWidthsKept> m_heights;
};

} // namespace

struct SummaryMarkdown::Row
{
    Block block;
    bool isFirst = false;
    QWidget* widget = nullptr;
    QLabel* label = nullptr; // none when the line is cut into pieces
    RowMark* mark = nullptr;
    QWidget* pieceBox = nullptr; // holds the pieces of a cut line
    QList<PieceView*> pieces;
    QStringList pieceTexts; // the rich text of every piece, made or not
    // A cut line's runs, kept so that the line can grow; their text end to end, where each run
    // starts in it and where each piece ends.
    std::unique_ptr<InlineRuns> runs;
    QString shown;
    QList<qsizetype> runStarts;
    QList<qsizetype> pieceEnds;
};

SummaryMarkdown::SummaryMarkdown(UrlOpener* links, QWidget* parent)
    : QWidget(parent)
    , m_links(links)
    , m_layout(new SummaryRowLayout(this))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    m_moreRows.setSingleShot(true);
    m_moreRows.setInterval(0);
    connect(&m_moreRows, &QTimer::timeout, this, &SummaryMarkdown::makeMoreRows);
}

SummaryMarkdown::~SummaryMarkdown()
{
    qDeleteAll(m_rows);
}

void SummaryMarkdown::setMarkdown(const QString& markdown)
{
    if (markdown == m_markdown && !m_rows.isEmpty())
        return;
    if (!m_markdown.isEmpty() && markdown.size() > m_markdown.size() && markdown.startsWith(m_markdown)) {
        appendMarkdown(QStringView(markdown).sliced(m_markdown.size()));
        return;
    }
    m_markdown = markdown;
    m_blocks.clear();
    m_completeBlocks = MarkdownBlock::append(m_markdown, m_blocks);
    m_trailingBlanks = 0;
    while (
        m_trailingBlanks < m_markdown.size() && isHorizontalSpace(m_markdown[m_markdown.size() - 1 - m_trailingBlanks]))
        ++m_trailingBlanks;
    updateRows(0);
}

void SummaryMarkdown::appendMarkdown(QStringView more)
{
    if (more.isEmpty() || growLastLine(more))
        return;
    // The blocks of the lines before the last one cannot change: only the last line is read
    // again, with what came after it.
    const qsizetype kept = m_completeBlocks;
    const qsizetype readFrom = m_markdown.lastIndexOf(QLatin1Char('\n')) + 1;
    m_markdown.append(more);
    m_blocks.resize(kept);
    m_completeBlocks = MarkdownBlock::append(QStringView(m_markdown).sliced(readFrom), m_blocks);
    m_trailingBlanks = 0;
    while (m_trailingBlanks < m_markdown.size() - readFrom
        && isHorizontalSpace(m_markdown[m_markdown.size() - 1 - m_trailingBlanks]))
        ++m_trailingBlanks;
    updateRows(kept);
}

bool SummaryMarkdown::growLastLine(QStringView more)
{
    // Only the row of the last line, made, and cut into pieces: long enough that what its line
    // begins with, which decides its kind, is settled.
    if (more.contains(QLatin1Char('\n')) || m_blocks.isEmpty() || m_completeBlocks != m_blocks.size() - 1
        || m_rows.size() != m_blocks.size() || !m_rows.last()->runs)
        return false;
    Row& row = *m_rows.last();
    // Blanks at the end of a line belong to its block only once text follows them.
    qsizetype text = more.size();
    while (text > 0 && isHorizontalSpace(more[text - 1]))
        --text;
    const qsizetype blanksBefore = m_trailingBlanks;
    m_markdown.append(more);
    if (text == 0) {
        m_trailingBlanks += more.size();
        return true;
    }
    const QStringView added
        = QStringView(m_markdown).sliced(m_markdown.size() - more.size() - blanksBefore, blanksBefore + text);
    m_trailingBlanks = more.size() - text;
    // The row lets go of the block's text first, so that the text grows in place.
    row.block.text = QString();
    m_blocks.last().text.append(added);
    row.block.text = m_blocks.last().text;
    cutPieces(row, row.runs->append(added));
    return true;
}

void SummaryMarkdown::updateRows(qsizetype from)
{
    from = std::min(from, m_rows.size());
    qsizetype made = 0;
    for (qsizetype i = from; i < m_blocks.size(); ++i) {
        const Block& block = m_blocks.at(i);
        if (i < m_rows.size()) {
            Row& row = *m_rows[i];
            if (row.block == block)
                continue;
            if (row.block.kind == block.kind && isCut(row.block) == isCut(block)) {
                row.block = block;
                fillRow(row);
                continue;
            }
            deleteRow(m_rows[i]);
            m_rows[i] = makeRow(block, i == 0);
            placeRow(i);
        } else if (made == kRowsAtOnce) {
            m_moreRows.start();
            break;
        } else {
            m_rows.append(makeRow(block, i == 0));
            placeRow(i);
            ++made;
        }
    }
    while (m_rows.size() > m_blocks.size())
        deleteRow(m_rows.takeLast());
}

void SummaryMarkdown::placeRow(qsizetype index)
{
    m_layout->insertRow(index, m_rows.at(index)->widget);
}

void SummaryMarkdown::deleteRow(Row* row)
{
    m_unfinished.removeOne(row);
    delete row->widget;
    delete row;
}

void SummaryMarkdown::makeMoreRows()
{
    QElapsedTimer batch;
    batch.start();
    // The pieces of lines already shown come before the lines after them.
    while (!m_unfinished.isEmpty() && batch.elapsed() < kRowBatchMs) {
        Row& row = *m_unfinished.first();
        makePieces(row, row.pieces.size() + 1);
    }
    if (!m_unfinished.isEmpty()) {
        m_moreRows.start();
        return;
    }
    while (m_rows.size() < m_blocks.size() && batch.elapsed() < kRowBatchMs) {
        const qsizetype i = m_rows.size();
        m_rows.append(makeRow(m_blocks.at(i), i == 0));
        placeRow(i);
    }
    if (m_rows.size() < m_blocks.size())
        m_moreRows.start();
}

void SummaryMarkdown::setSelectable(bool selectable)
{
    m_selectable = selectable;
    for (Row* row : std::as_const(m_rows))
        applyInteraction(*row);
}

void SummaryMarkdown::openLink(const QString& link)
{
    const QUrl url(link);
    if (m_links && UrlOpener::isWebPage(url))
        m_links->open(url);
}

void SummaryMarkdown::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The text colours are written into the rows' rich text.
    if (event->type() == QEvent::PaletteChange) {
        for (Row* row : std::as_const(m_rows))
            fillRow(*row);
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_layout->allRowsChanged();
}

SummaryMarkdown::Row* SummaryMarkdown::makeRow(const Block& block, bool isFirst)
{
    auto* row = new Row;
    row->block = block;
    row->isFirst = isFirst;
    row->widget = new QWidget(this);
    auto* layout = new QHBoxLayout(row->widget);
    layout->setSpacing(11);
    layout->setAlignment(Qt::AlignTop);
    switch (block.kind) {
    case Block::Kind::heading: {
        QFont font = Quillet::font(11, QFont::DemiBold);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 1.1);
        row->label = new ToneLabel(QString(), font, Quillet::Tone::secondary, row->widget);
        layout->setContentsMargins(0, isFirst ? 0 : 22, 0, 7);
        break;
    }
    case Block::Kind::bullet:
    case Block::Kind::task:
        row->mark
            = new RowMark(block.kind == Block::Kind::bullet ? RowMark::Shape::dot : RowMark::Shape::box, row->widget);
        layout->addWidget(row->mark, 0, Qt::AlignTop);
        row->label = new RowLabel(row->widget);
        layout->setContentsMargins(0, 3, 0, 4);
        break;
    case Block::Kind::paragraph:
        row->label = new RowLabel(row->widget);
        layout->setContentsMargins(0, 5, 0, 5);
        break;
    }
    if (isCut(block)) {
        delete row->label;
        row->label = nullptr;
        row->pieceBox = new QWidget(row->widget);
        auto* pieces = new QVBoxLayout(row->pieceBox);
        pieces->setContentsMargins(0, 0, 0, 0);
        pieces->setSpacing(0);
        row->pieceBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
        layout->addWidget(row->pieceBox, 1);
        fillRow(*row);
        return row;
    }
    row->label->setWordWrap(true);
    row->label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    layout->addWidget(row->label, 1);
    if (block.kind != Block::Kind::heading) {
        row->label->setFont(Quillet::body());
        row->label->setTextFormat(Qt::RichText);
        row->label->setOpenExternalLinks(false);
        connect(row->label, &QLabel::linkActivated, this, &SummaryMarkdown::openLink);
    }
    applyInteraction(*row);
    fillRow(*row);
    return row;
}

void SummaryMarkdown::fillRow(Row& row)
{
    m_layout->rowChanged(row.widget);
    // A heading and a task say what they are; a task whether it is done.
    if (row.block.kind == Block::Kind::heading) {
        AccessibleRole::set(*row.widget, QAccessible::Heading);
        row.widget->setAccessibleName(row.block.text);
    } else if (row.block.kind == Block::Kind::task) {
        AccessibleRole::setChecked(*row.widget, row.block.done);
        row.widget->setAccessibleName(plainText(row.block.text));
    }
    if (row.pieceBox) {
        if (row.mark)
            row.mark->setDone(row.block.done);
        row.runs = std::make_unique<InlineRuns>(row.block.text);
        cutPieces(row, 0);
        return;
    }
    switch (row.block.kind) {
    case Block::Kind::heading:
        // Shown as written, capitals and all: a heading is never parsed further.
        static_cast<ToneLabel*>(row.label)->setTextWithRoomForMarks(row.block.text.toUpper());
        return;
    case Block::Kind::task:
        row.mark->setDone(row.block.done);
        static_cast<RowLabel*>(row.label)->setRowText(richText(InlineRun::parse(row.block.text), row.block.done));
        return;
    case Block::Kind::bullet:
    case Block::Kind::paragraph:
        static_cast<RowLabel*>(row.label)->setRowText(richText(InlineRun::parse(row.block.text), false));
        return;
    }
}

QString SummaryMarkdown::richText(const QList<Run>& runs, bool done) const
{
    const QColor ink = Quillet::primary(palette());
    const QColor base = done ? Quillet::secondary(palette()) : Quillet::withOpacity(ink, 0.82);
    QString html = QStringLiteral("<p style=\"margin:0; white-space:pre-wrap; line-height:%1px; "
                                  "-qt-line-height-type:line-distance; color:%2\">")
                       .arg(kLineSpacing)
                       .arg(cssColor(base));
    if (done)
        html += QStringLiteral("<s>");
    for (const Run& run : runs) {
        QString piece = run.text.toHtmlEscaped();
        if (run.code)
            piece = QStringLiteral("<code>") + piece + QStringLiteral("</code>");
        if (run.emphasis)
            piece = QStringLiteral("<i>") + piece + QStringLiteral("</i>");
        if (run.strikethrough)
            piece = QStringLiteral("<s>") + piece + QStringLiteral("</s>");
        // Only web pages become links; any other destination shows as its text.
        const bool linked = !run.link.isEmpty() && UrlOpener::isWebPage(QUrl(run.link));
        // Bold text is drawn in full ink, but a link keeps the link's colour, bold or not.
        if (run.strong && linked) {
            piece = QStringLiteral("<b>") + piece + QStringLiteral("</b>");
        } else if (run.strong) {
            piece = QStringLiteral("<b style=\"color:%1\">").arg(cssColor(done ? base : ink)) + piece
                + QStringLiteral("</b>");
        }
        if (linked) {
            piece = QStringLiteral("<a href=\"%1\">").arg(QString::fromUtf8(QUrl(run.link).toEncoded()).toHtmlEscaped())
                + piece + QStringLiteral("</a>");
        }
        html += piece;
    }
    if (done)
        html += QStringLiteral("</s>");
    return html + QStringLiteral("</p>");
}

void SummaryMarkdown::cutPieces(Row& row, qsizetype same)
{
    const QList<Run>& runs = row.runs->runs();
    // The text shown: kept up to `same`, and so the runs that start before it.
    const qsizetype holding
        = std::upper_bound(row.runStarts.cbegin(), row.runStarts.cend(), same - 1) - row.runStarts.cbegin() - 1;
    qsizetype next = 0;
    if (same > 0 && holding >= 0) {
        row.runStarts.resize(holding + 1);
        row.shown.truncate(same);
        row.shown += QStringView(runs.at(holding).text).sliced(same - row.runStarts.at(holding));
        next = holding + 1;
    } else {
        row.runStarts.clear();
        row.shown.clear();
    }
    for (; next < runs.size(); ++next) {
        row.runStarts.append(row.shown.size());
        row.shown += runs.at(next).text;
    }

    // A piece stays while the text its end was chosen from, and the text after that, are as
    // they were; the last one ended where the text did.
    qsizetype kept = 0;
    while (kept + 1 < row.pieceEnds.size()) {
        const qsizetype start = kept == 0 ? 0 : row.pieceEnds.at(kept - 1);
        if (start + kPieceLength >= same)
            break;
        ++kept;
    }
    row.pieceEnds.resize(kept);
    row.pieceTexts.resize(kept);
    const bool done = row.block.kind == Block::Kind::task && row.block.done;
    for (qsizetype start = kept == 0 ? 0 : row.pieceEnds.last(); start < row.shown.size();) {
        const qsizetype end = pieceEnd(row.shown, start);
        // The runs' text is cut, never their styles or links.
        QList<Run> piece;
        qsizetype run
            = std::upper_bound(row.runStarts.cbegin(), row.runStarts.cend(), start) - row.runStarts.cbegin() - 1;
        for (; run < runs.size() && row.runStarts.at(run) < end; ++run) {
            const qsizetype runStart = row.runStarts.at(run);
            const qsizetype from = std::max(start, runStart);
            const qsizetype to = std::min(end, runStart + runs.at(run).text.size());
            if (to <= from)
                continue;
            Run part = runs.at(run);
            part.text = runs.at(run).text.mid(from - runStart, to - from);
            piece.append(part);
        }
        row.pieceEnds.append(end);
        row.pieceTexts.append(richText(piece, done));
        start = end;
    }
    for (qsizetype i = kept; i < std::min(row.pieces.size(), row.pieceTexts.size()); ++i)
        row.pieces[i]->setPiece(row.pieceTexts.at(i));
    makePieces(row, std::max(row.pieces.size(), kPiecesAtOnce));
}

void SummaryMarkdown::makePieces(Row& row, qsizetype upTo)
{
    m_layout->rowChanged(row.widget);
    upTo = std::min(upTo, row.pieceTexts.size());
    while (row.pieces.size() > row.pieceTexts.size())
        delete row.pieces.takeLast();
    while (row.pieces.size() < upTo) {
        auto* piece = new PieceView(row.pieceBox);
        piece->setFont(Quillet::body());
        connect(piece, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& url) { openLink(QString::fromUtf8(url.toEncoded())); });
        piece->setPiece(row.pieceTexts.at(row.pieces.size()));
        row.pieces.append(piece);
        static_cast<QBoxLayout*>(row.pieceBox->layout())->addWidget(piece);
        applyInteraction(row);
    }
    const bool unfinished = row.pieces.size() < row.pieceTexts.size();
    if (unfinished && !m_unfinished.contains(&row)) {
        m_unfinished.append(&row);
        m_moreRows.start();
    } else if (!unfinished) {
        m_unfinished.removeOne(&row);
    }
}

void SummaryMarkdown::applyInteraction(Row& row) const
{
    Qt::TextInteractionFlags flags = Qt::LinksAccessibleByMouse;
    if (m_selectable)
        flags |= Qt::TextSelectableByMouse;
    if (row.label)
        row.label->setTextInteractionFlags(flags);
    for (PieceView* piece : std::as_const(row.pieces))
        piece->setTextInteractionFlags(flags);
}
