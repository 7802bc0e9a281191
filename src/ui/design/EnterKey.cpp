#include "ui/design/EnterKey.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace {

class EnterPresses final : public QObject
{
public:
    explicit EnterPresses(QAbstractButton& button)
        : QObject(&button)
        , m_button(button)
    {
        button.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != &m_button || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        // The button may close the window it is in: nothing of it is touched afterwards.
        if (!key->isAutoRepeat())
            m_button.click();
        return true;
    }

private:
    QAbstractButton& m_button;
};

} // namespace

namespace EnterKey {

void pressesButton(QAbstractButton& button)
{
    new EnterPresses(button);
}

} // namespace EnterKey
