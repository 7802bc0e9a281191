#pragma once

class QAbstractButton;

// A focused button answers Enter and Return as well as Space: someone who reaches "Get started"
// with Tab presses Enter. Qt's own buttons do so only as a dialog's default; the buttons Quillet
// paints never do by themselves.
namespace EnterKey {

// From now on Enter and Return (on the keypad too) click the button while it has the focus;
// holding the key down clicks once.
void pressesButton(QAbstractButton& button);

} // namespace EnterKey
