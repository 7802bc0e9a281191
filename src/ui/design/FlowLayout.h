#pragma once

#include <QLayout>
#include <QList>
#include <QPointF>
#include <QSizeF>

// Items side by side, in order, starting a new row when the next one would not fit. Every item
// keeps its ideal size (its size hint); the same spacing separates items in a row and rows.
// One computation, arrange(), gives both the size the layout asks for and where each item goes.
class FlowLayout final : public QLayout
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FlowLayout)

public:
    struct Arrangement
    {
        QSizeF size;
        QList<QPointF> positions; // each item's top-left corner, in item order

        friend bool operator==(const Arrangement&, const Arrangement&) = default;
    };

    // The rows for a width: an item starts a new row only when the row already holds one and
    // the item would end past maxWidth, so an item wider than maxWidth stands alone, unshrunk.
    // The width reported is the widest row's end including the spacing after its last item.
    static Arrangement arrange(qreal maxWidth, const QList<QSizeF>& sizes, qreal spacing);

    explicit FlowLayout(qreal spacing, QWidget* parent = nullptr);
    ~FlowLayout() override;

    qreal flowSpacing() const { return m_spacing; }

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(m_items.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;

    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // The arrangement when the width is left open: every item on a row of its own.
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    QList<QSizeF> itemSizes() const;
    QSize outerSize(const QSizeF& inner) const;

    qreal m_spacing;
    QList<QLayoutItem*> m_items;
};
