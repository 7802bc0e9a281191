#pragma once

class QAbstractButton;

// The buttons Quillet paints itself answer Enter and Return as well as Space: someone who
// reaches "Get started" with Tab presses Enter, as on any push button.
namespace EnterKey {

// From now on Enter and Return (on the keypad too) click the button while it has the focus;
// holding the key down clicks once.
void pressesButton(QAbstractButton& button);

} // namespace EnterKey
