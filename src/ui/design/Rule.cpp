#include "ui/design/Rule.h"

#include "ui/design/Quillet.h"

#include <QPainter>

QColor Rule::separator(const QPalette& palette)
{
    return Quillet::withOpacity(Quillet::primary(palette), 0.1);
}

QColor Rule::faintSeparator(const QPalette& palette)
{
    return Quillet::withOpacity(Quillet::primary(palette), 0.1 * 0.6);
}

QColor Rule::rowSeparator(const QPalette& palette)
{
    return Quillet::withOpacity(Quillet::primary(palette), 0.1 * 0.5);
}

Rule::Rule(Tint tint, QWidget* parent)
    : QWidget(parent)
    , m_tint(tint)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

Rule* Rule::betweenRows(QWidget* parent)
{
    auto* rule = new Rule(&rowSeparator, parent);
    rule->setLeadingInset(kRowInset);
    return rule;
}

void Rule::setLeadingInset(int inset)
{
    m_leadingInset = inset;
    updateGeometry();
    update();
}

QSize Rule::sizeHint() const
{
    return { m_leadingInset + 1, 1 };
}

void Rule::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int length = width() - m_leadingInset;
    const QRect line(layoutDirection() == Qt::LeftToRight ? m_leadingInset : 0, 0, length, 1);
    painter.fillRect(line, m_tint(palette()));
}
