#pragma once

#include <QHash>
#include <QLayout>
#include <QVarLengthArray>
#include <map>
#include <memory>
#include <vector>

class QWidgetItem;

// Stacks the rows of a text from the top, each as high as its width makes it. A row keeps its
// height for each width it was measured at until it changes (its own layout asks to be laid out
// again, or the owner says so): Qt's box layouts keep one width at a time and measure every
// row again whenever any row changes, so a text that grows at its end (an answer streaming in)
// would cost more at every piece the longer it has grown. Only the changed rows are measured,
// and only the rows from the first changed one on are moved.
class SummaryRowLayout final : public QLayout
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SummaryRowLayout)

public:
    explicit SummaryRowLayout(QWidget* parent);
    ~SummaryRowLayout() override;

    void insertRow(qsizetype index, QWidget* row);
    // The row's content changed: it is measured again when next asked.
    void rowChanged(QWidget* row);
    // Every row may have changed (a font, a style).
    void allRowsChanged();

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    void setGeometry(const QRect& rect) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row;
    // The rows' height for one width, without the margins; the rows changed since it was
    // counted are added when it is next asked for.
    struct Total
    {
        int width = 0;
        int height = 0;
        std::vector<Row*> missing;
    };
    // How many rows have each width, of those measured, so that the widest is known without
    // asking every row again when one changes.
    struct Widths
    {
        std::map<int, qsizetype> counts;
        std::vector<Row*> missing;
        bool stale = false; // missing may name rows gone, and lack none
    };

    // A layout asks for a handful of widths: the one it has, the hint's, the smallest.
    static constexpr qsizetype kWidthsKept = 4;
    static constexpr size_t kMissingKept = 64;
    using Heights = QVarLengthArray<std::pair<int, int>, kWidthsKept>;

    int rowHeight(Row& row, int width) const;
    // Takes the row out of what was counted of it; it is counted again when next asked.
    void forget(Row& row, bool removed);
    int widest(Widths& widths, int Row::*known, QSize (QLayoutItem::*measure)() const) const;

    std::vector<std::unique_ptr<Row>> m_rows;
    QHash<const QObject*, Row*> m_byWidget;
    mutable std::vector<Total> m_totals;
    mutable Widths m_hintWidths;
    mutable Widths m_minimumWidths;
    // Rows before this one are where the last placing put them, for this width and origin.
    qsizetype m_placedUpTo = 0;
    QRect m_placed;
};
