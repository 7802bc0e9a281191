#include "ui/design/Availability.h"

#include "ui/design/AccessibleRole.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>

namespace {

const char* const kHeldProperty = "quilletHeldUnavailable";

bool isHeld(const QWidget& widget)
{
    return widget.property(kHeldProperty).toBool();
}

// Keeps a held button from acting, and lets it go once the focus has left it.
class Hold final : public QObject
{
public:
    explicit Hold(QAbstractButton& button)
        : QObject(&button)
        , m_button(button)
    {
        setObjectName(QStringLiteral("quilletAvailabilityHold"));
        // Installed last, it sees every event before the button's other filters do (Enter's).
        button.installEventFilter(this);
    }

    static Hold& of(QAbstractButton& button)
    {
        if (auto* found
            = button.findChild<Hold*>(QStringLiteral("quilletAvailabilityHold"), Qt::FindDirectChildrenOnly))
            return *found;
        return *new Hold(button);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != &m_button || !isHeld(m_button))
            return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            return true;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Select;
        }
        case QEvent::FocusOut: {
            // Another window for a moment (a menu, a dialog) brings the focus back here.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                QTimer::singleShot(0, this, [this] {
                    if (isHeld(m_button) && !m_button.hasFocus()) {
                        m_button.setProperty(kHeldProperty, false);
                        m_button.setEnabled(false);
                    }
                });
            return false;
        }
        default:
            return false;
        }
    }

private:
    QAbstractButton& m_button;
};

const char* const kReadProperty = "quilletAvailabilityRead";

void tellHeldChanged(QAbstractButton& button)
{
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.disabled = true;
    QAccessibleStateChangeEvent event(&button, changed);
    QAccessible::updateAccessibility(&event);
}

} // namespace

void Availability::set(QAbstractButton& button, bool available)
{
    if (!button.property(kReadProperty).toBool()) {
        button.setProperty(kReadProperty, true);
        AccessibleRole::readAvailability(button);
    }
    const bool wasHeld = isHeld(button);
    if (available) {
        button.setProperty(kHeldProperty, false);
        button.setEnabled(true);
        if (wasHeld) {
            button.update();
            tellHeldChanged(button);
        }
        return;
    }
    if (wasHeld || !button.isEnabled())
        return;
    if (!button.hasFocus()) {
        button.setEnabled(false);
        return;
    }
    Hold::of(button);
    button.setProperty(kHeldProperty, true);
    // A press under way ends here, not in a click once the work is done.
    button.setDown(false);
    button.update();
    tellHeldChanged(button);
}

bool Availability::isAvailable(const QWidget& widget)
{
    return widget.isEnabled() && !isHeld(widget);
}
