#include "platform/DesktopUrlOpener.h"

#include <QDesktopServices>
#include <QProcess>

bool DesktopUrlOpener::open(const QUrl& url)
{
    if (!url.isValid())
        return false;
    if (QDesktopServices::openUrl(url))
        return true;
    // xdg-open gives up without a display variable; gio asks the session's handler directly.
    return QProcess::startDetached(QStringLiteral("gio"), { QStringLiteral("open"), url.toString(QUrl::FullyEncoded) });
}
