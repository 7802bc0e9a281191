#pragma once

class QAbstractButton;
class QWidget;

// Buttons that are unavailable while their work runs ("Send link" while the link goes out)
// without throwing the keyboard's focus away. Qt hands the focus of a control it disables to
// the next one, where one more key acts on the wrong control. A button that has the focus when
// it becomes unavailable therefore stays enabled to Qt, looks unavailable and ignores every
// press until it is available again; once the focus leaves it, it is disabled for real.
namespace Availability {

// Use in place of setEnabled() for a button that may be pressed while it becomes unavailable.
void set(QAbstractButton& button, bool available);

// Enabled and not held unavailable: what a button's look follows.
bool isAvailable(const QWidget& widget);

} // namespace Availability
