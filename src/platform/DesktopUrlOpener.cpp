#include "platform/DesktopUrlOpener.h"

#include "platform/Log.h"

#include <QDesktopServices>
#include <QProcess>

bool DesktopUrlOpener::open(const QUrl& url)
{
    if (!url.isValid())
        return false;
    // QUrl keeps schemes in lower case. The rest of the link may hold a token: only the scheme
    // is logged.
    if (url.scheme() == QLatin1String("quillet")) {
        Log::line("[Quillet] Refused to open a link of the scheme %@", url.scheme());
        return false;
    }
    if (QDesktopServices::openUrl(url))
        return true;
    // xdg-open gives up without a display variable; gio asks the session's handler directly.
    return QProcess::startDetached(QStringLiteral("gio"), { QStringLiteral("open"), url.toString(QUrl::FullyEncoded) });
}
