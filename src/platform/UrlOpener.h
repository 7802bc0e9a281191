#pragma once

#include <QUrl>

// Opens a web page in the user's browser. The application uses DesktopUrlOpener; tests pass
// a recorder that fetches or keeps the URL instead.
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;

    // False when no browser could be asked to open it.
    virtual bool open(const QUrl& url) = 0;

    // An absolute http(s) address with a host: the only kind of link taken from text the
    // application did not write itself (a model's answer, a server's reply) that may be
    // opened. QUrl calls almost any text valid, and other schemes reach other handlers
    // ("quillet:" signs the user in).
    static bool isWebPage(const QUrl& url)
    {
        const QString scheme = url.scheme().toLower();
        return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
            && !url.host().isEmpty();
    }
};
