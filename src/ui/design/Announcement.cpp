#include "ui/design/Announcement.h"

#include "ui/design/AccessibleRole.h"

#include <QLabel>

void Announcement::marks(QLabel& label, QAccessible::Role role)
{
    AccessibleRole::set(label, role);
}

void Announcement::setText(QLabel& label, const QString& text)
{
    if (label.text() == text)
        return;
    label.setText(text);
    if (!text.isEmpty())
        announce(label);
}

void Announcement::announce(QWidget& source)
{
    QAccessibleEvent event(&source, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
}
