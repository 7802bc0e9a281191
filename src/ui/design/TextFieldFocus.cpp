#include "ui/design/TextFieldFocus.h"

#include <QAccessible>
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>

namespace {

bool selectsOnFocus(Qt::FocusReason reason)
{
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

class FocusFirst final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::FocusIn || !QAccessible::isActive())
            return false;
        auto* field = qobject_cast<QLineEdit*>(watched);
        const auto* focusIn = static_cast<QFocusEvent*>(event);
        if (!field || !selectsOnFocus(focusIn->reason()) || !field->inputMask().isEmpty())
            return false;
        // The field takes the focus as from anywhere else, and selects its text as Tab would
        // once the focus has been told.
        QFocusEvent plain(QEvent::FocusIn, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(field, &plain);
        if (!field->text().isEmpty() && !field->hasSelectedText())
            QMetaObject::invokeMethod(
                field,
                [field = QPointer<QLineEdit>(field)] {
                    if (field && field->hasFocus() && !field->hasSelectedText())
                        field->selectAll();
                },
                Qt::QueuedConnection);
        return true;
    }
};

} // namespace

void TextFieldFocus::install()
{
    static const bool installed = [] {
        qApp->installEventFilter(new FocusFirst(qApp));
        return true;
    }();
    Q_UNUSED(installed);
}
