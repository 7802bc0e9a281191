#include "ui/design/ReadingColumn.h"

#include "ui/design/ScrollIndicator.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QEvent>

namespace {

// A control's part of the column that is revealed with it (an ancestor, so it lives as long).
const char* const kRevealedWith = "quilletRevealedWith";

// What the scroll area resizes to its viewport. It claims no minimum width, so a long unbroken
// word never widens it past the window. Nor, when its content wraps text, a minimum height:
// word-wrapped texts claim one as if squeezed to their narrowest, which would make the column
// scroll when all of it fits; the scroll area asks for the height at the actual width instead.
class Canvas final : public QWidget
{
public:
    using QWidget::QWidget;

    QSize minimumSizeHint() const override
    {
        const QLayout* content = layout();
        if (!content || content->hasHeightForWidth())
            return { 0, 0 };
        return { 0, content->totalMinimumSize().height() };
    }
};

} // namespace

ReadingColumn::ReadingColumn(int maximumWidth, Placement placement, QWidget* parent)
    : QScrollArea(parent)
    , m_canvas(new Canvas(this))
{
    setFrameShape(QFrame::NoFrame);
    // No stop of its own on the way through the page: it would show no focus. Its content's
    // controls are the stops, and each is scrolled into view.
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBar(new ScrollIndicator(Qt::Vertical));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAutoFillBackground(false);

    m_canvas->hide();
    auto* row = new QHBoxLayout(m_canvas);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->setSizeConstraint(QLayout::SetNoConstraint);
    m_column = new QWidget(m_canvas);
    m_column->setMaximumWidth(maximumWidth);
    m_column->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    // The stretches share what is left beside the column: both sides to centre it, the
    // trailing side alone to keep it leading.
    if (placement == Placement::Centred)
        row->addStretch(1);
    row->addWidget(m_column, 1000);
    row->addStretch(1);

    // The scroll area follows Tab only between its own widgets; Tab from the sidebar into the
    // page would otherwise land on a control below the fold.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && m_canvas->isAncestorOf(now) && now->window()->testAttribute(Qt::WA_KeyboardFocusChange))
            reveal(*now);
    });
}

void ReadingColumn::reveal(QWidget& widget)
{
    constexpr int kMargin = 24;
    auto* part = qobject_cast<QWidget*>(widget.property(kRevealedWith).value<QObject*>());
    for (QWidget* up = widget.parentWidget(); up; up = up->parentWidget()) {
        if (auto* column = qobject_cast<ReadingColumn*>(up)) {
            // Before its first show the column holds no widget yet, and nothing scrolls.
            if (!column->widget())
                return;
            if (part && column->isAncestorOf(part))
                column->ensureWidgetVisible(part, kMargin, kMargin);
            column->ensureWidgetVisible(&widget, kMargin, kMargin);
            return;
        }
    }
}

void ReadingColumn::revealWith(QWidget& control, QWidget& part)
{
    Q_ASSERT(part.isAncestorOf(&control));
    control.setProperty(kRevealedWith, QVariant::fromValue(static_cast<QObject*>(&part)));
}

bool ReadingColumn::event(QEvent* event)
{
    // The scroll area measures its widget once, when it is given it: that is done when the
    // page is first shown, with its content built.
    if (event->type() == QEvent::Polish && !widget()) {
        setWidget(m_canvas);
        // setWidget() makes the canvas fill its background; the page behind is to show through.
        m_canvas->setAutoFillBackground(false);
        m_canvas->installEventFilter(this);
    }
    return QScrollArea::event(event);
}

bool ReadingColumn::eventFilter(QObject* watched, QEvent* event)
{
    // The canvas claims no minimum of its own, so content that grows or shrinks later changes
    // no size the scroll area would notice: it is asked to measure again.
    if (watched == m_canvas && event->type() == QEvent::LayoutRequest)
        QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
    return QScrollArea::eventFilter(watched, event);
}
