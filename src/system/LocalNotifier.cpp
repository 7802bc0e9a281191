#include "system/LocalNotifier.h"

#include "platform/NotificationCenter.h"

#include <QPointer>

namespace LocalNotifier {

void post(NotificationCenter& center, const QString& title, const QString& body, const QString& id)
{
    QPointer<NotificationCenter> guarded(&center);
    center.requestAuthorization([guarded, title, body, id](bool granted) {
        if (!granted || !guarded)
            return;
        NotificationRequest request;
        request.identifier = id;
        request.title = title;
        request.body = body;
        guarded->add(request);
    });
}

} // namespace LocalNotifier
