#pragma once

#include <QString>

class NotificationCenter;

// One immediate notification with a title and a body. A later post with the same id replaces
// one still shown. Returns at once; when no notification service exists (permission denied)
// nothing is shown, and nothing is ever reported.
namespace LocalNotifier {

void post(NotificationCenter& center, const QString& title, const QString& body, const QString& id);

} // namespace LocalNotifier
