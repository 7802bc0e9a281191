#include "ui/design/SettingsDivider.h"

#include "ui/design/Quillet.h"

#include <QPainter>

SettingsDivider::SettingsDivider(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize SettingsDivider::sizeHint() const
{
    return { kLeadingInset + 1, 1 };
}

void SettingsDivider::paintEvent(QPaintEvent*)
{
    // A separator line is window text at 10 %; between rows it is drawn at half that.
    QPainter painter(this);
    const QRect line(layoutDirection() == Qt::LeftToRight ? kLeadingInset : 0, 0, width() - kLeadingInset, 1);
    painter.fillRect(line, Quillet::withOpacity(Quillet::primary(palette()), 0.1 * 0.5));
}
