#include "support/TestMain.h"
#include "ui/design/FlowLayout.h"

#include <QWidget>

using Arrangement = FlowLayout::Arrangement;

class TestFlowLayout final : public QObject
{
    Q_OBJECT

private slots:
    // Each case is checked twice: the computation itself, then a real layout of fixed-size
    // widgets (its height for the width, its size hint for an open width, and where it puts them).
    void arranges_data()
    {
        QTest::addColumn<qreal>("width");
        QTest::addColumn<QList<QSizeF>>("sizes");
        QTest::addColumn<QList<QPointF>>("positions");
        QTest::addColumn<QSizeF>("size");

        const QSizeF item(40, 20);
        QTest::newRow("three in 100: two fit, the third wraps")
            << 100.0 << QList { item, item, item } << QList<QPointF> { { 0, 0 }, { 46, 0 }, { 0, 26 } }
            << QSizeF(92, 46);
        QTest::newRow("ending exactly at the width stays on the row")
            << 86.0 << QList { item, item } << QList<QPointF> { { 0, 0 }, { 46, 0 } } << QSizeF(92, 20);
        QTest::newRow("wider than the width stands alone, unshrunk")
            << 50.0 << QList<QSizeF> { { 30, 20 }, { 80, 20 }, { 30, 20 } }
            << QList<QPointF> { { 0, 0 }, { 0, 26 }, { 0, 52 } } << QSizeF(86, 72);
        QTest::newRow("the tallest item sets the row's height")
            << 100.0 << QList<QSizeF> { { 30, 10 }, { 30, 24 }, { 30, 10 } }
            << QList<QPointF> { { 0, 0 }, { 36, 0 }, { 0, 30 } } << QSizeF(72, 40);
        QTest::newRow("width unspecified: a row each")
            << 0.0 << QList { item, item, item } << QList<QPointF> { { 0, 0 }, { 0, 26 }, { 0, 52 } } << QSizeF(46, 72);
        QTest::newRow("no items") << 100.0 << QList<QSizeF> {} << QList<QPointF> {} << QSizeF(0, 0);
    }
    void arranges()
    {
        QFETCH(qreal, width);
        QFETCH(QList<QSizeF>, sizes);
        QFETCH(QList<QPointF>, positions);
        QFETCH(QSizeF, size);

        QCOMPARE(FlowLayout::arrange(width, sizes, 6), (Arrangement { size, positions }));

        QWidget holder;
        auto* layout = new FlowLayout(6, &holder);
        QList<QWidget*> items;
        for (const QSizeF& itemSize : sizes) {
            auto* widget = new QWidget(&holder);
            widget->setFixedSize(itemSize.toSize());
            layout->addWidget(widget);
            items.append(widget);
        }
        QCOMPARE(layout->heightForWidth(int(width)), int(size.height()));
        if (width == 0)
            QCOMPARE(layout->sizeHint(), size.toSize());
        layout->setGeometry(QRect(10, 5, int(width), int(size.height())));
        for (qsizetype i = 0; i < items.size(); ++i)
            QCOMPARE(items[i]->geometry(), QRect(QPoint(10, 5) + positions[i].toPoint(), sizes[i].toSize()));
    }
};

QUILLET_WIDGET_TEST_MAIN(TestFlowLayout)
#include "TestFlowLayout.moc"
