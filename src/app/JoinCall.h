#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QObject;
class UrlOpener;

// "Join": hands an event's call link to the opener. A call link is any link on a call service's
// host, but only what UrlOpener::mayOpen lets through is handed over, whatever the opener; when
// the link is not handed over, or the desktop cannot open it, `failed` gets a sentence for the
// user saying so, on the main thread and only while `context` lives (the desktop's failure comes
// later). Nothing is reported when the link opened.
void joinCall(UrlOpener& opener, const QUrl& link, QObject* context, std::function<void(const QString&)> failed);
