#include "ui/workspace/SummaryRowLayout.h"

#include <QEvent>
#include <QWidget>
#include <algorithm>

struct SummaryRowLayout::Row
{
    QWidgetItem* item = nullptr;
    Heights heights;
    int hintWidth = -1;
    int minimumWidth = -1;
    int top = 0; // where it was placed, under the layout's top
};

SummaryRowLayout::SummaryRowLayout(QWidget* parent)
    : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
}

SummaryRowLayout::~SummaryRowLayout()
{
    for (const std::unique_ptr<Row>& row : m_rows)
        delete row->item;
}

void SummaryRowLayout::insertRow(qsizetype index, QWidget* widget)
{
    addChildWidget(widget);
    index = std::clamp(index, qsizetype(0), qsizetype(m_rows.size()));
    auto row = std::make_unique<Row>();
    row->item = new QWidgetItem(widget);
    Row* added = row.get();
    m_byWidget.insert(widget, added);
    m_rows.insert(m_rows.begin() + index, std::move(row));
    widget->installEventFilter(this);
    for (Total& total : m_totals)
        total.missing.push_back(added);
    m_hintWidths.missing.push_back(added);
    m_minimumWidths.missing.push_back(added);
    m_placedUpTo = std::min(m_placedUpTo, index);
    invalidate();
}

void SummaryRowLayout::addItem(QLayoutItem* item)
{
    // Only rows are added, through insertRow(); anything else is kept out of the column.
    if (QWidget* widget = item->widget())
        insertRow(qsizetype(m_rows.size()), widget);
    delete item;
}

void SummaryRowLayout::forget(Row& row, bool removed)
{
    for (auto total = m_totals.begin(); total != m_totals.end();) {
        // Many rows changed at once (a new palette, a new text): counting them all again costs
        // less than looking through the list.
        if (total->missing.size() >= kMissingKept) {
            total = m_totals.erase(total);
            continue;
        }
        const auto missing = std::find(total->missing.begin(), total->missing.end(), &row);
        if (missing != total->missing.end()) {
            if (removed)
                total->missing.erase(missing);
            ++total;
            continue;
        }
        const auto known = std::find_if(row.heights.cbegin(), row.heights.cend(),
            [&](const std::pair<int, int>& height) { return height.first == total->width; });
        if (known == row.heights.cend()) {
            // Counted, but no longer known how high: counted again from scratch.
            total = m_totals.erase(total);
            continue;
        }
        total->height -= known->second;
        if (!removed)
            total->missing.push_back(&row);
        ++total;
    }
    for (const auto& [widths, known] :
        { std::pair { &m_hintWidths, &row.hintWidth }, std::pair { &m_minimumWidths, &row.minimumWidth } }) {
        if (*known >= 0) {
            const auto count = widths->counts.find(*known);
            if (--count->second == 0)
                widths->counts.erase(count);
            if (!removed)
                widths->missing.push_back(&row);
        } else if (removed) {
            // It may be among the missing: they are found again when next asked for.
            widths->stale = true;
        }
        *known = -1;
    }
    row.heights.clear();
}

void SummaryRowLayout::rowChanged(QWidget* widget)
{
    Row* row = m_byWidget.value(widget);
    if (!row)
        return;
    forget(*row, false);
    invalidate();
    if (m_placedUpTo == 0)
        return;
    // The changed row is most often the last: the rows are searched from the end, and those
    // already due to be placed again only as far as needed.
    for (qsizetype i = qsizetype(m_rows.size()) - 1; i >= m_placedUpTo; --i) {
        if (m_rows[size_t(i)].get() == row)
            return;
    }
    for (qsizetype i = m_placedUpTo - 1; i >= 0; --i) {
        if (m_rows[size_t(i)].get() == row) {
            m_placedUpTo = i;
            return;
        }
    }
}

void SummaryRowLayout::allRowsChanged()
{
    m_totals.clear();
    m_hintWidths = {};
    m_minimumWidths = {};
    for (const std::unique_ptr<Row>& row : m_rows) {
        row->heights.clear();
        row->hintWidth = -1;
        row->minimumWidth = -1;
        m_hintWidths.missing.push_back(row.get());
        m_minimumWidths.missing.push_back(row.get());
    }
    m_placedUpTo = 0;
    invalidate();
}

QLayoutItem* SummaryRowLayout::itemAt(int index) const
{
    return index >= 0 && size_t(index) < m_rows.size() ? m_rows[size_t(index)]->item : nullptr;
}

QLayoutItem* SummaryRowLayout::takeAt(int index)
{
    if (index < 0 || size_t(index) >= m_rows.size())
        return nullptr;
    Row& row = *m_rows[size_t(index)];
    forget(row, true);
    QWidgetItem* item = row.item;
    if (QWidget* widget = item->widget()) {
        m_byWidget.remove(widget);
        widget->removeEventFilter(this);
    }
    m_rows.erase(m_rows.begin() + index);
    m_placedUpTo = std::min(m_placedUpTo, qsizetype(index));
    invalidate();
    return item;
}

int SummaryRowLayout::count() const
{
    return int(m_rows.size());
}

Qt::Orientations SummaryRowLayout::expandingDirections() const
{
    return Qt::Horizontal;
}

bool SummaryRowLayout::hasHeightForWidth() const
{
    return true;
}

int SummaryRowLayout::rowHeight(Row& row, int width) const
{
    for (const auto& [known, height] : row.heights) {
        if (known == width)
            return height;
    }
    int height = 0;
    if (!row.item->isEmpty())
        height = row.item->hasHeightForWidth() ? row.item->heightForWidth(width) : row.item->sizeHint().height();
    height = std::max(height, 0);
    if (row.heights.size() == kWidthsKept) {
        // A total that counted the height forgotten here could not take it out again later.
        const int evicted = row.heights.front().first;
        m_totals.erase(std::remove_if(m_totals.begin(), m_totals.end(),
                           [&](const Total& total) {
                               return total.width == evicted
                                   && std::find(total.missing.cbegin(), total.missing.cend(), &row)
                                   == total.missing.cend();
                           }),
            m_totals.end());
        row.heights.remove(0);
    }
    row.heights.append({ width, height });
    return height;
}

int SummaryRowLayout::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const int inner = std::max(width - margins.left() - margins.right(), 0);
    auto total
        = std::find_if(m_totals.begin(), m_totals.end(), [&](const Total& known) { return known.width == inner; });
    if (total == m_totals.end()) {
        if (qsizetype(m_totals.size()) == kWidthsKept)
            m_totals.erase(m_totals.begin());
        Total counted { inner, 0, {} };
        counted.missing.reserve(m_rows.size());
        for (const std::unique_ptr<Row>& row : m_rows)
            counted.missing.push_back(row.get());
        m_totals.push_back(std::move(counted));
        total = m_totals.end() - 1;
    }
    // Measuring a row may drop a total of another width, never this one: it is the newest.
    const std::vector<Row*> missing = std::exchange(total->missing, {});
    int height = total->height;
    for (Row* row : missing)
        height += rowHeight(*row, inner);
    total = std::find_if(m_totals.begin(), m_totals.end(), [&](const Total& known) { return known.width == inner; });
    if (total != m_totals.end())
        total->height = height;
    return height + margins.top() + margins.bottom();
}

int SummaryRowLayout::widest(Widths& widths, int Row::*known, QSize (QLayoutItem::*measure)() const) const
{
    if (widths.stale) {
        widths.missing.clear();
        for (const std::unique_ptr<Row>& row : m_rows) {
            if (row.get()->*known < 0)
                widths.missing.push_back(row.get());
        }
        widths.stale = false;
    }
    for (Row* row : std::exchange(widths.missing, {})) {
        row->*known = row->item->isEmpty() ? 0 : (row->item->*measure)().width();
        ++widths.counts[row->*known];
    }
    return widths.counts.empty() ? 0 : widths.counts.rbegin()->first;
}

QSize SummaryRowLayout::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width = widest(m_hintWidths, &Row::hintWidth, &QLayoutItem::sizeHint) + margins.left() + margins.right();
    return { width, heightForWidth(width) };
}

QSize SummaryRowLayout::minimumSize() const
{
    const QMargins margins = contentsMargins();
    // The height follows the width; the layout above asks for it.
    return { widest(m_minimumWidths, &Row::minimumWidth, &QLayoutItem::minimumSize) + margins.left() + margins.right(),
        margins.top() + margins.bottom() };
}

void SummaryRowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    if (inner.topLeft() != m_placed.topLeft() || inner.width() != m_placed.width())
        m_placedUpTo = 0;
    m_placed = inner;
    int top = 0;
    if (m_placedUpTo > 0) {
        Row& last = *m_rows[size_t(m_placedUpTo - 1)];
        top = last.top + rowHeight(last, inner.width());
    }
    for (size_t i = size_t(m_placedUpTo); i < m_rows.size(); ++i) {
        Row& row = *m_rows[i];
        const int height = rowHeight(row, inner.width());
        row.top = top;
        if (!row.item->isEmpty())
            row.item->setGeometry(QRect(inner.left(), inner.top() + top, inner.width(), height));
        top += height;
    }
    m_placedUpTo = qsizetype(m_rows.size());
}

bool SummaryRowLayout::eventFilter(QObject* watched, QEvent* event)
{
    // A row asks to be laid out again when something in it changed size.
    if (event->type() == QEvent::LayoutRequest && watched->isWidgetType())
        rowChanged(static_cast<QWidget*>(watched));
    return QLayout::eventFilter(watched, event);
}
