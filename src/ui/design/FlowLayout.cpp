#include "ui/design/FlowLayout.h"

#include <QWidget>
#include <cmath>

FlowLayout::Arrangement FlowLayout::arrange(qreal maxWidth, const QList<QSizeF>& sizes, qreal spacing)
{
    Arrangement result;
    result.positions.reserve(sizes.size());
    qreal x = 0;
    qreal y = 0;
    qreal rowHeight = 0;
    qreal widest = 0;
    for (const QSizeF& size : sizes) {
        if (x > 0 && x + size.width() > maxWidth) {
            y += rowHeight + spacing;
            x = 0;
            rowHeight = 0;
        }
        result.positions.append({ x, y });
        rowHeight = std::max(rowHeight, size.height());
        x += size.width() + spacing;
        widest = std::max(widest, x);
    }
    result.size = { widest, y + rowHeight };
    return result;
}

FlowLayout::FlowLayout(qreal spacing, QWidget* parent)
    : QLayout(parent)
    , m_spacing(spacing)
{
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout()
{
    qDeleteAll(m_items);
}

void FlowLayout::addItem(QLayoutItem* item)
{
    m_items.append(item);
    invalidate();
}

QLayoutItem* FlowLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

QList<QSizeF> FlowLayout::itemSizes() const
{
    QList<QSizeF> sizes;
    sizes.reserve(m_items.size());
    for (const QLayoutItem* item : m_items)
        sizes.append(QSizeF(item->sizeHint()));
    return sizes;
}

QSize FlowLayout::outerSize(const QSizeF& inner) const
{
    const QMargins margins = contentsMargins();
    return { int(std::ceil(inner.width())) + margins.left() + margins.right(),
        int(std::ceil(inner.height())) + margins.top() + margins.bottom() };
}

int FlowLayout::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    return outerSize(arrange(width - margins.left() - margins.right(), itemSizes(), m_spacing).size).height();
}

QSize FlowLayout::sizeHint() const
{
    return outerSize(arrange(0, itemSizes(), m_spacing).size);
}

QSize FlowLayout::minimumSize() const
{
    // The width is the holder's to give: rows wrap to fit it, and an item wider than it stands
    // alone and overflows rather than widening the page. The height follows the width.
    return outerSize({});
}

void FlowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QRect inner = contentsRect();
    const QList<QSizeF> sizes = itemSizes();
    const Arrangement arrangement = arrange(inner.width(), sizes, m_spacing);
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        const QPointF at = arrangement.positions.at(i);
        m_items.at(i)->setGeometry(QRect(inner.topLeft() + QPoint(qRound(at.x()), qRound(at.y())),
            QSize(qRound(sizes.at(i).width()), qRound(sizes.at(i).height()))));
    }
}
